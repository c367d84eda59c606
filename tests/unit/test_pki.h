// Keys and certificates made by a test at run time with OpenSSL's own API,
// so that no fixed certificate file ever expires: each is valid from a day
// before to ten years after the time the test names.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

namespace quorbix::test {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

// A new RSA key of `bits`.
inline Pkey rsa_key(std::size_t bits) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", bits));
    EXPECT_NE(key, nullptr) << "RSA " << bits;
    return key;
}

// A new EC key on `curve`.
inline Pkey ec_key(const char* curve) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve));
    EXPECT_NE(key, nullptr) << curve;
    return key;
}

// What a certificate says and who signs it.
struct CertPlan {
    const char* cn = "client";
    EVP_PKEY* key = nullptr;          // the key it certifies
    const X509* issuer = nullptr;     // null: self-signed
    EVP_PKEY* issuer_key = nullptr;   // the key that signs it; `key` when self-signed
    const EVP_MD* md = EVP_sha256();  // the signature's digest
    const char* basic = nullptr;      // basicConstraints, as the openssl command writes it
    const char* eku = nullptr;        // extendedKeyUsage
    const char* key_usage = nullptr;  // keyUsage
    std::time_t around = 0;           // valid from a day before to ten years after
};

// Adds one extension, written as the openssl command's configuration writes it.
inline void add_extension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
    ASSERT_NE(ext, nullptr) << value;
    EXPECT_EQ(X509_add_ext(cert, ext, -1), 1);
    X509_EXTENSION_free(ext);
}

// Makes the certificate that plan describes.
inline Cert make_cert(const CertPlan& plan) {
    static long serial = 1;
    Cert cert(X509_new());
    X509* x = cert.get();
    EXPECT_EQ(X509_set_version(x, X509_VERSION_3), 1);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_time_adj_ex(X509_getm_notBefore(x), -1, 0, const_cast<std::time_t*>(&plan.around));
    X509_time_adj_ex(X509_getm_notAfter(x), 3650, 0, const_cast<std::time_t*>(&plan.around));
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(plan.cn), -1, -1, 0);
    EXPECT_EQ(
        X509_set_issuer_name(x, plan.issuer != nullptr ? X509_get_subject_name(plan.issuer) : name),
        1);
    EXPECT_EQ(X509_set_pubkey(x, plan.key), 1);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, plan.issuer != nullptr ? const_cast<X509*>(plan.issuer) : x, x, nullptr,
                   nullptr, 0);
    if (plan.basic != nullptr) {
        add_extension(x, &ctx, NID_basic_constraints, plan.basic);
    }
    if (plan.eku != nullptr) {
        add_extension(x, &ctx, NID_ext_key_usage, plan.eku);
    }
    if (plan.key_usage != nullptr) {
        add_extension(x, &ctx, NID_key_usage, plan.key_usage);
    }
    EVP_PKEY* signer = plan.issuer_key != nullptr ? plan.issuer_key : plan.key;
    EXPECT_GT(X509_sign(x, signer, plan.md), 0) << plan.cn;
    return cert;
}

// Returns what a memory BIO holds.
inline std::string bio_bytes(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

// The PEM text of cert.
inline std::string pem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    EXPECT_EQ(PEM_write_bio_X509(bio, cert), 1);
    std::string out = bio_bytes(bio);
    BIO_free(bio);
    return out;
}

// The unencrypted PKCS#8 PEM text of key.
inline std::string pem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    EXPECT_EQ(PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr), 1);
    std::string out = bio_bytes(bio);
    BIO_free(bio);
    return out;
}

// The DER bytes of cert.
inline std::string der(X509* cert) {
    unsigned char* out = nullptr;
    const int n = i2d_X509(cert, &out);
    std::string bytes = n > 0
                            ? std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(n))
                            : std::string();
    OPENSSL_free(out);
    return bytes;
}

// The DER bytes of key, PKCS#8.
inline std::string der(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    EXPECT_EQ(i2d_PKCS8PrivateKey_bio(bio, key, nullptr, nullptr, 0, nullptr, nullptr), 1);
    std::string out = bio_bytes(bio);
    BIO_free(bio);
    return out;
}

// Standard Base64 of bytes on one line, by OpenSSL's encoder.
inline std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

}  // namespace quorbix::test
