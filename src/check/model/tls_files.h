// How the checker speaks of each TLS file the launcher stages (kTlsFiles,
// staging/gates.h): its name in findings, and the code a run is reported
// under that needs the file and finds none.
#pragma once

#include <cstddef>

#include "check/model/codes.h"
#include "staging/gates.h"

namespace quorbix {

struct TlsFileWords {
    const char* name;  // "CA certificate"
    Code missing;      // the gate's code: "tls-no-ca"
};

// In TlsFile order.
inline constexpr TlsFileWords kTlsFileWords[] = {
    {"CA certificate", Code::kTlsNoCa},              // TlsFile::kCa
    {"client certificate", Code::kTlsNoClientCert},  // TlsFile::kLocalCert
    {"client key", Code::kTlsNoClientKey},           // TlsFile::kLocalKey
};
static_assert(std::size(kTlsFileWords) == std::size(kTlsFiles));

// The words for `file`.
constexpr const TlsFileWords& tls_file_words(TlsFile file) {
    return kTlsFileWords[static_cast<std::size_t>(file)];
}

}  // namespace quorbix
