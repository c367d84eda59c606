#include "check/tls/tls_material.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/model/codes.h"
#include "check/model/tls_files.h"
#include "check/tls/tls_check.h"
#include "check/tls/tls_openssl.h"
#include "check/tls/tls_refusals.h"

namespace quorbix {

TlsProblem& add_problem(TlsCheck& check, TlsFile file, Code code, std::string message,
                        std::string launcher_does) {
    TlsProblem problem;
    problem.file = file;
    problem.finding.code = code;
    problem.finding.message = std::move(message);
    problem.finding.launcher_does = std::move(launcher_does);
    check.problems.push_back(std::move(problem));
    return check.problems.back();
}

std::string certificate_name(TlsFile file, std::size_t index, std::size_t count, const X509* cert) {
    std::string name = count == 1 ? std::string("the ") + tls_file_words(file).name
                                  : "certificate " + std::to_string(index) + " of " +
                                        std::to_string(count) + " in the " +
                                        tls_file_words(file).name + " file";
    const std::string subject = cert != nullptr ? subject_text(cert) : std::string();
    if (!subject.empty()) {
        name += " (" + subject + ")";
    }
    return name;
}

namespace {

constexpr int kExpirySoonDays = 30;

// Reports a certificate of file that is not valid at the check's time or
// soon will not be.
void check_dates(TlsCheck& check, TlsFile file, const std::string& name, const X509* cert) {
    if (check.now_time == nullptr || check.soon_time == nullptr) {
        return;
    }
    const ASN1_TIME* not_before = X509_get0_notBefore(cert);
    const ASN1_TIME* not_after = X509_get0_notAfter(cert);
    const int started = ASN1_TIME_compare(not_before, check.now_time.get());
    const int ended = ASN1_TIME_compare(not_after, check.now_time.get());
    ERR_clear_error();
    const std::string at = " (checked at " + utc_text(check.now) + ")";
    if (started == -2 || ended == -2) {
        add_problem(
            check, file, Code::kTlsCertificateUnparsable,
            name + " has validity dates that cannot be read",
            "The daemon will fail to load this certificate, so TLS connections that need it "
            "will fail.");
    } else if (started > 0) {
        add_problem(check, file, Code::kTlsCertificateNotYetValid,
                    name + " is not valid before " + utc_text(not_before) + at,
                    "The daemon will load it, but TLS connections that rely on it will fail "
                    "verification until that date.");
    } else if (ended <= 0) {
        add_problem(check, file, Code::kTlsCertificateExpired,
                    name + " expired on " + utc_text(not_after) + at,
                    "The daemon will load it, but TLS connections that rely on it will fail "
                    "verification until it is replaced.");
    } else if (ASN1_TIME_compare(not_after, check.soon_time.get()) <= 0) {
        int days = 0;
        int seconds = 0;
        const bool known = ASN1_TIME_diff(&days, &seconds, check.now_time.get(), not_after) == 1;
        ERR_clear_error();
        const std::string when = !known      ? "soon"
                                 : days == 0 ? "within a day"
                                 : days == 1 ? "in 1 day"
                                             : "in " + std::to_string(days) + " days";
        add_problem(
            check, file, Code::kTlsCertificateExpiresSoon,
            name + " expires " + when + ", on " + utc_text(not_after),
            "The daemon will use it until then; after that, TLS connections that rely on it "
            "will fail verification.");
    }
}

// Joins the distinct names of blocks, for a message about what a file holds.
std::string block_names(const std::vector<PemBlock>& blocks) {
    std::string out;
    for (const PemBlock& block : blocks) {
        const std::string quoted = "\"" + block.name + "\"";
        if (out.find(quoted) == std::string::npos) {
            out += (out.empty() ? "" : ", ") + quoted;
        }
    }
    return out;
}

// Reports data that is neither PEM nor DER.
void report_not_pem_or_der(TlsCheck& check, TlsFile file, std::string_view data) {
    add_problem(check, file, Code::kTlsNotPemOrDer,
                std::string("the ") + tls_file_words(file).name +
                    " is neither PEM text nor DER data (its first bytes are " +
                    leading_bytes(data) + ")",
                "The launcher stages these bytes unchanged and the daemon will fail to load them.");
}

// Reports PEM text that cannot be read to its end; harmless when the
// daemon already has what it needs from the blocks before the damage.
void report_pem_damage(TlsCheck& check, TlsFile file, const PemScan& scan, bool harmless) {
    const std::string where = scan.blocks.empty() ? " has no readable PEM block"
                                                  : " cannot be read past PEM block " +
                                                        std::to_string(scan.blocks.size());
    add_problem(
        check, file, harmless ? Code::kTlsPemDamagedAfterKey : Code::kTlsPemDamaged,
        std::string("the ") + tls_file_words(file).name + where + " (OpenSSL: " + scan.damage + ")",
        harmless ? "The daemon uses the key before the damaged block and ignores the rest."
                 : "The daemon's TLS library rejects a PEM file that cannot be read to its end, "
                   "so the file will not be used.");
}

// Reports the named certificate as not parsing, with OpenSSL's reason.
void report_certificate_unparsable(TlsCheck& check, TlsFile file, const std::string& name,
                                   const std::string& reason) {
    add_problem(
        check, file, Code::kTlsCertificateUnparsable,
        name + " does not parse as an X.509 certificate (OpenSSL: " + reason + ")",
        "The daemon will fail to load this certificate, so TLS connections that need it will "
        "fail.");
}

// Reports a certificate file that holds a private key and no certificate.
void report_key_in_certificate_slot(TlsCheck& check, TlsFile file) {
    add_problem(
        check, file, Code::kTlsKeyInCertificateSlot,
        std::string("the ") + tls_file_words(file).name +
            " holds a private key and no certificate; were the certificate and key swapped?",
        "The daemon finds no certificate in the file and will fail to set up TLS.");
}

// Checks a certificate file of DER data, and keeps its certificate when it parses.
void check_der_certificate_file(TlsCheck& check, CertificateFile& file) {
    const std::string_view data = file.text;
    X509Ptr cert = parse_certificate(bytes_of(data), data.size(), false);
    if (cert == nullptr) {
        const std::string reason = take_first_error();
        const bool is_key = parse_private_key(bytes_of(data), data.size()) != nullptr ||
                            is_encrypted_pkcs8(bytes_of(data), data.size());
        ERR_clear_error();
        if (is_key) {
            report_key_in_certificate_slot(check, file.file);
        } else {
            report_certificate_unparsable(check, file.file,
                                          certificate_name(file.file, 1, 1, nullptr), reason);
        }
        return;
    }
    check_dates(check, file.file, certificate_name(file.file, 1, 1, cert.get()), cert.get());
    report_der(check, file.file, certificate_pem(cert.get()));
    file.certs.push_back(std::move(cert));
}

// True for a CA certificate valid at the check's time.
bool is_valid_ca(const TlsCheck& check, X509* cert) {
    if (cert == nullptr || check.now_time == nullptr) {
        return false;
    }
    const int started = ASN1_TIME_compare(X509_get0_notBefore(cert), check.now_time.get());
    const int ended = ASN1_TIME_compare(X509_get0_notAfter(cert), check.now_time.get());
    ERR_clear_error();
    return (started == -1 || started == 0) && ended == 1 && is_ca_certificate(cert);
}

// A member of a CA bundle that verifies nothing, while `valid` names a
// member that is a valid CA.
void report_bundle_member(TlsCheck& check, const std::string& name, X509* cert,
                          const std::string& valid) {
    const std::string only_connect = "; only --connect can tell whether that CA is the broker's.";
    if (!is_ca_certificate(cert)) {
        add_problem(check, TlsFile::kCa, Code::kTlsBundleLeaf,
                    name + " is a leaf certificate, not a CA",
                    "The daemon loads it with the bundle's other members, and " + valid +
                        " is a valid CA" + only_connect);
        return;
    }
    const bool ended = ASN1_TIME_compare(X509_get0_notAfter(cert), check.now_time.get()) <= 0;
    ERR_clear_error();
    add_problem(check, TlsFile::kCa, Code::kTlsBundleMemberExpired,
                name +
                    (ended ? " expired on " + utc_text(X509_get0_notAfter(cert))
                           : " is not valid before " + utc_text(X509_get0_notBefore(cert))) +
                    " (checked at " + utc_text(check.now) + ")",
                "The daemon verifies with the bundle's other members, and " + valid +
                    " is a valid CA" + only_connect);
}

// Checks each certificate of a PEM file and keeps them in file.certs; a CA
// bundle with a valid CA has its other members of no use, not fatal. A
// self-signed member is not one of those: OpenSSL takes it as a trust anchor.
void check_pem_certificates(TlsCheck& check, CertificateFile& file,
                            const std::vector<const PemBlock*>& blocks) {
    std::vector<X509Ptr>& certs = file.certs;
    std::vector<std::string> errors;
    std::size_t valid_ca = blocks.size();
    for (const PemBlock* block : blocks) {
        certs.push_back(
            parse_certificate(block->der.get(), block->size, block->name == "TRUSTED CERTIFICATE"));
        errors.push_back(certs.back() == nullptr ? take_first_error() : std::string());
        if (valid_ca == blocks.size() && is_valid_ca(check, certs.back().get())) {
            valid_ca = certs.size() - 1;
        }
    }
    const bool bundle = file.file == TlsFile::kCa && certs.size() > 1 && valid_ca < certs.size();
    std::string valid;  // "certificate 1 (CN=Root CA)"
    if (bundle) {
        const std::string subject = subject_text(certs[valid_ca].get());
        valid = "certificate " + std::to_string(valid_ca + 1) +
                (subject.empty() ? std::string() : " (" + subject + ")");
    }
    for (std::size_t i = 0; i < certs.size(); ++i) {
        const std::string name = certificate_name(file.file, i + 1, certs.size(), certs[i].get());
        X509* cert = certs[i].get();
        if (cert == nullptr) {
            report_certificate_unparsable(check, file.file, name, errors[i]);
        } else if (bundle && !is_valid_ca(check, cert) &&
                   (is_ca_certificate(cert) || !is_self_signed(cert))) {
            report_bundle_member(check, name, cert, valid);
        } else {
            check_dates(check, file.file, name, cert);
        }
    }
}

// Checks a certificate file (the CA file or the client certificate with its
// chain) in PEM or DER, and keeps what it holds in file.
void check_certificate_file(TlsCheck& check, CertificateFile& file) {
    const std::string_view data = file.text;
    if (is_der_sequence(data)) {
        check_der_certificate_file(check, file);
        return;
    }
    if (!has_pem_armour(data)) {
        report_not_pem_or_der(check, file.file, data);
        return;
    }
    const PemScan scan = read_pem_blocks(data);
    std::vector<const PemBlock*> cert_blocks;
    bool has_key = false;
    for (const PemBlock& block : scan.blocks) {
        if (is_certificate_block(block.name)) {
            file.cert_blocks.push_back(file.block_ends.size());
            cert_blocks.push_back(&block);
        } else if (is_private_key_block(block.name)) {
            has_key = true;
        }
        file.block_ends.push_back(block.end);
    }
    file.pem_whole = scan.damage.empty();
    check_pem_certificates(check, file, cert_blocks);
    const char* name = tls_file_words(file.file).name;
    if (!scan.damage.empty()) {
        report_pem_damage(check, file.file, scan, false);
    } else if (cert_blocks.empty() && has_key) {
        report_key_in_certificate_slot(check, file.file);
    } else if (cert_blocks.empty()) {
        add_problem(
            check, file.file, Code::kTlsNoCertificate,
            std::string("the ") + name + " holds no certificate, only " + block_names(scan.blocks),
            "The daemon finds no certificate in the file and will fail to set up TLS.");
    }
    if (!cert_blocks.empty() && has_key) {
        add_problem(check, file.file, Code::kTlsPrivateKeyExposed,
                    std::string("the ") + name + " file also holds a private key",
                    "The launcher stages the file readable by every user of the device (only the "
                    "client key is made private), and the daemon ignores the key in it.");
    }
}

// Reports a client key that needs a passphrase.
void report_key_encrypted(TlsCheck& check) {
    add_problem(
        check, TlsFile::kLocalKey, Code::kTlsKeyEncrypted,
        "the client key is encrypted with a passphrase",
        "The daemon is given no passphrase, so it cannot load the key and will fail to set up "
        "TLS.");
}

// Reports a client key that does not parse, with OpenSSL's reason.
void report_key_unparsable(TlsCheck& check, const std::string& reason) {
    add_problem(check, TlsFile::kLocalKey, Code::kTlsKeyUnparsable,
                "the client key does not parse as a private key (OpenSSL: " + reason + ")",
                "The daemon will fail to load the key and will fail to set up TLS.");
}

// Reports a client key file that holds a certificate and no private key.
void report_certificate_in_key_slot(TlsCheck& check) {
    add_problem(
        check, TlsFile::kLocalKey, Code::kTlsCertificateInKeySlot,
        "the client key holds a certificate and no private key; were the certificate and key "
        "swapped?",
        "The daemon finds no private key in the file and will fail to set up TLS.");
}

// Checks the client key file in PEM or DER; returns the key when it is
// usable (the first private key of a PEM file, as the daemon reads it).
EvpPkeyPtr check_key_file(TlsCheck& check, std::string_view data) {
    if (is_der_sequence(data)) {
        EvpPkeyPtr key = parse_private_key(bytes_of(data), data.size());
        const std::string reason = key == nullptr ? take_first_error() : std::string();
        if (key != nullptr) {
            // The key's PEM form is not printed: a report often ends up in a
            // CI log that others read. The help names the conversion instead.
            report_der(check, TlsFile::kLocalKey, std::string());
            return key;
        }
        if (is_encrypted_pkcs8(bytes_of(data), data.size())) {
            report_key_encrypted(check);
        } else if (parse_certificate(bytes_of(data), data.size(), false) != nullptr) {
            report_certificate_in_key_slot(check);
        } else {
            report_key_unparsable(check, reason);
        }
        ERR_clear_error();
        return nullptr;
    }
    if (!has_pem_armour(data)) {
        report_not_pem_or_der(check, TlsFile::kLocalKey, data);
        return nullptr;
    }
    const PemScan scan = read_pem_blocks(data);
    const PemBlock* key_block = nullptr;
    bool has_certificate = false;
    for (const PemBlock& block : scan.blocks) {
        if (key_block == nullptr && is_private_key_block(block.name)) {
            key_block = &block;
        }
        has_certificate = has_certificate || is_certificate_block(block.name);
    }
    EvpPkeyPtr key;
    if (key_block != nullptr &&
        (key_block->encrypted || key_block->name == "ENCRYPTED PRIVATE KEY")) {
        report_key_encrypted(check);
    } else if (key_block != nullptr) {
        key = parse_private_key(key_block->der.get(), key_block->size);
        if (key == nullptr && key_block->name == "OPENSSH PRIVATE KEY") {
            ERR_clear_error();
            add_problem(check, TlsFile::kLocalKey, Code::kTlsKeyUnparsable,
                        "the client key is an OpenSSH private key, which only ssh reads",
                        "The daemon will fail to load the key and will fail to set up TLS.")
                .finding.remedy =
                "convert a copy of the key to PEM with ssh-keygen -p -m PEM -f KEYFILE, and encode "
                "that";
        } else if (key == nullptr) {
            report_key_unparsable(check, take_first_error());
        }
    }
    if (!scan.damage.empty()) {
        report_pem_damage(check, TlsFile::kLocalKey, scan, key_block != nullptr);
    } else if (key_block == nullptr && has_certificate) {
        report_certificate_in_key_slot(check);
    } else if (key_block == nullptr) {
        add_problem(check, TlsFile::kLocalKey, Code::kTlsNoPrivateKey,
                    "the client key holds no private key, only " + block_names(scan.blocks),
                    "The daemon finds no private key in the file and will fail to set up TLS.");
    }
    return key;
}

}  // namespace

std::vector<TlsProblem> check_tls_material(const TlsMaterial& m, std::time_t now) {
    const ErrorQueueClearer clearer;
    TlsCheck check;
    check.now = now;
    check.now_time = AsnTimePtr(ASN1_TIME_set(nullptr, now));
    check.soon_time = AsnTimePtr(ASN1_TIME_adj(nullptr, now, kExpirySoonDays, 0));
    CertificateFile ca;
    ca.file = TlsFile::kCa;
    ca.text = m.ca;
    if (!m.ca.empty()) {
        check_certificate_file(check, ca);
    }
    CertificateFile local;
    local.file = TlsFile::kLocalCert;
    local.text = m.local_cert;
    if (!m.local_cert.empty()) {
        check_certificate_file(check, local);
    }
    EvpPkeyPtr key;
    if (!m.local_key.empty()) {
        key = check_key_file(check, m.local_key);
    }
    check_refusals(check, ca, local, key.get());
    // The refusals of each file after its own problems, the files in their order.
    std::stable_sort(check.problems.begin(), check.problems.end(),
                     [](const TlsProblem& a, const TlsProblem& b) { return a.file < b.file; });
    return std::move(check.problems);
}

}  // namespace quorbix
