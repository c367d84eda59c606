#include "check/rules/fields.h"

#include <algorithm>
#include <iterator>

#include "check/model/tls_files.h"

namespace quorbix {

const std::vector<FieldInfo>& field_table() {
    static const std::vector<FieldInfo> table = [] {
        std::vector<FieldInfo> t;
        GatewaySettings names;
        settings_for_each_field(names, [&t](FieldKind kind, const char* key, auto&) {
            t.push_back(FieldInfo{key, kind.scanner, kind.role});
        });
        return t;
    }();
    return table;
}

std::size_t field_index(std::string_view key) {
    return static_cast<std::size_t>(settings_key_position(key));
}

const TlsFileRow* tls_file_of(FieldRole role) {
    const auto* row = std::find_if(std::begin(kTlsFiles), std::end(kTlsFiles),
                                   [role](const TlsFileRow& r) { return r.role == role; });
    return row != std::end(kTlsFiles) ? row : nullptr;
}

bool is_base64(FieldRole role) {
    return role == FieldRole::kCsv || role == FieldRole::kScript || tls_file_of(role) != nullptr;
}

std::string_view staged_name(FieldRole role) {
    if (const TlsFileRow* tls = tls_file_of(role)) {
        return tls_file_words(tls->file).name;
    }
    return role == FieldRole::kScript ? "script" : "CSV configuration";
}

}  // namespace quorbix
