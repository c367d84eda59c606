// --connect without the network: the request formed from a settings file
// (what the configuration would hold, the staged bytes, the password from
// the token), and each kind of result as its one finding, at the setting to
// change, through a stand-in for the attempt and the token tool.
#include "check/cli/connection.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <set>
#include <string>
#include <vector>

#include "check/rules/analyse.h"

namespace quorbix {
namespace {

// A mode-2 gateway; the line of each key is its place here.
#define QUORBIX_GATEWAY(tls)                                                         \
    "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=broker.example\n"         \
    "QUORBIX_MQTT_PORT=8883\nQUORBIX_CLIENT_ID=gw-7\nQUORBIX_MQTT_KEEPALIVE=30\n"    \
    "QUORBIX_MQTT_TLS=" tls                                                          \
    "\nQUORBIX_MQTT_USR=gw\nQUORBIX_MQTT_PWD=s3cret\n"                               \
    "QUORBIX_CA=Y2EtYnl0ZXM=\nQUORBIX_LOCALCERT=Y2VydC1ieXRlcw==\nQUORBIX_LOCALKEY=" \
    "a2V5LWJ5dGVz\n"
const std::string kMode2 = QUORBIX_GATEWAY("2");
const std::string kMode1 = QUORBIX_GATEWAY("1");
enum Line {
    kFile = 0,
    kHost = 3,
    kPort = 4,
    kClientId = 5,
    kMode = 7,
    kPassword = 9,
    kCa = 10,
    kCert = 11,
    kKey = 12
};

// One check of `settings` with the stand-ins: the request the attempt got
// (when it was made), the analysis with the connection's finding, and its view.
struct Checked {
    bool attempted = false;
    ConnectRequest request;
    FileAnalysis analysis;
    ConnectionView view;
    std::vector<std::string> token_tool_calls;
};

Checked check(const std::string& settings, const ConnectResult& result,
              ConnectionOptions options = {}, AnalysisOptions analysis_options = {},
              TokenRun tool_run = {}) {
    Checked c;
    options.enabled = true;
    ConnectionSeams seams;
    seams.attempt = [&c, &result](const ConnectRequest& q) {
        c.attempted = true;
        c.request = q;
        return result;
    };
    seams.token_tool = [&c, &tool_run](std::string_view host, std::string_view id,
                                       std::string_view key) {
        c.token_tool_calls.push_back(std::string(host) + " " + std::string(id) + " " +
                                     std::string(key));
        return tool_run;
    };
    c.analysis = analyse_settings(settings, analysis_options);
    c.view = check_connection(settings, analysis_options, options, &c.analysis, seams);
    return c;
}

// The file's one connection finding; fails the test when there is not exactly one.
Finding connection_finding_of(const FileAnalysis& a) {
    std::vector<Finding> found;
    for (const Finding& f : a.findings) {
        if (is_connection_code(f.code)) {
            found.push_back(f);
        }
    }
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? Finding{} : found.front();
}

ConnectResult accepted() {
    ConnectResult r;
    r.stage = ConnectStage::kDone;
    r.outcome = ConnectOutcome::kOk;
    r.cause = ConnectCause::kAccepted;
    r.address = "192.0.2.7:8883";
    r.tls_version = "TLSv1.3";
    r.connack = 0;
    r.milliseconds = 42;
    return r;
}

// A failed result at a stage, for a cause, with its reason.
ConnectResult failed(ConnectStage stage, ConnectCause cause, std::string reason) {
    ConnectResult r;
    r.stage = stage;
    r.outcome = ConnectOutcome::kFailed;
    r.cause = cause;
    r.reason = std::move(reason);
    r.address = "192.0.2.7:8883";
    r.milliseconds = 9;
    return r;
}

TEST(Connection, TheRequestHoldsWhatTheConfigurationWould) {
    const Checked c = check(kMode2, accepted());
    ASSERT_TRUE(c.attempted);
    const ConnectRequest& q = c.request;
    EXPECT_EQ(q.host, "broker.example");
    EXPECT_EQ(q.port, 8883u);
    EXPECT_EQ(q.tls_mode, 2u);
    EXPECT_EQ(q.client_id, "gw-7");
    EXPECT_EQ(q.keep_alive, 30u);
    EXPECT_TRUE(q.send_credentials);
    EXPECT_EQ(q.user, "gw");
    EXPECT_EQ(q.password, "s3cret");
    EXPECT_EQ(q.ca, "ca-bytes");  // the decoded bytes the launcher stages
    EXPECT_EQ(q.cert, "cert-bytes");
    EXPECT_EQ(q.key, "key-bytes");
    EXPECT_EQ(q.timeout_ms, 10000);
    EXPECT_FALSE(q.stop_before_mqtt);
    EXPECT_TRUE(c.token_tool_calls.empty());
    EXPECT_EQ(c.view.stage, "done");
    EXPECT_EQ(c.view.result, "ok");
    EXPECT_EQ(c.view.address, "192.0.2.7:8883");
    EXPECT_EQ(c.view.tls_version, "TLSv1.3");
    EXPECT_EQ(c.view.connack, 0);
    EXPECT_EQ(c.view.milliseconds, 42);
}

TEST(Connection, TheRequestFollowsTheSettingsAndOptions) {
    const std::string long_host(2000, 'h');
    struct Row {
        const char* name;
        std::string settings;
        void (*options)(ConnectionOptions&, AnalysisOptions&);
        void (*expect)(const ConnectRequest&);
    };
    const auto none = [](ConnectionOptions&, AnalysisOptions&) {};
    const Row rows[] = {
        {"mode 1 stages no client certificate or key", kMode1, none,
         [](const ConnectRequest& q) {
             EXPECT_EQ(q.ca, "ca-bytes");
             EXPECT_EQ(q.cert, "");
             EXPECT_EQ(q.key, "");
         }},
        {"an anonymous gateway sends no user or password", kMode2 + "QUORBIX_MQTT_ANONY=1\n", none,
         [](const ConnectRequest& q) { EXPECT_FALSE(q.send_credentials); }},
        // The configuration line keeps 1023 bytes: "mqtt_host=", 1012 of the host, a line feed.
        {"a host cut where its configuration line is cut",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=" + long_host + "\n", none,
         [](const ConnectRequest& q) { EXPECT_EQ(q.host, std::string(1012, 'h')); }},
        {"--connect-client-id and --connect-timeout", kMode2,
         [](ConnectionOptions& o, AnalysisOptions&) {
             o.client_id = "probe-1";
             o.timeout_seconds = 3;
         },
         [](const ConnectRequest& q) {
             EXPECT_EQ(q.client_id, "probe-1");
             EXPECT_EQ(q.timeout_ms, 3000);
         }},
        {"a token given: its first line without the line feed", kMode2 + "QUORBIX_MQTT_SASGEN=1\n",
         [](ConnectionOptions&, AnalysisOptions& a) { a.token = "sas-1\nsecond line\n"; },
         [](const ConnectRequest& q) {
             EXPECT_EQ(q.password, "sas-1");
             EXPECT_FALSE(q.stop_before_mqtt);
         }},
        {"a token not given: the attempt stops before MQTT", kMode2 + "QUORBIX_MQTT_SASGEN=1\n",
         none, [](const ConnectRequest& q) { EXPECT_TRUE(q.stop_before_mqtt); }},
        {"a token asked for without a key: the empty password line, sent as such",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_USR=gw\nQUORBIX_MQTT_SASGEN=1\n", none,
         [](const ConnectRequest& q) {
             EXPECT_EQ(q.password, "");
             EXPECT_FALSE(q.stop_before_mqtt);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ConnectionOptions options;
        AnalysisOptions analysis_options;
        row.options(options, analysis_options);
        const Checked c = check(row.settings, accepted(), options, analysis_options);
        ASSERT_TRUE(c.attempted);
        row.expect(c.request);
    }
}

TEST(Connection, TheTokenToolRunsAsTheLauncherRunsItAndItsTroubleIsSaid) {
    TokenRun run;
    run.line = "from-tool\n";
    run.exit_status = 3;
    ConnectionOptions options;
    options.run_token_tool = true;
    const Checked c =
        check(kMode2 + "QUORBIX_MQTT_SASGEN=1\n",
              failed(ConnectStage::kMqtt, ConnectCause::kMqttRefused, "not authorized"), options,
              {}, run);
    EXPECT_EQ(c.token_tool_calls, std::vector<std::string>{"broker.example gw-7 s3cret"});
    EXPECT_EQ(c.request.password, "from-tool");
    const Finding f = connection_finding_of(c.analysis);
    EXPECT_NE(f.message.find("; the token tool exited with status 3"), std::string::npos)
        << f.message;
}

TEST(Connection, NoAttemptForAFileTheLauncherDoesNotStart) {
    const Checked c = check("QUORBIX_ENABLE=0\nQUORBIX_CSV=TWFu\n", accepted());
    EXPECT_FALSE(c.attempted);
    const Finding f = connection_finding_of(c.analysis);
    EXPECT_EQ(f.code, Code::kConnectNotTried);
    EXPECT_EQ(f.line, 0u);
    EXPECT_EQ(f.message, "no connection was tried: the launcher does not start the daemon");
    EXPECT_EQ(f.launcher_does,
              "The launcher stays disabled: exit 1, log \"quorbix is disabled.\".");
    EXPECT_EQ(c.view.result, "not-tried");
    EXPECT_EQ(c.view.milliseconds, -1);
}

// Each kind of result: its code, its line, and words the message and the
// remedy must hold.
struct ResultRow {
    const char* name;
    ConnectResult result;
    Code code;
    int line;
    const char* message;  // a part of the message
    const char* remedy;   // a part of the remedy; "" for none at all
    const std::string* settings = &kMode2;
};

ConnectResult with(ConnectResult r, void (*change)(ConnectResult&)) {
    change(r);
    return r;
}

std::vector<ResultRow> result_rows() {
    using S = ConnectStage;
    using C = ConnectCause;
    return {
        {"accepted", accepted(), Code::kConnectOk, kHost,
         "the broker at 192.0.2.7:8883 accepted the connection over TLSv1.3 in 42 ms (CONNACK 0)",
         ""},
        {"no name", failed(S::kDns, C::kDnsFailed, "Name or service not known"), Code::kConnectDns,
         kHost, "the MQTT host 'broker.example' does not resolve: Name or service not known",
         "Check QUORBIX_MQTT_ADDR"},
        {"refused",
         with(failed(S::kTcp, C::kTcpRefused, "Connection refused"),
              [](ConnectResult& r) {
                  r.failed_addresses = {
                      {"192.0.2.7:8883", C::kTcpRefused, "Connection refused"},
                      {"[2001:db8::7]:8883", C::kTcpRefused, "Connection refused"}};
              }),
         Code::kConnectTcp, kPort,
         "no TCP connection to 'broker.example' port 8883: 192.0.2.7:8883: Connection refused; "
         "[2001:db8::7]:8883: Connection refused",
         "nothing listens there"},
        {"timed out",
         with(failed(S::kTcp, C::kTcpTimedOut, "timed out"),
              [](ConnectResult& r) {
                  r.failed_addresses = {{"192.0.2.7:8883", C::kTcpTimedOut, "timed out"}};
              }),
         Code::kConnectTcp, kPort, "192.0.2.7:8883: no answer within the time (10 s)",
         "can be reached from the device"},
        {"CA not the broker's",
         with(failed(S::kTls, C::kTlsVerify, "unable to get local issuer certificate"),
              [](ConnectResult& r) {
                  r.verify_error = X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY;
                  r.peer = {0, "CN=broker.example", "CN=Other CA", 0, 86400, {"broker.example"}};
              }),
         Code::kConnectTlsVerify, kCa,
         "fails verification: unable to get local issuer certificate; the broker's certificate: "
         "subject 'CN=broker.example', issuer 'CN=Other CA', valid from 1970-01-01 00:00:00 UTC to "
         "1970-01-02 00:00:00 UTC",
         "Stage in QUORBIX_CA the CA that issued"},
        {"name mismatch",
         with(failed(S::kTls, C::kTlsVerify, "hostname mismatch"),
              [](ConnectResult& r) {
                  r.verify_error = X509_V_ERR_HOSTNAME_MISMATCH;
                  r.host_checked = "broker.example";
                  r.peer = {0, "CN=a", "CN=CA", 0, 1, {"a.example", "192.0.2.9"}};
              }),
         Code::kConnectTlsVerify, kHost,
         "QUORBIX_MQTT_ADDR is 'broker.example', and the certificate names 'a.example', "
         "'192.0.2.9'",
         "Set QUORBIX_MQTT_ADDR to a name"},
        {"out of its dates",
         with(failed(S::kTls, C::kTlsVerify, "certificate has expired"),
              [](ConnectResult& r) {
                  r.verify_error = X509_V_ERR_CERT_HAS_EXPIRED;
                  r.peer = {0, "CN=a", "CN=CA", 0, 1, {}};
              }),
         Code::kConnectTlsVerify, kCa, "; this machine's clock reads ",
         "Check this machine's clock"},
        {"client certificate expired",
         with(failed(S::kTls, C::kTlsAlert, "certificate expired"),
              [](ConnectResult& r) {
                  r.tls_alert = 45;
                  r.alert_after_handshake = true;
                  r.tls_version = "TLSv1.3";
              }),
         Code::kConnectTls, kCert,
         "the broker sent the TLS alert 'certificate expired' at the first read after the "
         "handshake (TLSv1.3)",
         "a client certificate within its dates"},
        {"certificate required in mode 1",
         with(failed(S::kTls, C::kTlsAlert, "certificate required"),
              [](ConnectResult& r) { r.tls_alert = 116; }),
         Code::kConnectTls, kMode, "ended the TLS handshake with the alert 'certificate required'",
         "set QUORBIX_MQTT_TLS=2", &kMode1},
        {"a DER key",
         with(failed(S::kTls, C::kTlsStagedFile, "no start line"),
              [](ConnectResult& r) {
                  r.staged_file = ConnectFile::kKey;
                  r.staged_der = true;
              }),
         Code::kConnectTls, kKey, "the staged client key is DER, not PEM", "as PEM text"},
        {"no TLS on a TLS mode's port", failed(S::kTls, C::kTlsNotSpoken, "wrong version number"),
         Code::kConnectTls, kMode,
         "TLS mode 2, and 192.0.2.7:8883 does not answer in TLS: wrong version number",
         "Set QUORBIX_MQTT_TLS=0"},
        {"CONNACK 5",
         with(failed(S::kMqtt, C::kMqttRefused, "not authorized"),
              [](ConnectResult& r) { r.connack = 5; }),
         Code::kConnectMqtt, kPassword, "CONNACK 5, not authorized", "QUORBIX_MQTT_PWD"},
        {"CONNACK 2",
         with(failed(S::kMqtt, C::kMqttRefused, "identifier rejected"),
              [](ConnectResult& r) { r.connack = 2; }),
         Code::kConnectMqtt, kClientId, "CONNACK 2, identifier rejected", "QUORBIX_CLIENT_ID"},
        {"closed without a CONNACK",
         failed(S::kMqtt, C::kMqttClosed, "the broker closed the connection"), Code::kConnectMqtt,
         kHost, "closed the connection without a CONNACK", "The broker's log says why"},
        {"port out of range",
         with(failed(S::kDns, C::kPortOutOfRange, "70000"),
              [](ConnectResult& r) { r.outcome = ConnectOutcome::kNotTried; }),
         Code::kConnectNotTried, kFile,
         "no connection was tried: MQTT port 70000 is outside 1 to 65535", ""},
        {"no token to send",
         with(failed(S::kTls, C::kStoppedBeforeMqtt, "no password to send"),
              [](ConnectResult& r) {
                  r.outcome = ConnectOutcome::kOk;
                  r.tls_version = "TLSv1.2";
              }),
         Code::kConnectNotTried, kFile,
         "no CONNECT was sent: the password is the token tool's output, which was not given; TCP "
         "and TLS (TLSv1.2) to 192.0.2.7:8883 stood in 9 ms",
         "--run-token-tool"},
    };
}

TEST(Connection, EachResultIsOneFindingAtTheSettingToChange) {
    std::set<Code> covered;
    for (const ResultRow& row : result_rows()) {
        SCOPED_TRACE(row.name);
        const Checked c = check(*row.settings, row.result);
        const Finding f = connection_finding_of(c.analysis);
        covered.insert(f.code);
        EXPECT_EQ(f.code, row.code) << f.code_name();
        EXPECT_EQ(f.line, static_cast<std::uint64_t>(row.line));
        EXPECT_NE(f.message.find(row.message), std::string::npos) << f.message;
        if (*row.remedy == '\0') {
            EXPECT_EQ(f.remedy, "");
        } else {
            EXPECT_NE(f.remedy.find(row.remedy), std::string::npos) << f.remedy;
        }
        // Counted with the file's findings, for the totals and the exit status.
        EXPECT_EQ(c.analysis.by_code[static_cast<std::size_t>(row.code)], 1u);
    }
    for (const CodeInfo& info : kCodes) {
        if (is_connection_code(info.code)) {
            EXPECT_EQ(covered.count(info.code), 1u) << info.name << " has no row";
        }
    }
}

TEST(Connection, TextsFromTheNetworkAreEscaped) {
    ConnectResult r = failed(ConnectStage::kTls, ConnectCause::kTlsVerify, "hostname mismatch");
    r.verify_error = X509_V_ERR_HOSTNAME_MISMATCH;
    r.peer = {0, "CN=evil\x1b[2J\xc2\x9b", "CN=CA\n", 0, 1, {"x\r\n.example", "\xe2\x80\xae"}};
    const Finding f = connection_finding_of(check(kMode2, r).analysis);
    EXPECT_EQ(f.message.find_first_of("\x1b\r\n"), std::string::npos) << f.message;
    EXPECT_EQ(f.message.find("\xc2\x9b"), std::string::npos) << f.message;
    EXPECT_EQ(f.message.find("\xe2\x80\xae"), std::string::npos) << f.message;
    EXPECT_NE(f.message.find("CN=evil<1b>[2J<c2><9b>"), std::string::npos) << f.message;
}

TEST(Connection, AnIgnoredCodeIsNeitherShownNorCounted) {
    AnalysisOptions options;
    options.ignored.set(static_cast<std::size_t>(Code::kConnectDns));
    const Checked c =
        check(kMode2, failed(ConnectStage::kDns, ConnectCause::kDnsFailed, "no"), {}, options);
    for (const Finding& f : c.analysis.findings) {
        EXPECT_FALSE(is_connection_code(f.code)) << f.code_name();
    }
    EXPECT_EQ(c.analysis.by_code[static_cast<std::size_t>(Code::kConnectDns)], 0u);
    EXPECT_EQ(c.view.stage, "dns");
    EXPECT_EQ(c.view.result, "failed");
}

TEST(Connection, TheFindingTakesItsPlaceAmongTheFilesFindings) {
    // Line 4's port is out of range (port-range) and no QUORBIX_MQTT_TLS line is read.
    const std::string settings =
        "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=b\nQUORBIX_MQTT_PORT=0\n"
        "QUORBIX_CLIENT_ID=c\nQUORBIX_MQTT_QOS=7\n";
    const FileAnalysis a =
        check(settings, failed(ConnectStage::kDns, ConnectCause::kDnsFailed, "no")).analysis;
    std::vector<std::uint64_t> lines;
    for (const Finding& f : a.findings) {
        lines.push_back(f.line);
    }
    EXPECT_EQ(lines, (std::vector<std::uint64_t>{3, 4, 6})) << "connect-dns, port-range, qos-range";
    EXPECT_EQ(connection_finding_of(a).line, 3u);
}

}  // namespace
}  // namespace quorbix
