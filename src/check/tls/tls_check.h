// What the TLS material rules share while they check one set of files: the
// clock, the problems found so far, and each certificate file as read.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "check/model/codes.h"
#include "check/tls/tls_material.h"
#include "check/tls/tls_openssl.h"
#include "staging/gates.h"

namespace quorbix {

// The state of one check: the clock and the problems found so far.
struct TlsCheck {
    std::time_t now = 0;
    AsnTimePtr now_time;   // now
    AsnTimePtr soon_time;  // now plus the days of tls-certificate-expires-soon
    std::vector<TlsProblem> problems;
};

// A certificate file as the checks read it: each certificate in order (null
// where one does not parse) and, for PEM text read to its end, where each
// block ends and which block holds each certificate.
struct CertificateFile {
    TlsFile file = TlsFile::kCa;
    std::string_view text;
    bool pem_whole = false;                // PEM text, every block read
    std::vector<X509Ptr> certs;            // in the file's order
    std::vector<std::size_t> block_ends;   // past each PEM block's END line
    std::vector<std::size_t> cert_blocks;  // the PEM block of each of certs
};

// Records one problem with file and returns it, for a remedy.
TlsProblem& add_problem(TlsCheck& check, TlsFile file, Code code, std::string message,
                        std::string launcher_does);

// Names certificate `index` (1-based) of `count` in file, with its subject when known.
std::string certificate_name(TlsFile file, std::size_t index, std::size_t count, const X509* cert);

}  // namespace quorbix
