// What a TLS stack at Debian's default security level refuses, said from the
// staged files alone, over keys and certificates the test makes; and the
// certain fix of a chain out of order, applied and checked again.
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <algorithm>
#include <ctime>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "check/model/codes.h"
#include "check/report/diff.h"
#include "check/rules/analyse.h"
#include "check/tls/tls_material.h"
#include "test_pki.h"

namespace quorbix {
namespace {

using test::make_cert;
using test::pem;

// A CA and the client certificate it signs, with their keys.
struct Chain {
    std::time_t now = std::time(nullptr);
    test::Pkey ca_key = test::ec_key("P-256");
    test::Pkey leaf_key = test::ec_key("P-256");
    test::Cert root = make_cert({"Test CA", ca_key.get(), nullptr, nullptr, EVP_sha256(),
                                 "critical,CA:TRUE", nullptr, nullptr, now});
    test::Cert leaf = make_cert({"client", leaf_key.get(), root.get(), ca_key.get(), EVP_sha256(),
                                 "CA:FALSE", "clientAuth", nullptr, now});
};

// Every key and certificate the table's rows draw on.
struct Pki : Chain {
    test::Pkey other_key = test::ec_key("P-256");
    test::Pkey rsa1024 = test::rsa_key(1024);
    test::Pkey rsa2048 = test::rsa_key(2048);
    test::Pkey ec192 = test::ec_key("secp192k1");
    test::Cert other_root, rsa_root, weak_root, sha1_root, pinned;
    test::Cert server, server_only, no_signing, stranger;
    test::Cert sha1_leaf, md5_leaf, rsa1024_leaf, rsa2048_leaf, ec192_leaf, sha1_self;

    Pki() {
        const char* ca = "critical,CA:TRUE";
        const char* end = "CA:FALSE";
        other_root = make_cert({"Other CA", other_key.get(), nullptr, nullptr, EVP_sha256(), ca,
                                nullptr, nullptr, now});
        rsa_root = make_cert(
            {"RSA CA", rsa2048.get(), nullptr, nullptr, EVP_sha256(), ca, nullptr, nullptr, now});
        weak_root = make_cert(
            {"Weak CA", rsa1024.get(), nullptr, nullptr, EVP_sha256(), ca, nullptr, nullptr, now});
        sha1_root = make_cert(
            {"SHA-1 CA", ca_key.get(), nullptr, nullptr, EVP_sha1(), ca, nullptr, nullptr, now});
        pinned = make_cert({"broker.example", other_key.get(), nullptr, nullptr, EVP_sha256(), end,
                            nullptr, nullptr, now});
        server = issued("broker.example", other_key.get(), EVP_sha256(), "serverAuth");
        server_only = issued("client", leaf_key.get(), EVP_sha256(), "serverAuth");
        no_signing = make_cert({"client", leaf_key.get(), root.get(), ca_key.get(), EVP_sha256(),
                                end, nullptr, "keyEncipherment", now});
        stranger = make_cert({"client", leaf_key.get(), other_root.get(), other_key.get(),
                              EVP_sha256(), end, nullptr, nullptr, now});
        sha1_leaf = issued("client", leaf_key.get(), EVP_sha1(), nullptr);
        md5_leaf = make_cert({"client", leaf_key.get(), rsa_root.get(), rsa2048.get(), EVP_md5(),
                              end, nullptr, nullptr, now});
        rsa1024_leaf = issued("client", rsa1024.get(), EVP_sha256(), nullptr);
        rsa2048_leaf = issued("client", rsa2048.get(), EVP_sha256(), nullptr);
        ec192_leaf = issued("client", ec192.get(), EVP_sha256(), nullptr);
        sha1_self = make_cert(
            {"client", leaf_key.get(), nullptr, nullptr, EVP_sha1(), end, nullptr, nullptr, now});
    }

