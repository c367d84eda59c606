#include "check/tls/tls_refusals.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "check/model/codes.h"
#include "check/model/tls_files.h"

namespace quorbix {

namespace {

// The bits of security that OpenSSL's security level 2, Debian's default,
// asks of every key and of every signature it checks.
constexpr int kLevel2Bits = 112;

// How the daemon's TLS library meets a key or a signature under kLevel2Bits.
constexpr const char* kLevel2Refuses = "At security level 2, Debian's default, OpenSSL refuses ";

// Reports `key`, named by `holder`, when it is under security level 2.
void check_key_strength(TlsCheck& check, TlsFile file, const std::string& holder,
                        const EVP_PKEY* key) {
    const int bits = EVP_PKEY_get_security_bits(key);
    ERR_clear_error();
    if (bits <= 0 || bits >= kLevel2Bits) {
        return;
    }
    add_problem(check, file, Code::kTlsWeakKey,
                holder + " is " + key_text(key) + ": " + std::to_string(bits) +
                    " bits of security, where security level 2 asks for " +
                    std::to_string(kLevel2Bits),
                std::string(kLevel2Refuses) +
                    "a key this weak, so TLS connections that need it "
                    "will fail.");
}

// Reports the named certificate when its signature is under security level
// 2, unless it is self-signed: OpenSSL never checks a trust anchor's own
// signature, nor that of a self-signed certificate it is given to present.
void check_signature(TlsCheck& check, TlsFile file, const std::string& name, X509* cert) {
    int digest = NID_undef;
    int bits = -1;
    const bool known = X509_get_signature_info(cert, &digest, nullptr, &bits, nullptr) == 1;
    ERR_clear_error();
    if (!known || bits < 0 || bits >= kLevel2Bits || is_self_signed(cert)) {
        return;
    }
    const char* digest_name = OBJ_nid2sn(digest);
    const char* algorithm = OBJ_nid2ln(X509_get_signature_nid(cert));
    add_problem(check, file, Code::kTlsWeakSignature,
                name + " is signed with " + (digest_name != nullptr ? digest_name : "a digest") +
                    (algorithm != nullptr ? std::string(" (") + algorithm + ")" : std::string()) +
                    ", which security level 2 refuses",
                std::string(kLevel2Refuses) +
                    "a signature this weak below a trust anchor, so TLS "
                    "connections that need this certificate will fail.");
}

// Reports a CA file none of whose certificates OpenSSL can take as a trust
// anchor: none may sign, and none is self-signed.
void check_anchor(TlsCheck& check, const CertificateFile& ca) {
    std::size_t parsed = 0;
    for (const X509Ptr& cert : ca.certs) {
        if (cert == nullptr) {
            continue;
        }
        if (is_ca_certificate(cert.get()) || is_self_signed(cert.get())) {
            return;
        }
        ++parsed;
    }
    if (parsed == 0) {
        return;
    }
    const bool one = ca.certs.size() == 1;
    add_problem(check, TlsFile::kCa, Code::kTlsCaNotCa,
                one ? certificate_name(TlsFile::kCa, 1, 1, ca.certs.front().get()) +
                          " may not sign certificates: it has no CA basic constraint and is not "
                          "self-signed"
                    : "none of the " + std::to_string(ca.certs.size()) +
                          " certificates in the CA certificate file may sign certificates: none "
                          "has a CA basic constraint or is self-signed",
                std::string("OpenSSL can verify no broker certificate against ") +
                    (one ? "it" : "them") + ", so TLS connections will fail verification.");
}

// Reports a client certificate that OpenSSL refuses for a TLS client, by the
// extension that refuses it.
void check_client_purpose(TlsCheck& check, const std::string& name, X509* leaf) {
    const int purpose = X509_check_purpose(leaf, X509_PURPOSE_SSL_CLIENT, 0);
    ERR_clear_error();
    if (purpose != 0) {
        return;
    }
    const std::uint32_t flags = X509_get_extension_flags(leaf);
    std::string why;
    if ((flags & EXFLAG_XKUSAGE) != 0 &&
        (X509_get_extended_key_usage(leaf) & XKU_SSL_CLIENT) == 0) {
        const std::string usages = extended_key_usage_text(leaf);
        why = "its extended key usage " +
              (usages.empty() ? std::string("leaves out") : "is " + usages + ", without") +
              " TLS Web Client Authentication";
    } else if ((flags & EXFLAG_KUSAGE) != 0) {
        why = "its key usage allows neither digital signature nor key agreement";
    } else {
        why = "its Netscape certificate type leaves out SSL clients";
    }
    add_problem(check, TlsFile::kLocalCert, Code::kTlsClientPurpose,
                name + " is not for TLS clients: " + why,
                "The daemon presents it, and a broker that verifies client certificates as "
                "OpenSSL does refuses it, so TLS connections that need it will fail.");
}

// Reports a client certificate whose issuer is in neither file the daemon has.
void check_client_issuer(TlsCheck& check, const std::string& name, X509* leaf,
                         const CertificateFile& ca, const CertificateFile& local) {
    if (is_self_signed(leaf)) {
        return;
    }
    const auto issues = [leaf](const X509Ptr& cert) {
        return cert != nullptr && cert.get() != leaf &&
               X509_check_issued(cert.get(), leaf) == X509_V_OK;
    };
    const bool known = std::any_of(ca.certs.begin(), ca.certs.end(), issues) ||
                       std::any_of(local.certs.begin(), local.certs.end(), issues);
    ERR_clear_error();
    if (known) {
        return;
    }
    const std::string issuer = issuer_text(leaf);
    add_problem(check, TlsFile::kLocalCert, Code::kTlsClientIssuerUnknown,
                name + " is issued by " + (issuer.empty() ? std::string("a CA") : issuer) +
                    ", which is in neither the CA certificate file nor the client certificate "
                    "file",
                "The broker must hold that issuer itself to accept the certificate; only "
                "--connect can tell whether it does.");
}

// Where the client key's certificate stands in the client certificate file.
struct KeyPlace {
    std::size_t index = 0;  // the first certificate the key belongs to; certs.size() for none
    bool differs = false;   // it belongs to none, and each certificate could be compared
};

KeyPlace find_key_certificate(const CertificateFile& local, const EVP_PKEY* key) {
    KeyPlace place{local.certs.size(), false};
    if (key == nullptr) {
        return place;
    }
    bool compared = false;
    bool unknown = false;
    for (std::size_t i = 0; i < local.certs.size(); ++i) {
        const X509* cert = local.certs[i].get();
        if (cert == nullptr) {
            continue;
        }
        const EVP_PKEY* certified = X509_get0_pubkey(cert);
        // 1: the same key; 0 or -1: a different key or type; -2: cannot be compared.
        const int same = certified != nullptr ? EVP_PKEY_eq(certified, key) : -2;
        if (same == 1) {
            place.index = i;
            break;
        }
        compared = true;
        unknown = unknown || same == -2;
    }
    ERR_clear_error();
    place.differs = place.index == local.certs.size() && compared && !unknown;
    return place;
}

// The client certificate file's PEM text with certificate `at` first and
// every other block after it in its order, each block with the text before
// it; empty unless that text reads back with the key's certificate first.
std::string leaf_first(const CertificateFile& local, std::size_t at, const EVP_PKEY* key) {
    const std::vector<std::size_t>& ends = local.block_ends;
    if (!local.pem_whole || at >= local.cert_blocks.size()) {
        return {};
    }
    const auto block = [&](std::size_t b) {
        const std::size_t begin = b == 0 ? 0 : ends[b - 1];
        return local.text.substr(begin, ends[b] - begin);
    };
    const std::size_t moved = local.cert_blocks[at];
    std::string out(block(moved));
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    for (std::size_t b = 0; b < ends.size(); ++b) {
        if (b != moved) {
            out += block(b);
        }
    }
    out += local.text.substr(ends.back());
    const PemScan scan = read_pem_blocks(out);
    if (!scan.damage.empty() || scan.blocks.size() != ends.size() ||
        !is_certificate_block(scan.blocks.front().name)) {
        return {};
    }
    const PemBlock& first = scan.blocks.front();
    const X509Ptr cert =
        parse_certificate(first.der.get(), first.size, first.name == "TRUSTED CERTIFICATE");
    const EVP_PKEY* certified = cert != nullptr ? X509_get0_pubkey(cert.get()) : nullptr;
    const bool same = certified != nullptr && EVP_PKEY_eq(certified, key) == 1;
    ERR_clear_error();
    return same ? out : std::string();
}

// Reports a key that belongs to no certificate of the client certificate
// file, or to one that is not the file's first.
void check_pairing(TlsCheck& check, const CertificateFile& local, const EVP_PKEY* key,
                   const KeyPlace& place) {
    const std::size_t count = local.certs.size();
    if (place.differs) {
        add_problem(
            check, TlsFile::kLocalKey, Code::kTlsKeyMismatch,
            "the client key does not belong to " +
                (count == 1 ? certificate_name(TlsFile::kLocalCert, 1, 1, local.certs.front().get())
                            : "any of the " + std::to_string(count) +
                                  " certificates in the client certificate file"),
            "The daemon will fail to pair the key with the certificate and will not set "
            "up TLS.");
        return;
    }
    if (place.index == 0 || place.index >= count) {
        return;
    }
    const std::string first =
        local.certs.front() != nullptr ? subject_text(local.certs.front().get()) : std::string();
    TlsProblem& p = add_problem(
        check, TlsFile::kLocalCert, Code::kTlsChainOrder,
        "the client key belongs to " +
            certificate_name(TlsFile::kLocalCert, place.index + 1, count,
                             local.certs[place.index].get()) +
            ", not to the file's first certificate" +
            (first.empty() ? std::string() : " (" + first + ")"),
        "The daemon's TLS library takes the file's first certificate as the client certificate "
        "and refuses the key for it, so it will not set up TLS.");
    p.finding.remedy = "put certificate " + std::to_string(place.index + 1) +
                       " first and the others after it in their order";
    p.instead = leaf_first(local, place.index, key);
    p.certain = !p.instead.empty();
}

}  // namespace

void report_der(TlsCheck& check, TlsFile file, std::string pem) {
    TlsProblem& p = add_problem(
        check, file, Code::kTlsDer,
        std::string("the ") + tls_file_words(file).name + " is DER data, not PEM text",
        "The launcher stages the bytes as they are, and OpenSSL-based MQTT clients load "
        "certificate and key files as PEM, so a daemon that does will fail to load it.");
    if (!pem.empty()) {
        p.finding.remedy = "write the Base64 of its PEM form instead";
        p.instead = std::move(pem);
    } else if (file == TlsFile::kLocalKey) {
        p.finding.remedy =
            "write the Base64 of its PEM form instead: openssl pkey -inform DER -in local.key | "
            "base64 -w0";
    }
}

void check_refusals(TlsCheck& check, const CertificateFile& ca, const CertificateFile& local,
                    const EVP_PKEY* key) {
    check_anchor(check, ca);
    for (const CertificateFile* file : {&ca, &local}) {
        const std::size_t count = file->certs.size();
        for (std::size_t i = 0; i < count; ++i) {
            X509* cert = file->certs[i].get();
            if (cert == nullptr) {
                continue;
            }
            const std::string name = certificate_name(file->file, i + 1, count, cert);
            const EVP_PKEY* certified = X509_get0_pubkey(cert);
            // The client key's own strength is said once, at the key.
            const bool own = file == &local && key != nullptr && certified != nullptr &&
                             EVP_PKEY_eq(certified, key) == 1;
            ERR_clear_error();
            if (certified != nullptr && !own) {
                check_key_strength(check, file->file, "the key of " + name, certified);
            }
            check_signature(check, file->file, name, cert);
        }
    }
    const KeyPlace place = find_key_certificate(local, key);
    check_pairing(check, local, key, place);
    const std::size_t at = place.index < local.certs.size() ? place.index : 0;
    X509* leaf = at < local.certs.size() ? local.certs[at].get() : nullptr;
    if (leaf != nullptr) {
        const std::string name =
            certificate_name(TlsFile::kLocalCert, at + 1, local.certs.size(), leaf);
        check_client_purpose(check, name, leaf);
        check_client_issuer(check, name, leaf, ca, local);
    }
    if (key != nullptr) {
        check_key_strength(check, TlsFile::kLocalKey, "the client key", key);
    }
}

}  // namespace quorbix
