// The connection check against a real broker, one row per cause: each row
// runs connect_attempt in the broker's own network namespace and checks the
// stage, the outcome, the cause and its detail, and for an accepted
// connection what the broker logged of the CONNECT and the DISCONNECT. Each
// row prints the time the attempt took.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "broker.h"
#include "check/connect/connect.h"
#include "result_codec.h"

namespace quorbix::e2e {
namespace {

// Ports of this test's own listeners inside the namespace.
constexpr int kSilentPort = 2001;   // accepts, and never says a word
constexpr int kBacklogPort = 2002;  // its queue is full: a SYN is never answered

// Listens on 127.0.0.1:port with a queue of one; returns the descriptor.
int listen_on(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 0) != 0) {
        return -1;
    }
    return fd;
}

// Fills the queue of a listener that never accepts, so that the next SYN
// is dropped: connections that complete are held open until the process ends.
bool fill_backlog(int port) {
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
                       errno != EINPROGRESS)) {
            return false;
        }
    }
    ::usleep(100 * 1000);
    return true;
}

// What a row asks of the namespace before the attempt.
enum class Listener { kNone, kSilent, kFullBacklog };

struct Row {
    const char* name;
    // Fills the request from the broker's files (inside the namespace).
    std::function<void(ConnectRequest&, const BrokerPki&)> request;
    ConnectStage stage;
    ConnectOutcome outcome;
    ConnectCause cause;
    // The reason expected, word for word; empty when `check` judges it.
    std::string reason;
    // Further checks of the result and of what the broker logged.
    std::function<void(const ConnectResult&, const std::string& log)> check;
    Listener listener = Listener::kNone;
    // A line the broker logs once it has handled the attempt, waited for.
    const char* log_wait = nullptr;
};

// Names a row in GoogleTest's messages.
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// A request to localhost as the gateway "gateway-1", with a budget of 5 s.
ConnectRequest base_request() {
    ConnectRequest q;
    q.host = "localhost";
    q.client_id = "gateway-1";
    q.keep_alive = 60;
    q.timeout_ms = 5000;
    return q;
}

void plain_with_password(ConnectRequest& q, const BrokerPki& /*pki*/) {
    q.port = kBrokerPlainPort;
    q.user = kBrokerUser;
    q.password = kBrokerPassword;
}

void tls_ca(ConnectRequest& q, const BrokerPki& pki) {
    q.port = kBrokerTlsPort;
    q.tls_mode = 1;
    q.ca = pki.file("ca.crt");
}

void tls_client(ConnectRequest& q, const BrokerPki& pki, const std::string& cert) {
    q.port = kBrokerClientCertPort;
    q.tls_mode = 2;
    q.ca = pki.file("ca.crt");
    q.cert = pki.file(cert);
    q.key = pki.file("client.key");
}

// The address of a port on either loopback address.
bool at_loopback(const std::string& address, int port) {
    const std::string p = ":" + std::to_string(port);
    return address == "127.0.0.1" + p || address == "[::1]" + p;
}

// The broker's line for a CONNECT: MQTT 3.1.1 (p2), CleanSession, keep-alive, user.
std::string connect_line(const std::string& id, int clean, const std::string& user) {
    const std::string as = "as " + id + " (p2, c" + std::to_string(clean) + ", k60";
    return user.empty() ? as + ")." : as + ", u'" + user + "').";
}

constexpr const char kDisconnected[] = "Client gateway-1 disconnected.";

// Checks that the broker saw the CONNECT of "gateway-1" and then its DISCONNECT.
void expect_connect_and_disconnect(const std::string& log, const std::string& user) {
    EXPECT_NE(log.find(connect_line("gateway-1", 0, user)), std::string::npos) << log;
    EXPECT_NE(log.find(kDisconnected), std::string::npos) << log;
}

void expect_alert(const ConnectResult& r, int alert) {
    EXPECT_EQ(r.tls_alert, alert);
    EXPECT_TRUE(r.alert_after_handshake) << "TLS 1.3: the alert comes at the first read";
    EXPECT_EQ(r.tls_version, "TLSv1.3");
    EXPECT_TRUE(connect_alert_is_about_client_certificate(alert));
}

using Stage = ConnectStage;
using Outcome = ConnectOutcome;
using Cause = ConnectCause;

