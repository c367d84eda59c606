// What a TLS stack refuses in the files that their form and dates do not
// show: a DER file where PEM is loaded, a CA file that anchors nothing, a
// client certificate not for clients or whose issuer is nowhere to be seen,
// keys and signatures under Debian's default security level, and a client
// certificate file whose first certificate is not the key's.
#pragma once

#include <string>

#include "check/tls/tls_check.h"
#include "check/tls/tls_openssl.h"
#include "staging/gates.h"

namespace quorbix {

// Reports file as DER data that parses, with `pem`, its PEM form, to stage
// instead (no remedy when pem is empty).
void report_der(TlsCheck& check, TlsFile file, std::string pem);

// Reports what a TLS stack at security level 2 refuses in the CA file, the
// client certificate file and the client key (null when it is not usable),
// and a key that belongs to no certificate of the client certificate file.
void check_refusals(TlsCheck& check, const CertificateFile& ca, const CertificateFile& local,
                    const EVP_PKEY* key);

}  // namespace quorbix
