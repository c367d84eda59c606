// quorbix-check --connect end to end: the real checker binary, inside the
// test broker's network namespace, on a settings file per row, one row per
// connection code and cause. Each row reads the JSON report: the finding's
// code, severity and line, the connection object and the exit status, and
// prints the time the attempt took. Without --connect the checker opens no
// socket (strace).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "broker.h"
#include "check_run.h"

namespace quorbix::e2e {
namespace {

using json = nlohmann::json;
using Lines = std::vector<std::pair<std::string, std::string>>;

std::string b64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Sets key to value: on its line when the lines have one, else on a new last line.
Lines set(Lines lines, const std::string& key, const std::string& value) {
    for (auto& [k, v] : lines) {
        if (k == key) {
            v = value;
            return lines;
        }
    }
    lines.emplace_back(key, value);
    return lines;
}

// An enabled gateway "gateway-1" for the broker at localhost:port, TLS mode
// 0, with the password file's user and password.
Lines gateway(int port) {
    return {{"QUORBIX_ENABLE", "1"},
            {"QUORBIX_CSV", b64("slave,function\n1,3\n")},
            {"QUORBIX_MQTT_ADDR", "localhost"},
            {"QUORBIX_MQTT_PORT", std::to_string(port)},
            {"QUORBIX_CLIENT_ID", "gateway-1"},
            {"QUORBIX_MQTT_KEEPALIVE", "60"},
            {"QUORBIX_MQTT_TLS", "0"},
            {"QUORBIX_MQTT_USR", kBrokerUser},
            {"QUORBIX_MQTT_PWD", kBrokerPassword}};
}

// The same in TLS mode 1 with a CA of the PKI.
Lines mode1(const BrokerPki& pki, int port, const char* ca = "ca.crt") {
    return set(set(gateway(port), "QUORBIX_MQTT_TLS", "1"), "QUORBIX_CA", b64(pki.file(ca)));
}

// The same in TLS mode 2 with a client certificate of the PKI and its key.
Lines mode2(const BrokerPki& pki, int port, const char* cert) {
    Lines l = set(mode1(pki, port), "QUORBIX_MQTT_TLS", "2");
    l = set(l, "QUORBIX_LOCALCERT", b64(pki.file(cert)));
    return set(l, "QUORBIX_LOCALKEY", b64(pki.file("client.key")));
}

// A generated token asked for, with key as the token tool's key.
Lines token(Lines lines) {
    return set(set(lines, "QUORBIX_MQTT_SASGEN", "1"), "QUORBIX_MQTT_PWD", "the-key");
}

struct Row {
    const char* name;
    std::function<Lines(const BrokerPki&)> settings;
    std::vector<std::string> args;  // before the file, after --json --connect
    const char* code;
    const char* key;  // whose line the finding is at; null for the file as a whole
    const char* severity;
    const char* stage;
    const char* result;
    int status;  // the checker's exit status
    // Further checks of the finding, the connection and the run.
    std::function<void(const json& finding, const json& connection, const std::string& broker_log,
                       const CheckOutput& run)>
        check;
    const char* log_wait = nullptr;  // a line the broker logs once it handled the attempt
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

bool at_loopback(const json& address, int port) {
    const std::string p = ":" + std::to_string(port);
    return address.is_string() && (address == "127.0.0.1" + p || address == "[::1]" + p);
}

bool holds(const json& text, const std::string& part) {
    return text.is_string() && text.get<std::string>().find(part) != std::string::npos;
}

constexpr char kDisconnected[] = "Client gateway-1 disconnected.";

std::vector<Row> rows() {
    return {
        {"Accepted",
         [](const BrokerPki&) { return gateway(kBrokerPlainPort); },
         {},
         "connect-ok",
         "QUORBIX_MQTT_ADDR",
         "note",
         "done",
         "ok",
         0,
         [](const json& f, const json& c, const std::string& log, const CheckOutput&) {
             EXPECT_TRUE(at_loopback(c["address"], kBrokerPlainPort)) << c;
             EXPECT_EQ(c["connack"], 0);
             EXPECT_TRUE(c["tls_version"].is_null());
             EXPECT_TRUE(holds(f["message"], "without TLS")) << f;
             EXPECT_TRUE(holds(f["message"], c["address"].get<std::string>())) << f;
             EXPECT_NE(log.find("as gateway-1 (p2, c0, k60, u'gateway')."), std::string::npos);
             EXPECT_NE(log.find(kDisconnected), std::string::npos) << log;
         },
         kDisconnected},
        {"UnknownHost",
         [](const BrokerPki&) {
             return set(gateway(kBrokerPlainPort), "QUORBIX_MQTT_ADDR", "broker.invalid");
         },
         {},
         "connect-dns",
         "QUORBIX_MQTT_ADDR",
         "error",
         "dns",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(c["address"].is_null());
             EXPECT_TRUE(holds(f["message"], "'broker.invalid' does not resolve")) << f;
         }},
        {"ClosedPort",
         [](const BrokerPki&) { return gateway(kBrokerClosedPort); },
         {},
         "connect-tcp",
         "QUORBIX_MQTT_PORT",
         "error",
         "tcp",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(at_loopback(c["address"], kBrokerClosedPort)) << c;
             EXPECT_TRUE(holds(f["message"], "'localhost' port 1999")) << f;
             EXPECT_TRUE(holds(f["message"], "Connection refused")) << f;
         }},
        {"CaNotTheBrokers",
         [](const BrokerPki& pki) { return mode1(pki, kBrokerTlsPort, "other-ca.crt"); },
         {},
         "connect-tls-verify",
         "QUORBIX_CA",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(c["tls_version"].is_null());
             EXPECT_TRUE(holds(f["message"], "subject 'CN=localhost', issuer 'CN=quorbix test CA'"))
                 << f;
         }},
        {"NameMismatch",
         [](const BrokerPki& pki) { return mode1(pki, kBrokerOtherNamePort); },
         {},
         "connect-tls-verify",
         "QUORBIX_MQTT_ADDR",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json&, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(holds(f["message"],
                               "QUORBIX_MQTT_ADDR is 'localhost', and the "
                               "certificate names 'elsewhere.invalid'"))
                 << f;
         }},
        {"ExpiredClientCertificate",
         [](const BrokerPki& pki) {
             return mode2(pki, kBrokerClientCertPort, "client-expired.crt");
         },
         {},
         "connect-tls",
         "QUORBIX_LOCALCERT",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_EQ(c["tls_version"], "TLSv1.3") << "the handshake ended; the alert came after";
             EXPECT_TRUE(holds(f["message"],
                               "'certificate expired' at the first read after the "
                               "handshake"))
                 << f;
         }},
        {"NoClientCertificateWhereRequired",
         [](const BrokerPki& pki) { return mode1(pki, kBrokerClientCertPort); },
         {},
         "connect-tls",
         "QUORBIX_MQTT_TLS",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json&, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(holds(f["message"], "'certificate required'")) << f;
             EXPECT_TRUE(holds(f["remedy"], "QUORBIX_MQTT_TLS=2")) << f;
         }},
        {"Mode0AgainstTls",
         [](const BrokerPki&) { return gateway(kBrokerTlsPort); },
         {},
         "connect-tls",
         "QUORBIX_MQTT_TLS",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(c["connack"].is_null());
             EXPECT_TRUE(holds(f["message"], "TLS mode 0, and ")) << f;
             EXPECT_TRUE(holds(f["message"], " answers in TLS")) << f;
         }},
        {"WrongPassword",
         [](const BrokerPki&) {
             return set(gateway(kBrokerPlainPort), "QUORBIX_MQTT_PWD", "not-the-password");
         },
         {},
         "connect-mqtt",
         "QUORBIX_MQTT_PWD",
         "error",
         "mqtt",
         "failed",
         1,
         [](const json& f, const json& c, const std::string&, const CheckOutput&) {
             EXPECT_EQ(c["connack"], 5);
             EXPECT_TRUE(holds(f["message"], "CONNACK 5, not authorized")) << f;
         }},
        {"Mode2WithTheTokenGiven",
         [](const BrokerPki& pki) {
             return token(mode2(pki, kBrokerClientCertPasswordPort, "client.crt"));
         },
         {"--token", std::string(kBrokerPassword) + "\n"},
         "connect-ok",
         "QUORBIX_MQTT_ADDR",
         "note",
         "done",
         "ok",
         0,
         [](const json&, const json& c, const std::string& log, const CheckOutput& run) {
             EXPECT_EQ(c["tls_version"], "TLSv1.3");
             EXPECT_EQ(c["connack"], 0);
             EXPECT_EQ(run.token_args, "") << "--token is used; the tool is not run";
             EXPECT_NE(log.find("u'gateway')."), std::string::npos) << log;
         },
         kDisconnected},
        {"TokenFromTheTokenTool",
         [](const BrokerPki&) { return token(gateway(kBrokerPlainPort)); },
         {"--run-token-tool"},
         "connect-ok",
         "QUORBIX_MQTT_ADDR",
         "note",
         "done",
         "ok",
         0,
         [](const json&, const json&, const std::string&, const CheckOutput& run) {
             EXPECT_EQ(run.token_args, "localhost/devices/gateway-1 the-key\n");
         },
         kDisconnected},
        {"NoTokenStopsAfterTls",
         [](const BrokerPki& pki) { return token(mode1(pki, kBrokerTlsPort)); },
         {},
         "connect-not-tried",
         nullptr,
         "note",
         "tls",
         "ok",
         0,
         [](const json& f, const json& c, const std::string& log, const CheckOutput&) {
             EXPECT_EQ(c["tls_version"], "TLSv1.3");
             EXPECT_TRUE(c["connack"].is_null());
             EXPECT_TRUE(holds(f["remedy"], "--run-token-tool")) << f;
             EXPECT_EQ(log.find("New client connected"), std::string::npos) << log;
         }},
        {"DerCa",
         [](const BrokerPki& pki) { return mode1(pki, kBrokerTlsPort, "ca.der"); },
         {},
         "connect-tls",
         "QUORBIX_CA",
         "error",
         "tls",
         "failed",
         1,
         [](const json& f, const json&, const std::string&, const CheckOutput&) {
             EXPECT_TRUE(holds(f["message"], "CA certificate is DER, not PEM")) << f;
             EXPECT_TRUE(holds(f["message"], "tls-der")) << f;
         }},
    };
}

