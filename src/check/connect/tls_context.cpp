// The client context of the TLS stage, from the staged files in memory.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>

#include "check/connect/tls_link.h"

namespace quorbix {

namespace {

using BioHandle = std::unique_ptr<BIO, TlsFree<&BIO_free>>;
using X509Handle = std::unique_ptr<X509, TlsFree<&X509_free>>;
using PkeyHandle = std::unique_ptr<EVP_PKEY, TlsFree<&EVP_PKEY_free>>;

// Frees a stack of X509_INFO with its members.
struct InfoStackFree {
    void operator()(STACK_OF(X509_INFO) * infos) const {
        sk_X509_INFO_pop_free(infos, X509_INFO_free);
    }
};
using InfoStackHandle = std::unique_ptr<STACK_OF(X509_INFO), InfoStackFree>;

// Refuses every passphrase request: an encrypted file never prompts.
int refuse_passphrase(char* /*buf*/, int /*size*/, int /*rwflag*/, void* /*userdata*/) {
    return 0;
}

// Returns the reason of the earliest queued OpenSSL error and empties the queue.
std::string first_error(const char* fallback) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    return reason != nullptr ? reason : fallback;
}

// A memory BIO over bytes, which must outlive it.
BioHandle memory_bio(const std::string& bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return nullptr;
    }
    return BioHandle(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

// Whether bytes are not PEM but begin as DER does (an ASN.1 SEQUENCE).
bool looks_like_der(const std::string& bytes) {
    return !bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30 &&
           bytes.find("-----BEGIN ") == std::string::npos;
}

// Records that a staged file kept the context from being made.
TlsSetup failed(TlsSetup setup, ConnectFile file, const std::string& bytes, std::string reason) {
    setup.ctx.reset();
    setup.failed_file = file;
    setup.failed_der = looks_like_der(bytes);
    setup.reason = std::move(reason);
    return setup;
}

// Adds every certificate and CRL of a PEM text to the context's trust
// store, as the PEM file loader of SSL_CTX_load_verify_locations does;
// returns OpenSSL's reason when it finds none or the text is damaged.
std::string load_ca(SSL_CTX* ctx, const std::string& pem) {
    const BioHandle bio = memory_bio(pem);
    if (bio == nullptr) {
        return first_error("the CA file is too large");
    }
    // The file loader's empty passphrase: an encrypted block never prompts.
    char no_passphrase[] = "";
    const InfoStackHandle infos(
        PEM_X509_INFO_read_bio_ex(bio.get(), nullptr, nullptr, no_passphrase, nullptr, nullptr));
    if (infos == nullptr) {
        return first_error("the CA file cannot be read");
    }
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    int count = 0;
    for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
        const X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
        if (info->x509 != nullptr) {
            if (X509_STORE_add_cert(store, info->x509) != 1) {
                return first_error("a CA certificate cannot be added");
            }
            ++count;
        }
        if (info->crl != nullptr) {
            if (X509_STORE_add_crl(store, info->crl) != 1) {
                return first_error("a CRL cannot be added");
            }
            ++count;
        }
    }
    ERR_clear_error();
    return count == 0 ? "no certificate or crl found" : "";
}

// Sets the client certificate and its chain from a PEM text, leaf first, as
// SSL_CTX_use_certificate_chain_file does; returns OpenSSL's reason when it
// cannot.
std::string load_certificate_chain(SSL_CTX* ctx, const std::string& pem) {
    const BioHandle bio = memory_bio(pem);
    if (bio == nullptr) {
        return first_error("the certificate file is too large");
    }
    ERR_clear_error();
    const X509Handle leaf(PEM_read_bio_X509_AUX(bio.get(), nullptr, refuse_passphrase, nullptr));
    if (leaf == nullptr) {
        return first_error("no certificate found");
    }
    if (SSL_CTX_use_certificate(ctx, leaf.get()) != 1 || ERR_peek_error() != 0) {
        return first_error("the certificate cannot be used");
    }
    if (SSL_CTX_clear_chain_certs(ctx) != 1) {
        return first_error("the chain cannot be cleared");
    }
    for (;;) {
        X509Handle next(PEM_read_bio_X509(bio.get(), nullptr, refuse_passphrase, nullptr));
        if (next == nullptr) {
            break;
        }
        if (SSL_CTX_add0_chain_cert(ctx, next.get()) != 1) {
            return first_error("a chain certificate cannot be used");
        }
        static_cast<void>(next.release());  // the context owns it now
    }
    // The loop ends at the end of the text, or at a damaged block.
    const unsigned long e = ERR_peek_last_error();
    if (ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE) {
        ERR_clear_error();
        return {};
    }
    return first_error("a chain certificate cannot be read");
}

// Sets the client key from a PEM text, as SSL_CTX_use_PrivateKey_file with
// PEM does, and checks it against the certificate; returns OpenSSL's reason
// when it cannot.
std::string load_key(SSL_CTX* ctx, const std::string& pem) {
    const BioHandle bio = memory_bio(pem);
    if (bio == nullptr) {
        return first_error("the key file is too large");
    }
    ERR_clear_error();
    const PkeyHandle key(PEM_read_bio_PrivateKey_ex(bio.get(), nullptr, refuse_passphrase, nullptr,
                                                    nullptr, nullptr));
    if (key == nullptr) {
        return first_error("no private key found");
    }
    if (SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        return first_error("the key does not match the certificate");
    }
    return {};
}

}  // namespace

