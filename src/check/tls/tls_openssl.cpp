#include "check/tls/tls_openssl.h"

#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace quorbix {

namespace {

// Refuses every passphrase request, so that no key decoder ever prompts.
int refuse_passphrase(char* /*pass*/, std::size_t /*pass_size*/, std::size_t* /*pass_len*/,
                      const OSSL_PARAM /*params*/[], void* /*arg*/) {
    return 0;
}

// Returns name with bytes outside printable ASCII replaced, at most 40 bytes.
std::string printable(std::string_view name) {
    std::string out(name.substr(0, 40));
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c < 0x20 || c > 0x7e; }, '?');
    return out;
}

// Returns what bio holds as text.
std::string bio_text(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 && data != nullptr ? std::string(data, static_cast<std::size_t>(n))
                                    : std::string();
}

// Returns name in RFC 2253 form, non-ASCII bytes escaped, at most 120 bytes.
std::string name_text(const X509_NAME* name) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (bio == nullptr || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return {};
    }
    char buf[121];
    const int n = BIO_read(bio.get(), buf, static_cast<int>(sizeof buf) - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// Formats a broken-down UTC time as "YYYY-MM-DD HH:MM:SS UTC".
std::string utc_text(const std::tm& tm) {
    char buf[40];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return std::string(buf, n);
}

}  // namespace

// Returns OpenSSL's reason for error code e ("unknown error" when it has none).
std::string reason_text(unsigned long e) {
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    return reason != nullptr ? reason : "unknown error";
}

// Returns the reason of the earliest queued OpenSSL error and empties the queue.
std::string take_first_error() {
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    return reason_text(first);
}

// Returns the bytes of text as OpenSSL's unsigned input pointer.
const unsigned char* bytes_of(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// Whether text is exactly one ASN.1 SEQUENCE in definite-length form, the
// outer shape of every DER certificate and key.
bool is_der_sequence(std::string_view text) {
    const unsigned char* p = bytes_of(text);
    if (text.size() < 2 || p[0] != 0x30) {
        return false;
    }
    std::size_t header = 2;
    std::size_t length = p[1];
    if (length >= 0x80) {
        const std::size_t count = length & 0x7fU;
        if (count == 0 || count > 4 || text.size() < 2 + count) {
            return false;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8U) | p[2 + i];
        }
        header += count;
    }
    return length == text.size() - header;
}

// Whether text holds PEM armour.
bool has_pem_armour(std::string_view text) {
    return text.find("-----BEGIN ") != std::string_view::npos;
}

// Returns the first bytes of text in hex, for a message about unknown data.
std::string leading_bytes(std::string_view text) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < 4; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (i != 0) {
            out += ' ';
        }
        out += kDigits[byte >> 4U];
        out += kDigits[byte & 0x0fU];
    }
    return out;
}

// Reads every PEM block of text, in order, up to the first damaged one.
PemScan read_pem_blocks(std::string_view text) {
    PemScan scan;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        scan.damage = "too large";
        return scan;
    }
    const BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (bio == nullptr) {
        scan.damage = take_first_error();
        return scan;
    }
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (PEM_read_bio_ex(bio.get(), &name, &header, &data, &length, PEM_FLAG_EAY_COMPATIBLE) !=
            1) {
            const unsigned long e = ERR_peek_last_error();
            const bool at_end =
                ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE;
            if (!at_end) {
                scan.damage = reason_text(e);
            } else if (scan.blocks.empty()) {
                scan.damage = "no line starts with \"-----BEGIN \"";
            }
            ERR_clear_error();
            return scan;
        }
        const OsslText owned_name(name);
        const OsslText owned_header(header);
        PemBlock block;
        block.size = static_cast<std::size_t>(length);
        block.der = OsslBytes(data, OsslClearFree{block.size});
        block.name = printable(name != nullptr ? name : "");
        block.encrypted = header != nullptr &&
                          std::string_view(header).find("ENCRYPTED") != std::string_view::npos;
        block.end = text.size() - BIO_ctrl_pending(bio.get());
        scan.blocks.push_back(std::move(block));
    }
}

// Whether a PEM block of this type name holds a certificate.
bool is_certificate_block(const std::string& name) {
    return name == "CERTIFICATE" || name == "X509 CERTIFICATE" || name == "TRUSTED CERTIFICATE";
}

// Whether a PEM block of this type name holds a private key, encrypted or not.
bool is_private_key_block(const std::string& name) {
    constexpr std::string_view kSuffix = "PRIVATE KEY";
    return name.size() >= kSuffix.size() &&
           std::string_view(name).substr(name.size() - kSuffix.size()) == kSuffix;
}