// Every row of the table.
std::vector<Row> rows() {
    return {
        {"AcceptedPlainWithPassword", plain_with_password, Stage::kDone, Outcome::kOk,
         Cause::kAccepted, "connection accepted",
         [](const ConnectResult& r, const std::string& log) {
             EXPECT_EQ(r.connack, 0);
             EXPECT_TRUE(at_loopback(r.address, kBrokerPlainPort)) << r.address;
             EXPECT_EQ(r.tls_version, "");
             expect_connect_and_disconnect(log, kBrokerUser);
         },
         Listener::kNone, kDisconnected},
        {"AcceptedMode1", tls_ca, Stage::kDone, Outcome::kOk, Cause::kAccepted,
         "connection accepted",
         [](const ConnectResult& r, const std::string& log) {
             EXPECT_EQ(r.tls_version, "TLSv1.3");
             EXPECT_EQ(r.host_checked, "localhost");
             EXPECT_FALSE(r.default_trust_store);
             expect_connect_and_disconnect(log, "");
         },
         Listener::kNone, kDisconnected},
        {"AcceptedMode1AtAnIpAddress",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.host = "127.0.0.1";
         },
         Stage::kDone, Outcome::kOk, Cause::kAccepted, "connection accepted",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_EQ(r.address, "127.0.0.1:8883");
         }},
        {"AcceptedMode2WithAClientCertificate",
         [](ConnectRequest& q, const BrokerPki& pki) { tls_client(q, pki, "client.crt"); },
         Stage::kDone, Outcome::kOk, Cause::kAccepted, "connection accepted",
         [](const ConnectResult& r, const std::string& log) {
             EXPECT_EQ(r.tls_version, "TLSv1.3");
             expect_connect_and_disconnect(log, kBrokerClientName);
         },
         Listener::kNone, kDisconnected},
        {"EmptyClientIdIsSentWithCleanSession1",
         [](ConnectRequest& q, const BrokerPki& pki) {
             plain_with_password(q, pki);
             q.client_id.clear();
         },
         Stage::kDone, Outcome::kOk, Cause::kAccepted, "connection accepted",
         [](const ConnectResult& /*r*/, const std::string& log) {
             EXPECT_NE(log.find(", c1, k60, u'gateway')."), std::string::npos) << log;
         },
         Listener::kNone, "(p2, c1, k60, u'gateway')."},
        {"UnknownHost",
         [](ConnectRequest& q, const BrokerPki& /*pki*/) { q.host = "broker.invalid"; },
         Stage::kDns, Outcome::kFailed, Cause::kDnsFailed, "",
         [](const ConnectResult& r, const std::string& /*log*/) {
             // The namespace has no route to a name server: the resolver
             // says either that the name is unknown or that it cannot ask.
             EXPECT_TRUE(r.reason == ::gai_strerror(EAI_NONAME) ||
                         r.reason == ::gai_strerror(EAI_AGAIN))
                 << r.reason;
             EXPECT_EQ(r.address, "");
         }},
        {"ClosedPort",
         [](ConnectRequest& q, const BrokerPki& /*pki*/) { q.port = kBrokerClosedPort; },
         Stage::kTcp, Outcome::kFailed, Cause::kTcpRefused, std::strerror(ECONNREFUSED),
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_TRUE(at_loopback(r.address, kBrokerClosedPort)) << r.address;
             ASSERT_FALSE(r.failed_addresses.empty());
             for (const AddressTried& a : r.failed_addresses) {
                 EXPECT_EQ(a.cause, Cause::kTcpRefused) << a.address;
             }
         }},
        {"TcpTimesOut",
         [](ConnectRequest& q, const BrokerPki& /*pki*/) {
             q.host = "127.0.0.1";
             q.port = kBacklogPort;
             q.timeout_ms = 500;
         },
         Stage::kTcp, Outcome::kFailed, Cause::kTcpTimedOut, "timed out",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_EQ(r.address, "127.0.0.1:2002");
             EXPECT_GE(r.milliseconds, 500);
         },
         Listener::kFullBacklog},
        {"CaNotTheBrokers",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.ca = pki.file("other-ca.crt");
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsVerify, "",
         [](const ConnectResult& r, const std::string& /*log*/) {
             // The broker sends its CA along: OpenSSL finds a root it does
             // not trust in the chain, or no issuer at all.
             EXPECT_TRUE(r.verify_error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
                         r.verify_error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)
                 << r.verify_error;
             EXPECT_EQ(r.reason, X509_verify_cert_error_string(r.verify_error));
             EXPECT_EQ(r.peer.depth, 0);
             EXPECT_EQ(r.peer.subject, "CN=localhost");
             EXPECT_EQ(r.peer.issuer, "CN=quorbix test CA");
             EXPECT_EQ(r.peer.names, (std::vector<std::string>{"localhost", "127.0.0.1"}));
             EXPECT_GT(r.peer.not_after, r.peer.not_before);
             EXPECT_GE(r.failing.depth, 0);
         }},
        {"NameMismatch",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.port = kBrokerOtherNamePort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsVerify, "hostname mismatch",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_TRUE(connect_verify_error_is_name(r.verify_error));
             EXPECT_EQ(r.host_checked, "localhost");
             EXPECT_EQ(r.peer.names, std::vector<std::string>{"elsewhere.invalid"});
         }},
        {"IpAddressMismatch",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.host = "127.0.0.1";
             q.port = kBrokerOtherNamePort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsVerify, "IP address mismatch",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_EQ(r.verify_error, X509_V_ERR_IP_ADDRESS_MISMATCH);
             EXPECT_EQ(r.host_checked, "127.0.0.1");
         }},
        {"BrokerCertificateOutOfItsDates",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.port = kBrokerExpiredPort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsVerify, "certificate has expired",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_TRUE(connect_verify_error_is_dates(r.verify_error));
             EXPECT_EQ(r.failing.depth, 0);
             EXPECT_EQ(r.failing.not_before, 1577836800);  // 2020-01-01 00:00:00 UTC
             EXPECT_EQ(r.failing.not_after, 1580515200);   // 2020-02-01 00:00:00 UTC
         }},
        {"Mode2WithoutCaUsesTheTrustStore",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_client(q, pki, "client.crt");
             q.ca.clear();
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsVerify, "",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_TRUE(r.default_trust_store);
             EXPECT_EQ(r.reason, X509_verify_cert_error_string(r.verify_error));
         }},
        {"ExpiredClientCertificate",
         [](ConnectRequest& q, const BrokerPki& pki) { tls_client(q, pki, "client-expired.crt"); },
         Stage::kTls, Outcome::kFailed, Cause::kTlsAlert, "certificate expired",
         [](const ConnectResult& r, const std::string& /*log*/) { expect_alert(r, 45); }},
        {"ClientCertificateOfAnotherCa",
         [](ConnectRequest& q, const BrokerPki& pki) { tls_client(q, pki, "client-other-ca.crt"); },
         Stage::kTls, Outcome::kFailed, Cause::kTlsAlert, "unknown CA",
         [](const ConnectResult& r, const std::string& /*log*/) { expect_alert(r, 48); }},
        {"NoClientCertificateWhereOneIsRequired",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.port = kBrokerClientCertPort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsAlert, "certificate required",
         [](const ConnectResult& r, const std::string& /*log*/) { expect_alert(r, 116); }},
        {"Mode0AgainstTls",
         [](ConnectRequest& q, const BrokerPki& pki) {
             plain_with_password(q, pki);
             q.port = kBrokerTlsPort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsOnPlainPort, "",
         [](const ConnectResult& r, const std::string& /*log*/) { EXPECT_EQ(r.connack, -1); }},
        {"Mode1AgainstPlain",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.port = kBrokerPlainPort;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsNotSpoken, "",
         [](const ConnectResult& r, const std::string& /*log*/) { EXPECT_EQ(r.tls_version, ""); }},
        {"WrongPassword",
         [](ConnectRequest& q, const BrokerPki& pki) {
             plain_with_password(q, pki);
             q.password = "not-the-password";
         },
         Stage::kMqtt, Outcome::kFailed, Cause::kMqttRefused, "not authorized",
         [](const ConnectResult& r, const std::string& /*log*/) { EXPECT_EQ(r.connack, 5); }},
        {"PasswordWithoutUserIsNotSent",
         [](ConnectRequest& q, const BrokerPki& pki) {
             plain_with_password(q, pki);
             q.user.clear();
         },
         Stage::kMqtt, Outcome::kFailed, Cause::kMqttRefused, "not authorized",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_TRUE(r.password_not_sent);
         }},
        {"DerCa",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.ca = pki.file("ca.der");
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsStagedFile, "no certificate or crl found",
         [](const ConnectResult& r, const std::string& /*log*/) {
             EXPECT_EQ(r.staged_file, ConnectFile::kCa);
             EXPECT_TRUE(r.staged_der);
             EXPECT_TRUE(at_loopback(r.address, kBrokerTlsPort)) << "TCP stood first";
         }},
        {"StopsAfterTlsWithoutPassword",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.stop_before_mqtt = true;
         },
         Stage::kTls, Outcome::kOk, Cause::kStoppedBeforeMqtt, "no password to send",
         [](const ConnectResult& r, const std::string& log) {
             EXPECT_EQ(r.tls_version, "TLSv1.3");
             EXPECT_EQ(log.find("New client connected"), std::string::npos) << log;
         }},
        {"StopsAfterTcpInMode0WithoutPassword",
         [](ConnectRequest& q, const BrokerPki& pki) {
             plain_with_password(q, pki);
             q.stop_before_mqtt = true;
         },
         Stage::kTcp, Outcome::kOk, Cause::kStoppedBeforeMqtt, "no password to send",
         [](const ConnectResult& /*r*/, const std::string& log) {
             EXPECT_EQ(log.find("New client connected"), std::string::npos) << log;
         }},
        {"NoConnackInTime",
         [](ConnectRequest& q, const BrokerPki& /*pki*/) {
             q.port = kSilentPort;
             q.host = "127.0.0.1";
             q.timeout_ms = 400;
         },
         Stage::kMqtt, Outcome::kFailed, Cause::kMqttTimedOut, "no CONNACK within the time",
         nullptr, Listener::kSilent},
        {"NoHandshakeInTime",
         [](ConnectRequest& q, const BrokerPki& pki) {
             tls_ca(q, pki);
             q.port = kSilentPort;
             q.host = "127.0.0.1";
             q.timeout_ms = 400;
         },
         Stage::kTls, Outcome::kFailed, Cause::kTlsTimedOut,
         "no end of the handshake within the time", nullptr, Listener::kSilent},
    };
}