TlsSetup tls_setup(const ConnectRequest& request) {
    TlsSetup setup;
    ERR_clear_error();
    setup.ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (setup.ctx == nullptr) {
        return failed(std::move(setup), ConnectFile::kNone, {}, first_error("no TLS context"));
    }
    SSL_CTX* ctx = setup.ctx.get();
    // The daemon's client has no passphrase either.
    SSL_CTX_set_default_passwd_cb(ctx, refuse_passphrase);
    if (request.ca.empty()) {
        setup.default_trust_store = true;
        if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
            return failed(std::move(setup), ConnectFile::kCa, {}, first_error("no trust store"));
        }
    } else if (std::string reason = load_ca(ctx, request.ca); !reason.empty()) {
        return failed(std::move(setup), ConnectFile::kCa, request.ca, std::move(reason));
    }
    if (request.tls_mode == 2) {
        if (request.cert.empty()) {
            return failed(std::move(setup), ConnectFile::kCert, {},
                          "no client certificate is staged");
        }
        if (std::string reason = load_certificate_chain(ctx, request.cert); !reason.empty()) {
            return failed(std::move(setup), ConnectFile::kCert, request.cert, std::move(reason));
        }
        if (request.key.empty()) {
            return failed(std::move(setup), ConnectFile::kKey, {}, "no client key is staged");
        }
        if (std::string reason = load_key(ctx, request.key); !reason.empty()) {
            return failed(std::move(setup), ConnectFile::kKey, request.key, std::move(reason));
        }
    }
    ERR_clear_error();
    return setup;
}

bool looks_like_tls_record(std::string_view bytes) {
    constexpr unsigned char kAlert = 0x15;
    constexpr unsigned char kHandshake = 0x16;
    if (bytes.size() < 2) {
        return false;
    }
    const auto type = static_cast<unsigned char>(bytes[0]);
    return (type == kAlert || type == kHandshake) && static_cast<unsigned char>(bytes[1]) == 0x03;
}

std::string tls_alert_name(int alert) {
    // OpenSSL 3.0 has no name for TLS 1.3's certificate_required.
    constexpr int kCertificateRequired = 116;
    if (alert == kCertificateRequired) {
        return "certificate required";
    }
    const std::string name = SSL_alert_desc_string_long(alert);
    return name == "unknown" ? "alert " + std::to_string(alert) : name;
}

}  // namespace quorbix