    // An end-entity certificate for key, issued by root.
    test::Cert issued(const char* cn, EVP_PKEY* key, const EVP_MD* md, const char* eku) {
        return make_cert({cn, key, root.get(), ca_key.get(), md, "CA:FALSE", eku, nullptr, now});
    }
};

struct Expected {
    TlsFile file;
    const char* code;
};

struct Row {
    const char* name;
    std::string ca;
    std::string local_cert;
    std::string local_key;
    std::vector<Expected> problems;  // every problem, in order
    std::string message_has;         // text the first problem's message must hold
    std::string does_has;            // text the first problem's sentence must hold
    std::string instead;             // the bytes the first problem offers instead
};

// The severity each new code carries, as the checker's users are told.
const std::map<std::string, Severity> kNewSeverities = {
    {"tls-der", Severity::kWarning},          {"tls-ca-not-ca", Severity::kError},
    {"tls-client-purpose", Severity::kError}, {"tls-weak-key", Severity::kError},
    {"tls-weak-signature", Severity::kError}, {"tls-client-issuer-unknown", Severity::kNote},
    {"tls-chain-order", Severity::kError},
};

TEST(TlsRefusals, SaysWhatATlsStackRefuses) {
    const Pki k;
    constexpr TlsFile kCa = TlsFile::kCa;
    constexpr TlsFile kCert = TlsFile::kLocalCert;
    constexpr TlsFile kKey = TlsFile::kLocalKey;
    const std::string root = pem(k.root.get());
    const std::string leaf = pem(k.leaf.get());
    const std::string key = pem(k.leaf_key.get());
    const std::string chain = leaf + root;
    const std::string cut = root + leaf.substr(0, leaf.size() - 1);  // no last line feed
    const std::vector<Row> rows = {
        {"a sound chain", root, leaf, key, {}, "", "", ""},
        {"DER CA",
         test::der(k.root.get()),
         leaf,
         key,
         {{kCa, "tls-der"}},
         "DER data",
         "as PEM",
         root},
        {"DER client certificate and key",
         root,
         test::der(k.leaf.get()),
         test::der(k.leaf_key.get()),
         {{kCert, "tls-der"}, {kKey, "tls-der"}},
         "the client certificate is DER data",
         "",
         leaf},
        // No PEM form of a private key to stage instead: the help names the
        // conversion (DerKeyHelpNamesTheConversionNotTheKey).
        {"DER client key",
         root,
         leaf,
         test::der(k.leaf_key.get()),
         {{kKey, "tls-der"}},
         "the client key is DER data",
         "",
         ""},
        {"a leaf alone in the CA slot",
         leaf,
         chain,
         key,
         {{kCa, "tls-ca-not-ca"}},
         "the CA certificate (CN=client) may not sign",
         "",
         ""},
        {"two leaves in the CA slot",
         leaf + pem(k.server.get()),
         chain,
         key,
         {{kCa, "tls-ca-not-ca"}},
         "none of the 2",
         "",
         ""},
        {"a self-signed broker certificate in the CA slot",
         pem(k.pinned.get()),
         chain,
         key,
         {},
         "",
         "",
         ""},
        {"a bundle of a valid CA and a leaf",
         root + pem(k.server.get()),
         leaf,
         key,
         {{kCa, "tls-bundle-leaf"}},
         "certificate 2 of 2",
         "certificate 1 (CN=Test CA) is a valid CA; only --connect can tell",
         ""},
        {"a bundle of a valid CA and a self-signed broker certificate",
         root + pem(k.pinned.get()),
         leaf,
         key,
         {},
         "",
         "",
         ""},
        {"a client certificate for servers only",
         root,
         pem(k.server_only.get()),
         key,
         {{kCert, "tls-client-purpose"}},
         "is TLS Web Server Authentication, without TLS Web "
         "Client Authentication",
         "",
         ""},
        {"a client certificate whose key usage forbids signing",
         root,
         pem(k.no_signing.get()),
         key,
         {{kCert, "tls-client-purpose"}},
         "neither digital signature nor key agreement",
         "",
         ""},
        {"an RSA 1024 client key, said once",
         root,
         pem(k.rsa1024_leaf.get()),
         pem(k.rsa1024.get()),
         {{kKey, "tls-weak-key"}},
         "the client key is a 1024-bit RSA key",
         "security level 2",
         ""},
        {"an RSA 2048 client key",
         root,
         pem(k.rsa2048_leaf.get()),
         pem(k.rsa2048.get()),
         {},
         "",
         "",
         ""},
        {"an EC key on a 192-bit curve",
         root,
         pem(k.ec192_leaf.get()),
         pem(k.ec192.get()),
         {{kKey, "tls-weak-key"}},
         "a 192-bit EC key (secp192k1)",
         "",
         ""},
        {"an RSA 1024 CA",
         pem(k.weak_root.get()),
         chain,
         key,
         {{kCa, "tls-weak-key"}},
         "the key of the CA certificate (CN=Weak CA)",
         "",
         ""},
        {"an RSA 1024 client certificate without its key",
         root,
         pem(k.rsa1024_leaf.get()),
         "",
         {{kCert, "tls-weak-key"}},
         "the key of the client certificate",
         "",
         ""},
        {"a SHA-1 signed client certificate",
         root,
         pem(k.sha1_leaf.get()),
         key,
         {{kCert, "tls-weak-signature"}},
         "is signed with SHA1 (ecdsa-with-SHA1)",
         "",
         ""},
        {"an MD5 signed client certificate",
         pem(k.rsa_root.get()),
         pem(k.md5_leaf.get()),
         key,
         {{kCert, "tls-weak-signature"}},
         "is signed with MD5 (md5WithRSAEncryption)",
         "",
         ""},
        {"a SHA-1 self-signed CA", pem(k.sha1_root.get()), "", "", {}, "", "", ""},
        {"a SHA-1 self-signed client certificate", "", pem(k.sha1_self.get()), key, {}, "", "", ""},
        {"a client certificate whose issuer is missing",
         root,
         pem(k.stranger.get()),
         key,
         {{kCert, "tls-client-issuer-unknown"}},
         "is issued by CN=Other CA",
         "--connect",
         ""},
        {"the issuer later in the certificate file", "", chain, key, {}, "", "", ""},
        {"the CA first in the certificate file",
         "",
         root + leaf,
         key,
         {{kCert, "tls-chain-order"}},
         "certificate 2 of 2 in the client certificate file "
         "(CN=client), not to the file's first certificate (CN=Test CA)",
         "",
         chain},
        {"the chain's order with text around its blocks",
         "",
         "Bag Attributes\n" + root + "subject=client\n" + leaf + "trailer\n",
         key,
         {{kCert, "tls-chain-order"}},
         "",
         "",
         "subject=client\n" + leaf + "Bag Attributes\n" + root + "trailer\n"},
        {"the chain's order with no line feed at its end",
         "",
         cut,
         key,
         {{kCert, "tls-chain-order"}},
         "",
         "",
         chain},
        {"a key of no certificate in the file",
         "",
         chain,
         pem(k.other_key.get()),
         {{kKey, "tls-key-mismatch"}},
         "any of the 2 certificates",
         "",
         ""},
    };
    std::set<std::string> covered;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<TlsProblem> problems =
            check_tls_material({row.ca, row.local_cert, row.local_key}, k.now);
        EXPECT_EQ(ERR_peek_error(), 0UL) << "the OpenSSL error queue is left filled";
        std::vector<std::string> got;
        std::vector<std::string> want;
        for (const TlsProblem& p : problems) {
            got.push_back(std::to_string(static_cast<int>(p.file)) + ":" + p.finding.code_name());
        }
        for (const Expected& e : row.problems) {
            want.push_back(std::to_string(static_cast<int>(e.file)) + ":" + e.code);
            covered.insert(e.code);
        }
        EXPECT_EQ(got, want);
        if (got != want || problems.empty()) {
            continue;
        }
        const TlsProblem& first = problems.front();
        EXPECT_NE(first.finding.message.find(row.message_has), std::string::npos)
            << first.finding.message;
        EXPECT_NE(first.finding.launcher_does.find(row.does_has), std::string::npos)
            << first.finding.launcher_does;
        EXPECT_EQ(first.instead, row.instead);
        EXPECT_EQ(first.certain, first.finding.code == Code::kTlsChainOrder);
        // A help where there is something to write instead; a DER file has
        // one always (its PEM form, or for a key the conversion).
        EXPECT_EQ(first.finding.remedy.empty(),
                  first.instead.empty() && !first.certain && first.finding.code != Code::kTlsDer)
            << first.finding.remedy;
    }
    for (const auto& [name, severity] : kNewSeverities) {
        EXPECT_EQ(covered.count(name), 1U) << name << " has no row";
        const auto* info = std::find_if(std::begin(kCodes), std::end(kCodes),
                                        [&name](const CodeInfo& c) { return c.name == name; });
        ASSERT_NE(info, std::end(kCodes)) << name;
        EXPECT_EQ(info->severity, severity) << name;
        EXPECT_TRUE(is_tls_material_code(info->code)) << name;
    }
}

// The settings of a TLS mode 2 gateway whose client certificate line is
// `cert_line`.
std::string mode2_settings(const Chain& k, const std::string& cert_line) {
    return "QUORBIX_ENABLE=1\nQUORBIX_CSV=YSxiCjEsMgo=\nQUORBIX_MQTT_ADDR=hub\n"
           "QUORBIX_MQTT_PORT=8883\nQUORBIX_CLIENT_ID=gw\nQUORBIX_MQTT_TLS=2\n"
           "QUORBIX_CA=" +
           test::base64(pem(k.root.get())) + "\nQUORBIX_LOCALCERT=" + cert_line +
           "QUORBIX_LOCALKEY=" + test::base64(pem(k.leaf_key.get())) + "\n";
}

// The certain fix rewrites the certificate line's value alone, its quotes
// and line end kept, and the file it makes has the chain in order.
TEST(TlsRefusals, ChainOrderFixPutsTheKeysCertificateFirst) {
    const Chain k;
    const std::string wrong = test::base64(pem(k.root.get()) + pem(k.leaf.get()));
    const std::string right = test::base64(pem(k.leaf.get()) + pem(k.root.get()));
    struct FixRow {
        const char* name;
        std::string line;   // the certificate line as written
        std::string fixed;  // as the fix writes it; empty: no fix offered
    };
    const std::vector<FixRow> rows = {
        {"unquoted", wrong + "\n", right + "\n"},
        {"quoted", "\"" + wrong + "\"\n", "\"" + right + "\"\n"},
        {"quoted, with a comment after", "\"" + wrong + "\" # chain\n",
         "\"" + right + "\" # chain\n"},
        {"carriage return at the end", wrong + "\r\n", right + "\r\n"},
    };
    for (const FixRow& row : rows) {
        SCOPED_TRACE(row.name);
        AnalysisOptions options;
        options.now = k.now;
        const std::string settings = mode2_settings(k, row.line);
        std::vector<Edit> edits;
        for (const Finding& f : analyse_settings(settings, options).findings) {
            if (f.code == Code::kTlsChainOrder) {
                EXPECT_EQ(f.line, 8U);
                EXPECT_EQ(f.remedy,
                          "Put certificate 2 first and the others after it in their order.");
                edits.insert(edits.end(), f.edits.begin(), f.edits.end());
            }
        }
        ASSERT_EQ(edits.size(), 1U);
        const std::string fixed = apply_edits(settings, edits);
        EXPECT_EQ(fixed, mode2_settings(k, row.fixed));
        for (const Finding& f : analyse_settings(fixed, options).findings) {
            EXPECT_FALSE(is_tls_material_code(f.code)) << f.code_name() << ": " << f.message;
        }
    }
}

// A DER file's help gives the line to write, whose Base64 is the PEM form.
TEST(TlsRefusals, DerHelpGivesThePemFormsLine) {
    const Chain k;
    AnalysisOptions options;
    options.now = k.now;
    const std::string settings = mode2_settings(k, test::base64(pem(k.leaf.get())) + "\n");
    const std::string der_ca = "QUORBIX_CA=" + test::base64(test::der(k.root.get())) + "\n";
    int found = 0;
    for (const Finding& f : analyse_settings(der_ca + settings, options).findings) {
        if (f.code == Code::kTlsDer) {
            ++found;
            EXPECT_EQ(f.line, 1U);
            EXPECT_TRUE(f.edits.empty());
            EXPECT_EQ(f.remedy, "Write the Base64 of its PEM form instead: QUORBIX_CA=\"" +
                                    test::base64(pem(k.root.get())) + "\".");
        }
    }
    EXPECT_EQ(found, 1);
}

// A DER key's help names the conversion and holds nothing of the key: a
// report often ends up in a log that others read.
TEST(TlsRefusals, DerKeyHelpNamesTheConversionNotTheKey) {
    const Chain k;
    AnalysisOptions options;
    options.now = k.now;
    const std::string key_der = test::der(k.leaf_key.get());
    const std::string settings =
        "QUORBIX_ENABLE=1\nQUORBIX_CSV=YSxiCg==\nQUORBIX_MQTT_TLS=2\n"
        "QUORBIX_LOCALCERT=" +
        test::base64(pem(k.leaf.get())) + "\nQUORBIX_LOCALKEY=" + test::base64(key_der) + "\n";
    int found = 0;
    for (const Finding& f : analyse_settings(settings, options).findings) {
        if (f.code == Code::kTlsDer) {
            ++found;
            EXPECT_EQ(f.remedy,
                      "Write the Base64 of its PEM form instead: openssl pkey -inform DER -in "
                      "local.key | base64 -w0.");
            EXPECT_TRUE(f.edits.empty());
        }
    }
    EXPECT_EQ(found, 1);
}

}  // namespace
}  // namespace quorbix
