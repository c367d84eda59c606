// Checks of the TLS files the settings would stage.
#pragma once

#include <ctime>
#include <string_view>
#include <vector>

#include "check/finding.h"

namespace quorbix {

// The TLS files the launcher would stage, as their decoded bytes; an empty
// view means the file is not staged.
struct TlsMaterial {
    std::string_view ca;
    std::string_view client_cert;
    std::string_view client_key;
};

enum class TlsFile { kCa, kClientCert, kClientKey };

// One problem of one file; finding.line and column are left 0 for the caller.
struct TlsProblem {
    TlsFile file = TlsFile::kCa;
    Finding finding;
};

// Everything wrong with the material at time `now`, in the order CA, client
// certificate, client key.
std::vector<TlsProblem> check_tls_material(const TlsMaterial& m, std::time_t now);

}  // namespace quorbix
