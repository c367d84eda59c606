// The thin layer over OpenSSL that the TLS material checks stand on: owning
// handles, the error queue, PEM and DER reading, and texts of certificates.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorbix {

// Frees an OpenSSL object through its own free function.
template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};

// Frees memory that OpenSSL allocated.
struct OsslFree {
    void operator()(void* p) const { OPENSSL_free(p); }
};

// Wipes and frees memory that OpenSSL allocated for bytes that may be key material.
struct OsslClearFree {
    std::size_t size = 0;
    void operator()(unsigned char* p) const { OPENSSL_clear_free(p, size); }
};

using AsnTimePtr = std::unique_ptr<ASN1_TIME, OsslDeleter<&ASN1_TIME_free>>;
using BioPtr = std::unique_ptr<BIO, OsslDeleter<&BIO_free>>;
using DecoderCtxPtr = std::unique_ptr<OSSL_DECODER_CTX, OsslDeleter<&OSSL_DECODER_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<&EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<&X509_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OsslDeleter<&X509_SIG_free>>;
using OsslText = std::unique_ptr<char, OsslFree>;
using OsslBytes = std::unique_ptr<unsigned char, OsslClearFree>;

// Empties the thread's OpenSSL error queue when the check ends, however it ends.
struct ErrorQueueClearer {
    ErrorQueueClearer() { ERR_clear_error(); }
    ErrorQueueClearer(const ErrorQueueClearer&) = delete;
    ErrorQueueClearer& operator=(const ErrorQueueClearer&) = delete;
    ~ErrorQueueClearer() { ERR_clear_error(); }
};

// One PEM block: its type name, whether its headers mark it encrypted, its
// DER bytes, and where it ends in the text (past its END line).
struct PemBlock {
    std::string name;
    bool encrypted = false;
    OsslBytes der;
    std::size_t size = 0;
    std::size_t end = 0;
};

// The blocks of a PEM text; damage is OpenSSL's reason when reading stopped
// before the end of the text, empty otherwise.
struct PemScan {
    std::vector<PemBlock> blocks;
    std::string damage;
};

// Returns OpenSSL's reason for error code e ("unknown error" when it has none).
std::string reason_text(unsigned long e);

// Returns the reason of the earliest queued OpenSSL error and empties the queue.
std::string take_first_error();

// Returns the bytes of text as OpenSSL's unsigned input pointer.
const unsigned char* bytes_of(std::string_view text);

// Whether text is exactly one ASN.1 SEQUENCE in definite-length form, the
// outer shape of every DER certificate and key.
bool is_der_sequence(std::string_view text);

// Whether text holds PEM armour.
bool has_pem_armour(std::string_view text);

// Returns the first bytes of text in hex, for a message about unknown data.
std::string leading_bytes(std::string_view text);

// Reads every PEM block of text, in order, up to the first damaged one.
PemScan read_pem_blocks(std::string_view text);

// Whether a PEM block of this type name holds a certificate.
bool is_certificate_block(const std::string& name);

// Whether a PEM block of this type name holds a private key, encrypted or not.
bool is_private_key_block(const std::string& name);

// Parses DER bytes as a certificate (with the trust settings of a TRUSTED
// CERTIFICATE block when trusted); null when they do not parse.
X509Ptr parse_certificate(const unsigned char* der, std::size_t size, bool trusted);

// True when cert may sign others: a CA by its extensions, or an old
// self-signed certificate without any.
bool is_ca_certificate(X509* cert);

// True when cert is self-signed by its names and key identifiers (its
// signature is not checked, as OpenSSL never checks a trust anchor's own).
bool is_self_signed(X509* cert);

// Returns the PEM text of cert, empty when it cannot be written.
std::string certificate_pem(X509* cert);

// Returns the names of the extended key usages of cert, joined by commas.
std::string extended_key_usage_text(X509* cert);

// Describes key by its size, type and curve: "a 1024-bit RSA key".
std::string key_text(const EVP_PKEY* key);

// Decodes DER bytes as an unencrypted private key of any type; null when
// they are not one (an encrypted key is refused without a prompt).
EvpPkeyPtr parse_private_key(const unsigned char* der, std::size_t size);

// Whether DER bytes are exactly one PKCS#8 EncryptedPrivateKeyInfo.
bool is_encrypted_pkcs8(const unsigned char* der, std::size_t size);

// Returns the subject of cert in RFC 2253 form, non-ASCII bytes escaped, at most 120 bytes.
std::string subject_text(const X509* cert);

// Returns the issuer of cert as subject_text gives a subject.
std::string issuer_text(const X509* cert);

// Formats an ASN.1 time as UTC text.
std::string utc_text(const ASN1_TIME* t);

// Formats a time_t as UTC text.
std::string utc_text(std::time_t t);

}  // namespace quorbix
