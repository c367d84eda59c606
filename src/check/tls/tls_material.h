// What is wrong with the CA certificate, client certificate and client key
// that the launcher would stage: their form, whether they parse, their dates,
// an encrypted key, a key that does not belong to the certificate, and what
// a TLS stack at Debian's default security level refuses in them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "check/model/finding.h"
#include "staging/gates.h"

namespace quorbix {

// The TLS files the launcher would stage, as their decoded bytes; an empty
// view means the file is not staged.
struct TlsMaterial {
    std::string_view ca;
    std::string_view local_cert;
    std::string_view local_key;
};

// One finding about one of the files; finding.line and finding.column are 0,
// the caller places the finding at the setting that carries the file. Where
// the file's bytes are known as they should be staged instead (the PEM form
// of a DER file, a chain put in order), `instead` holds them, and `certain`
// says that they are what was meant: finding.remedy then says what they are.
struct TlsProblem {
    TlsFile file = TlsFile::kCa;
    Finding finding;
    std::string instead;
    bool certain = false;
};

// Returns everything wrong with the material at time `now`, in the order CA,
// client certificate, client key; never prompts, prints nothing and leaves
// the OpenSSL error queue empty.
std::vector<TlsProblem> check_tls_material(const TlsMaterial& m, std::time_t now);

}  // namespace quorbix
