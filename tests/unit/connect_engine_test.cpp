// The parts of the connection check that need no network: what is never
// tried, the staged files loaded as OpenSSL's PEM file loaders read them
// (material made at test time with the openssl command), and the tables
// that name stages, outcomes, TLS records, alerts and verify errors.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "check/connect/connect.h"
#include "check/connect/tls_link.h"
#include "temp_file.h"

namespace quorbix {
namespace {

TEST(ConnectEngine, WhatCannotBeSentIsNotTried) {
    struct Row {
        const char* name;
        void (*change)(ConnectRequest&);
        ConnectCause cause;
        const char* reason;
    };
    const Row rows[] = {
        {"TLS mode 3", [](ConnectRequest& q) { q.tls_mode = 3; }, ConnectCause::kTlsModeUnknown,
         "3"},
        {"port 0", [](ConnectRequest& q) { q.port = 0; }, ConnectCause::kPortOutOfRange, "0"},
        {"port 65536", [](ConnectRequest& q) { q.port = 65536; }, ConnectCause::kPortOutOfRange,
         "65536"},
        {"keep-alive 65536", [](ConnectRequest& q) { q.keep_alive = 65536; },
         ConnectCause::kKeepAliveOutOfRange, "65536"},
        {"client id over 65535 bytes", [](ConnectRequest& q) { q.client_id.assign(65536, 'c'); },
         ConnectCause::kFieldTooLong, "client id"},
        {"user over 65535 bytes", [](ConnectRequest& q) { q.user.assign(65536, 'u'); },
         ConnectCause::kFieldTooLong, "user"},
        {"password over 65535 bytes", [](ConnectRequest& q) { q.password.assign(65536, 'p'); },
         ConnectCause::kFieldTooLong, "password"},
    };
    for (const Row& row : rows) {
        ConnectRequest q;
        // Never looked up: nothing is tried before the values are checked.
        q.host = "never.invalid";
        q.user = "u";
        q.password = "p";
        row.change(q);
        const ConnectResult r = connect_attempt(q);
        EXPECT_EQ(r.outcome, ConnectOutcome::kNotTried) << row.name;
        EXPECT_EQ(r.stage, ConnectStage::kDns) << row.name;
        EXPECT_EQ(r.cause, row.cause) << row.name;
        EXPECT_EQ(r.reason, row.reason) << row.name;
        EXPECT_EQ(r.address, "") << row.name;
    }
}

// Runs a shell script in dir; true when it succeeds.
bool run_in(const test::TempDir& dir, const std::string& script) {
    const std::string command = "cd '" + dir.path("") + "' && { " + script + "; } >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A CA, a client certificate it signs with its key, another key, and the
// same in other forms.
bool make_material(const test::TempDir& dir) {
    return run_in(dir,
                  "set -e;"
                  "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
                  "  -keyout ca.key -out ca.pem -days 30 -subj '/CN=Test CA';"
                  "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
                  "  -keyout client.key -out client.csr -subj '/CN=client';"
                  "openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                  "  -days 30 -out client.pem;"
                  "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out other.key;"
                  "openssl pkcs8 -topk8 -in client.key -passout pass:secret -out encrypted.key;"
                  "openssl x509 -in ca.pem -outform DER -out ca.der;"
                  "openssl x509 -in client.pem -outform DER -out client.der;"
                  "openssl pkey -in client.key -outform DER -out client.key.der");
}

TEST(ConnectEngine, StagedFilesLoadOnlyAsPem) {
    const test::TempDir dir;
    ASSERT_TRUE(make_material(dir)) << "the openssl command could not make the test material";
    const std::string ca = dir.read("ca.pem");
    const std::string cert = dir.read("client.pem");
    const std::string key = dir.read("client.key");
    const std::string damaged = cert.substr(0, cert.size() / 2);
    struct Row {
        const char* name;
        std::uint32_t mode;
        std::string ca, cert, key;
        ConnectFile failed;
        bool der;
        const char* reason;  // nullptr: any reason
    };
    const std::vector<Row> rows = {
        {"mode 1, PEM CA", 1, ca, "", "", ConnectFile::kNone, false, ""},
        {"mode 1, DER CA", 1, dir.read("ca.der"), "", "", ConnectFile::kCa, true,
         "no certificate or crl found"},
        {"mode 1, a CA of text", 1, "not a certificate\n", "", "", ConnectFile::kCa, false,
         "no certificate or crl found"},
        {"mode 1, a damaged CA", 1, damaged, "", "", ConnectFile::kCa, false, nullptr},
        {"mode 2, PEM", 2, ca, cert, key, ConnectFile::kNone, false, ""},
        {"mode 2, the chain after the leaf", 2, ca, cert + ca, key, ConnectFile::kNone, false, ""},
        {"mode 2, the CA before the leaf", 2, ca, ca + cert, key, ConnectFile::kKey, false,
         "key values mismatch"},
        {"mode 2, DER certificate", 2, ca, dir.read("client.der"), key, ConnectFile::kCert, true,
         nullptr},
        {"mode 2, a damaged block after the leaf", 2, ca, cert + damaged, key, ConnectFile::kCert,
         false, nullptr},
        {"mode 2, DER key", 2, ca, cert, dir.read("client.key.der"), ConnectFile::kKey, true,
         nullptr},
        {"mode 2, another key", 2, ca, cert, dir.read("other.key"), ConnectFile::kKey, false,
         "key values mismatch"},
        {"mode 2, an encrypted key is refused without a prompt", 2, ca, cert,
         dir.read("encrypted.key"), ConnectFile::kKey, false, nullptr},
        {"mode 2, no certificate", 2, ca, "", key, ConnectFile::kCert, false,
         "no client certificate is staged"},
        {"mode 2, no key", 2, ca, cert, "", ConnectFile::kKey, false, "no client key is staged"},
        {"mode 1 ignores the client files", 1, ca, "junk", "junk", ConnectFile::kNone, false, ""},
    };
    for (const Row& row : rows) {
        ConnectRequest q;
        q.tls_mode = row.mode;
        q.ca = row.ca;
        q.cert = row.cert;
        q.key = row.key;
        const TlsSetup setup = tls_setup(q);
        EXPECT_EQ(setup.failed_file, row.failed) << row.name << ": " << setup.reason;
        EXPECT_EQ(setup.ctx == nullptr, row.failed != ConnectFile::kNone) << row.name;
        EXPECT_EQ(setup.failed_der, row.der) << row.name;
        if (row.reason != nullptr) {
            EXPECT_EQ(setup.reason, row.reason) << row.name;
        } else {
            EXPECT_NE(setup.reason, "") << row.name;
        }
        EXPECT_FALSE(setup.default_trust_store) << row.name;
    }
}

TEST(ConnectEngine, Mode2WithoutCaTakesTheTrustStore) {
    const test::TempDir dir;
    ASSERT_TRUE(make_material(dir)) << "the openssl command could not make the test material";
    ConnectRequest q;
    q.tls_mode = 2;
    q.cert = dir.read("client.pem");
    q.key = dir.read("client.key");
    const TlsSetup setup = tls_setup(q);
    EXPECT_NE(setup.ctx, nullptr) << setup.reason;
    EXPECT_TRUE(setup.default_trust_store);
}

TEST(ConnectEngine, TlsRecordsAreTold) {
    EXPECT_TRUE(looks_like_tls_record(std::string("\x15\x03\x03\x00\x02", 5)));  // alert
    EXPECT_TRUE(looks_like_tls_record(std::string("\x16\x03\x01", 3)));          // handshake
    EXPECT_FALSE(looks_like_tls_record(std::string("\x20\x02\x00\x00", 4)));     // CONNACK
    EXPECT_FALSE(looks_like_tls_record(std::string("\x17\x03\x03", 3)));         // application data
    EXPECT_FALSE(looks_like_tls_record(std::string("\x15\x02", 2)));             // no version 3
    EXPECT_FALSE(looks_like_tls_record(std::string("\x15", 1)));
    EXPECT_FALSE(looks_like_tls_record(""));
}

TEST(ConnectEngine, NamesOfAlertsStagesAndOutcomes) {
    EXPECT_EQ(tls_alert_name(45), "certificate expired");
    EXPECT_EQ(tls_alert_name(48), "unknown CA");
    EXPECT_EQ(tls_alert_name(116), "certificate required");
    EXPECT_EQ(tls_alert_name(250), "alert 250");
    EXPECT_EQ(connect_stage_name(ConnectStage::kDns), "dns");
    EXPECT_EQ(connect_stage_name(ConnectStage::kTcp), "tcp");
    EXPECT_EQ(connect_stage_name(ConnectStage::kTls), "tls");
    EXPECT_EQ(connect_stage_name(ConnectStage::kMqtt), "mqtt");
    EXPECT_EQ(connect_stage_name(ConnectStage::kDone), "done");
    EXPECT_EQ(connect_outcome_name(ConnectOutcome::kOk), "ok");
    EXPECT_EQ(connect_outcome_name(ConnectOutcome::kFailed), "failed");
    EXPECT_EQ(connect_outcome_name(ConnectOutcome::kNotTried), "not-tried");
}

TEST(ConnectEngine, KindsOfVerifyErrorsAndAlerts) {
    EXPECT_TRUE(connect_verify_error_is_dates(X509_V_ERR_CERT_HAS_EXPIRED));
    EXPECT_TRUE(connect_verify_error_is_dates(X509_V_ERR_CERT_NOT_YET_VALID));
    EXPECT_FALSE(connect_verify_error_is_dates(X509_V_ERR_HOSTNAME_MISMATCH));
    EXPECT_TRUE(connect_verify_error_is_name(X509_V_ERR_HOSTNAME_MISMATCH));
    EXPECT_TRUE(connect_verify_error_is_name(X509_V_ERR_IP_ADDRESS_MISMATCH));
    EXPECT_FALSE(connect_verify_error_is_name(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY));
    for (const int alert : {42, 43, 44, 45, 46, 48, 116}) {
        EXPECT_TRUE(connect_alert_is_about_client_certificate(alert)) << alert;
    }
    for (const int alert : {0, 40, 47, 70, 80}) {
        EXPECT_FALSE(connect_alert_is_about_client_certificate(alert)) << alert;
    }
}

}  // namespace
}  // namespace quorbix
