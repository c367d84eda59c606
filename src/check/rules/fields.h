// The record's fields as the checks see them: key, scanner and what the
// field means where a check depends on it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/gateway_settings.h"
#include "staging/gates.h"

namespace quorbix {

struct FieldInfo {
    std::string key;
    Scanner scanner = Scanner::kText;
    FieldRole role = FieldRole::kPlain;
};

// Every field of the record in record order, with its key and role.
const std::vector<FieldInfo>& field_table();

// The position of the field whose key is `key`, which must be a key of the
// record.
std::size_t field_index(std::string_view key);

// True for a field that carries a file as Base64 text.
bool is_base64(FieldRole role);

// The TLS file (kTlsFiles) that a field of `role` carries, or null for none.
const TlsFileRow* tls_file_of(FieldRole role);

// The file a Base64 field stages, in words: "CA certificate" and the like.
std::string_view staged_name(FieldRole role);

}  // namespace quorbix