class BrokerTable : public ::testing::TestWithParam<Row> {};

TEST_P(BrokerTable, Attempt) {
    const std::string missing = broker_missing_tools();
    if (!missing.empty()) {
        if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true") {
            FAIL() << "no broker under CI: " << missing;
        }
        GTEST_SKIP() << "no broker: " << missing;
    }
    const Row& row = GetParam();
    const BrokerRun run = run_with_broker([&row](const BrokerPki& pki) {
        if (row.listener != Listener::kNone) {
            const int port = row.listener == Listener::kSilent ? kSilentPort : kBacklogPort;
            if (listen_on(port) < 0 ||
                (row.listener == Listener::kFullBacklog && !fill_backlog(port))) {
                return std::string("no listener of the row's own");
            }
        }
        ConnectRequest q = base_request();
        row.request(q, pki);
        const ConnectResult result = connect_attempt(q);
        if (row.log_wait != nullptr) {
            static_cast<void>(wait_for_broker_log(pki, row.log_wait, 3000));
        }
        return test::encode_result(result);
    });
    if (!run.no_namespace.empty()) {
        if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true") {
            FAIL() << "no network namespace under CI: " << run.no_namespace;
        }
        GTEST_SKIP() << "no network namespace: " << run.no_namespace;
    }
    ASSERT_EQ(run.error, "") << run.broker_log;
    const ConnectResult r = test::decode_result(run.output);
    std::printf("connect %s: %s, %s, %ld ms\n", row.name,
                std::string(connect_stage_name(r.stage)).c_str(),
                std::string(connect_outcome_name(r.outcome)).c_str(), r.milliseconds);
    SCOPED_TRACE(run.broker_log);
    EXPECT_EQ(r.stage, row.stage) << r.reason;
    EXPECT_EQ(r.outcome, row.outcome) << r.reason;
    EXPECT_EQ(r.cause, row.cause) << r.reason;
    if (!row.reason.empty()) {
        EXPECT_EQ(r.reason, row.reason);
    } else {
        EXPECT_NE(r.reason, "");
    }
    if (row.check) {
        row.check(r, run.broker_log);
    }
}

INSTANTIATE_TEST_SUITE_P(Broker, BrokerTable, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& row) { return row.param.name; });

}  // namespace
}  // namespace quorbix::e2e