// Parses DER bytes as a certificate (with the trust settings of a TRUSTED
// CERTIFICATE block when trusted); null when they do not parse.
X509Ptr parse_certificate(const unsigned char* der, std::size_t size, bool trusted) {
    if (size > static_cast<std::size_t>(LONG_MAX)) {
        return nullptr;
    }
    const unsigned char* p = der;
    const long length = static_cast<long>(size);
    return X509Ptr(trusted ? d2i_X509_AUX(nullptr, &p, length) : d2i_X509(nullptr, &p, length));
}

// Decodes DER bytes as an unencrypted private key of any type; null when
// they are not one (an encrypted key is refused without a prompt).
EvpPkeyPtr parse_private_key(const unsigned char* der, std::size_t size) {
    EVP_PKEY* raw = nullptr;
    const DecoderCtxPtr decoder(OSSL_DECODER_CTX_new_for_pkey(&raw, "DER", nullptr, nullptr,
                                                              EVP_PKEY_KEYPAIR, nullptr, nullptr));
    if (decoder == nullptr ||
        OSSL_DECODER_CTX_set_passphrase_cb(decoder.get(), refuse_passphrase, nullptr) != 1) {
        return nullptr;
    }
    const unsigned char* p = der;
    std::size_t left = size;
    const int decoded = OSSL_DECODER_from_data(decoder.get(), &p, &left);
    EvpPkeyPtr key(raw);
    return decoded == 1 ? std::move(key) : nullptr;
}

// Whether DER bytes are exactly one PKCS#8 EncryptedPrivateKeyInfo.
bool is_encrypted_pkcs8(const unsigned char* der, std::size_t size) {
    if (size > static_cast<std::size_t>(LONG_MAX)) {
        return false;
    }
    const unsigned char* p = der;
    const X509SigPtr sig(d2i_X509_SIG(nullptr, &p, static_cast<long>(size)));
    return sig != nullptr && p == der + size;
}

// Returns the subject of cert in RFC 2253 form, non-ASCII bytes escaped, at most 120 bytes.
std::string subject_text(const X509* cert) {
    return name_text(X509_get_subject_name(cert));
}

// Returns the issuer of cert as subject_text gives a subject.
std::string issuer_text(const X509* cert) {
    return name_text(X509_get_issuer_name(cert));
}

// Formats an ASN.1 time as UTC text.
std::string utc_text(const ASN1_TIME* t) {
    std::tm tm{};
    return ASN1_TIME_to_tm(t, &tm) == 1 ? utc_text(tm) : std::string("an unreadable date");
}

// Formats a time_t as UTC text.
std::string utc_text(std::time_t t) {
    std::tm tm{};
    return ::gmtime_r(&t, &tm) != nullptr ? utc_text(tm) : std::string("an unreadable date");
}

// True when cert may sign others: a CA by its extensions, or an old
// self-signed certificate without any.
bool is_ca_certificate(X509* cert) {
    const bool ca = X509_check_ca(cert) != 0;
    ERR_clear_error();
    return ca;
}

// True when cert is self-signed by its names and key identifiers (its
// signature is not checked, as OpenSSL never checks a trust anchor's own).
bool is_self_signed(X509* cert) {
    const bool self = X509_self_signed(cert, 0) == 1;
    ERR_clear_error();
    return self;
}

// Returns the PEM text of cert, empty when it cannot be written.
std::string certificate_pem(X509* cert) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    const bool written = bio != nullptr && PEM_write_bio_X509(bio.get(), cert) == 1;
    ERR_clear_error();
    return written ? bio_text(bio.get()) : std::string();
}

// Returns the names of the extended key usages of cert, joined by commas.
std::string extended_key_usage_text(X509* cert) {
    using UsagesPtr = std::unique_ptr<EXTENDED_KEY_USAGE, OsslDeleter<&EXTENDED_KEY_USAGE_free>>;
    const UsagesPtr usages(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)));
    std::string out;
    const int count = usages != nullptr ? sk_ASN1_OBJECT_num(usages.get()) : 0;
    for (int i = 0; i < count && i < 8; ++i) {
        char buf[41];
        const int n = OBJ_obj2txt(buf, sizeof buf, sk_ASN1_OBJECT_value(usages.get(), i), 0);
        if (n > 0) {
            out += (out.empty() ? "" : ", ") +
                   printable(std::string_view(buf, std::min(std::size_t{40}, std::size_t(n))));
        }
    }
    ERR_clear_error();
    return out;
}

// Describes key by its size, type and curve: "a 1024-bit RSA key".
std::string key_text(const EVP_PKEY* key) {
    const char* type = EVP_PKEY_get0_type_name(key);
    std::string text = "a " + std::to_string(EVP_PKEY_get_bits(key)) + "-bit " +
                       (type != nullptr ? printable(type) + " " : std::string()) + "key";
    char group[41];
    std::size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       &length) == 1) {
        text += " (" + printable(std::string_view(group, std::min(length, std::size_t{40}))) + ")";
    }
    ERR_clear_error();
    return text;
}

}  // namespace quorbix
