// One connection attempt to the MQTT broker as the gateway would make it:
// name lookup, TCP, TLS for TLS modes 1 and 2, then an MQTT 3.1.1 CONNECT and
// its CONNACK, and a DISCONNECT when accepted. Nothing is published,
// subscribed or acknowledged, nothing is written to disk or printed, and no
// thread is started: non-blocking sockets and poll, within one time budget.
//
// The texts of a result come from the network (the broker's certificate
// names, OpenSSL's reasons): whoever prints them escapes them.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace quorbix {

// What to connect to, and with what: the values the daemon's configuration
// would hold and the exact bytes the launcher would stage.
struct ConnectRequest {
    std::string host;
    std::uint32_t port = 1883;      // outside 1 to 65535: not tried
    std::uint32_t tls_mode = 0;     // 0 plain, 1 CA, 2 CA and client certificate; others: not tried
    std::string ca;                 // the staged CA file; empty when none is staged
    std::string cert;               // the staged client certificate file (mode 2)
    std::string key;                // the staged client key file (mode 2)
    std::string client_id;          // empty: sent with CleanSession 1
    bool send_credentials = true;   // false for an anonymous gateway
    std::string user;               // not sent when empty
    std::string password;           // not sent when empty, nor without a user
    std::uint32_t keep_alive = 60;  // seconds; outside 0 to 65535: not tried
    // One budget for TCP, TLS and MQTT together, from the end of the name
    // lookup (which the resolver's own settings bound). The addresses of the
    // host are tried in the resolver's order, each with what remains of the
    // budget, as long as TCP fails; TLS and MQTT go on over the first that
    // connects.
    int timeout_ms = 10000;
    // No password is known: stop after the TLS handshake (after TCP in mode 0).
    bool stop_before_mqtt = false;
};

// The stage an attempt ended in (its JSON names: dns, tcp, tls, mqtt, done).
enum class ConnectStage { kDns, kTcp, kTls, kMqtt, kDone };

// How it ended (its JSON names: ok, failed, not-tried).
enum class ConnectOutcome { kOk, kFailed, kNotTried };

// Why it ended there, with the stage each cause ends in.
enum class ConnectCause {
    kAccepted,             // done: CONNACK 0, DISCONNECT sent
    kStoppedBeforeMqtt,    // tls (tcp in mode 0): no password to send
    kPortOutOfRange,       // dns, not tried: the port is not 1 to 65535
    kKeepAliveOutOfRange,  // dns, not tried: the keep-alive is over 65535
    kTlsModeUnknown,       // dns, not tried: a TLS mode other than 0, 1 and 2
    kFieldTooLong,         // dns, not tried: the client id, user or password is over 65535 bytes
    kDnsFailed,            // dns: the host does not resolve (reason: the resolver's)
    kTcpRefused,           // tcp: nothing listens at the address
    kTcpUnreachable,       // tcp: no route to the address
    kTcpTimedOut,          // tcp: no answer within the budget
    kTcpFailed,            // tcp: any other error of connect
    kTlsStagedFile,        // tls: a staged file cannot be loaded (staged_file, staged_der)
    kTlsVerify,            // tls: the broker's certificate fails verification (verify_error)
    kTlsAlert,             // tls: an alert in the handshake or at the first read after it
    kTlsNotSpoken,         // tls: the port does not answer TLS
    kTlsOnPlainPort,       // tls: mode 0, and the port answers TLS
    kTlsTimedOut,          // tls: the handshake did not end within the budget
    kTlsFailed,            // tls: any other TLS failure (reason: OpenSSL's)
    kMqttRefused,          // mqtt: CONNACK 1 to 255 (connack; reason: its meaning)
    kMqttClosed,           // mqtt: the connection closed with no CONNACK
    kMqttMalformed,        // mqtt: the broker answered with something other than a CONNACK
    kMqttTimedOut,         // mqtt: no CONNACK within the budget
};

// A staged file that the TLS stage loads (one of the three TLS files, as
// this library names them).
enum class ConnectFile { kNone, kCa, kCert, kKey };

// A certificate the broker presented.
struct PeerCertificate {
    int depth = -1;       // its place in the chain: 0 the broker's own; -1 none
    std::string subject;  // RFC 2253
    std::string issuer;   // RFC 2253
    std::time_t not_before = 0;
    std::time_t not_after = 0;
    // Its DNS names and IP addresses (subjectAltName), or its common names
    // when it has none.
    std::vector<std::string> names;
};

// An address whose TCP connection failed.
struct AddressTried {
    std::string address;  // "127.0.0.1:1883", "[::1]:1883"
    ConnectCause cause = ConnectCause::kTcpFailed;
    std::string reason;
};

// What the attempt found.
struct ConnectResult {
    ConnectStage stage = ConnectStage::kDns;
    ConnectOutcome outcome = ConnectOutcome::kNotTried;
    ConnectCause cause = ConnectCause::kTlsModeUnknown;
    // The detail behind the cause: the resolver's, the system's or OpenSSL's
    // reason, the TLS alert's name, or the CONNACK's meaning; the value for
    // a cause that was not tried ("70000").
    std::string reason;
    // The address connected to, or the last one tried; empty before TCP.
    std::string address;
    // Every address whose TCP connection failed, in the order tried.
    std::vector<AddressTried> failed_addresses;
    std::string tls_version;  // "TLSv1.3" once a handshake ended
    int connack = -1;         // the CONNACK's return code; -1 when none was read
    bool session_present = false;
    long milliseconds = 0;  // the whole attempt, name lookup included
    // The TLS alert the broker sent (its description code), or -1; and
    // whether it came after the handshake had ended, at the first read.
    int tls_alert = -1;
    bool alert_after_handshake = false;
    // For kTlsVerify: OpenSSL's X509_V_ERR code, the broker's own
    // certificate, and the one the error is about (the same at depth 0; a CA
    // of the chain above it).
    int verify_error = 0;
    std::string host_checked;  // the name or IP address checked against the certificate
    PeerCertificate peer;
    PeerCertificate failing;
    // For kTlsStagedFile: which file, and whether it is DER rather than PEM.
    ConnectFile staged_file = ConnectFile::kNone;
    bool staged_der = false;
    // Notes: a password was given without a user and not sent; no CA was
    // staged (mode 2), so this machine's trust store verified the broker.
    bool password_not_sent = false;
    bool default_trust_store = false;
};

// Makes one attempt as the request describes and says how it ended.
ConnectResult connect_attempt(const ConnectRequest& request);

// Returns the JSON name of a stage ("dns", "tcp", "tls", "mqtt", "done").
std::string_view connect_stage_name(ConnectStage stage);

// Returns the JSON name of an outcome ("ok", "failed", "not-tried").
std::string_view connect_outcome_name(ConnectOutcome outcome);

// Whether a verify error is about the certificate's dates (expired, not yet
// valid), for which a message also gives this machine's clock.
bool connect_verify_error_is_dates(int verify_error);

// Whether a verify error is a mismatch of the host name or IP address.
bool connect_verify_error_is_name(int verify_error);

// Whether a TLS alert is about the client's certificate (bad, unsupported,
// revoked, expired, unknown, unknown CA, certificate required, access denied).
bool connect_alert_is_about_client_certificate(int alert);

}  // namespace quorbix