// Skips the test, or fails it under CI, when the broker or a namespace is missing.
#define QUORBIX_NEEDS(condition, what)      \
    if (!(condition)) {                     \
        if (check_in_ci()) {                \
            FAIL() << "under CI: " << what; \
        }                                   \
        GTEST_SKIP() << what;               \
    }

// The settings file of the lines.
std::string text_of(const Lines& lines) {
    std::string text;
    for (const auto& [key, value] : lines) {
        text += key + "=" + value + "\n";
    }
    return text;
}

// The line of key in a row's settings (which keep their order whatever the PKI), 0 for none.
int line_of(const Row& row, const char* key) {
    const Lines lines = row.settings(BrokerPki{});
    for (std::size_t i = 0; key != nullptr && i < lines.size(); ++i) {
        if (lines[i].first == key) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

class CheckConnect : public ::testing::TestWithParam<Row> {};

TEST_P(CheckConnect, Row) {
    const std::string missing = broker_missing_tools();
    QUORBIX_NEEDS(missing.empty(), "no broker: " + missing);
    const CheckBinary binary = read_check_binary();
    ASSERT_EQ(binary.error, "");
    const Row& row = GetParam();
    const BrokerRun run = run_with_broker([&row, &binary](const BrokerPki& pki) {
        const std::string why = install_check(binary, text_of(row.settings(pki)), kBrokerPassword);
        if (!why.empty()) {
            return why;
        }
        std::vector<std::string> args = {"--json", "--connect"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.emplace_back(kCheckSettings);
        const CheckOutput out = run_check_binary(binary, {}, args);
        if (row.log_wait != nullptr) {
            static_cast<void>(wait_for_broker_log(pki, row.log_wait, 3000));
        }
        return encode_outputs({out});
    });
    QUORBIX_NEEDS(run.no_namespace.empty(), "no network namespace: " + run.no_namespace);
    ASSERT_EQ(run.error, "") << run.broker_log;
    const CheckOutput out = decode_outputs(run.output).front();
    SCOPED_TRACE(out.err + run.broker_log);
    const json doc = json::parse(out.out, nullptr, false);
    ASSERT_TRUE(doc.is_object() && doc["files"].size() == 1) << out.out;
    const json& file = doc["files"][0];
    const json& c = file["connection"];
    std::printf("check --connect %s: %s, %s, the attempt %s ms, the whole run %ld ms\n", row.name,
                c.value("stage", "?").c_str(), c.value("result", "?").c_str(),
                c["milliseconds"].dump().c_str(), out.milliseconds);
    EXPECT_EQ(out.status, row.status) << out.out;
    EXPECT_EQ(c["stage"], row.stage) << c;
    EXPECT_EQ(c["result"], row.result) << c;
    json finding;
    int connection_findings = 0;
    for (const json& f : file["findings"]) {
        if (f["code"].get<std::string>().rfind("connect-", 0) == 0) {
            ++connection_findings;
            finding = f;
        }
    }
    ASSERT_EQ(connection_findings, 1) << file["findings"];
    EXPECT_EQ(finding["code"], row.code) << finding;
    EXPECT_EQ(finding["severity"], row.severity) << finding;
    const int line = line_of(row, row.key);
    EXPECT_EQ(finding["line"], line == 0 ? json() : json(line)) << finding;
    EXPECT_EQ(finding["key"], row.key == nullptr ? json() : json(row.key)) << finding;
    EXPECT_EQ(doc["connection_caveat"],
              "connections are tried from this machine: they reflect its network, name service, "
              "clock and trust store, not the device's");
    if (row.check) {
        row.check(finding, c, run.broker_log, out);
    }
}

INSTANTIATE_TEST_SUITE_P(Broker, CheckConnect, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& row) { return row.param.name; });

// Without --connect nothing touches the network: under strace the checker
// makes no socket, while the same run with --connect does (the trace works).
constexpr char kStrace[] = "/usr/bin/strace";

TEST(CheckWithoutConnect, OpensNoSocket) {
    QUORBIX_NEEDS(::access(kStrace, X_OK) == 0, "no strace at /usr/bin/strace");
    const std::string missing = broker_missing_tools();
    QUORBIX_NEEDS(missing.empty(), "no broker: " + missing);
    const CheckBinary binary = read_check_binary();
    ASSERT_EQ(binary.error, "");
    const BrokerRun run = run_with_broker([&binary](const BrokerPki& pki) {
        const std::string why =
            install_check(binary, text_of(mode1(pki, kBrokerTlsPort)), kBrokerPassword);
        if (!why.empty()) {
            return why;
        }
        // LeakSanitizer cannot run under ptrace: the sanitizer build's
        // checker is traced without it.
        const std::vector<std::string> strace = {kStrace,
                                                 "-f",
                                                 "-qq",
                                                 "-e",
                                                 "trace=socket,connect",
                                                 "-E",
                                                 "LSAN_OPTIONS=detect_leaks=0",
                                                 "-o",
                                                 kTraceFile};
        const CheckOutput without = run_check_binary(binary, strace, {"--json", kCheckSettings});
        const CheckOutput with =
            run_check_binary(binary, strace, {"--json", "--connect", kCheckSettings});
        return encode_outputs({without, with});
    });
    QUORBIX_NEEDS(run.no_namespace.empty(), "no network namespace: " + run.no_namespace);
    ASSERT_EQ(run.error, "") << run.broker_log;
    const std::vector<CheckOutput> out = decode_outputs(run.output);
    ASSERT_EQ(out.size(), 2U) << run.output;
    EXPECT_EQ(out[0].status, 0) << out[0].err;
    EXPECT_NE(out[0].out.find("\"action\": \"start\""), std::string::npos) << out[0].out;
    EXPECT_EQ(out[0].out.find("\"connection\""), std::string::npos) << out[0].out;
    EXPECT_EQ(out[0].trace.find("socket("), std::string::npos) << out[0].trace;
    EXPECT_EQ(out[0].trace.find("connect("), std::string::npos) << out[0].trace;
    EXPECT_EQ(out[1].status, 0) << out[1].err;
    EXPECT_NE(out[1].trace.find("socket("), std::string::npos) << out[1].trace;
    EXPECT_NE(out[1].trace.find("connect("), std::string::npos) << out[1].trace;
}

}  // namespace
}  // namespace quorbix::e2e
