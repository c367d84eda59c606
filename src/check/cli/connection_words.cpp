#include "check/cli/connection_words.h"

#include <string_view>
#include <utility>

#include "check/text/text.h"
#include "check/tls/tls_openssl.h"

namespace quorbix {

namespace {

// What the launcher does, for a connection that was accepted, failed, or
// was not tried.
constexpr const char kDaemonConnects[] =
    "the launcher starts the daemon, which connects with these settings";
constexpr const char kDaemonFails[] =
    "the launcher starts the daemon and exits 0, and the daemon's connection fails the same way; "
    "only the daemon's log, or the broker's, shows it";
constexpr const char kNotTried[] =
    "the launcher starts the daemon; whether the daemon connects was not tried";
constexpr const char kNoConnectSent[] =
    "the launcher starts the daemon; whether the broker accepts its CONNECT was not tried";

// A text from the network or the settings, quoted and escaped.
std::string named(std::string_view text) {
    return quoted_text(text, 200);
}

bool reached(const ConnectResult& r, ConnectStage stage) {
    return static_cast<int>(r.stage) >= static_cast<int>(stage);
}

// The notes that go with a result: how the broker was verified, what was
// not sent, and what went wrong with the token tool.
std::string notes(const ConnectionFacts& facts, const ConnectResult& r) {
    std::string text;
    if (r.default_trust_store && reached(r, ConnectStage::kTls)) {
        text +=
            "; no CA is staged, so this machine's trust store verified the broker, not the "
            "device's";
    }
    if (reached(r, ConnectStage::kMqtt) && r.outcome != ConnectOutcome::kNotTried) {
        if (facts.anonymous) {
            text += "; no user or password was sent, since QUORBIX_MQTT_ANONY is not 0";
        } else if (r.password_not_sent) {
            text +=
                "; the password was not sent: QUORBIX_MQTT_USR is empty, and MQTT 3.1.1 "
                "sends no password without a user";
        }
    }
    for (const std::string& trouble : facts.token_trouble) {
        text += "; " + trouble;
    }
    return text;
}

std::string within(const ConnectionFacts& facts) {
    return "within the time (" + dec(static_cast<std::uint64_t>(facts.timeout_seconds)) + " s)";
}

// A certificate the broker presented: its names, issuer and dates.
std::string described(const PeerCertificate& c) {
    return "subject " + named(c.subject) + ", issuer " + named(c.issuer) + ", valid from " +
           utc_text(c.not_before) + " to " + utc_text(c.not_after);
}

ConnectionFinding dns(const ConnectionFacts& facts, const ConnectResult& r) {
    const std::string host =
        facts.host.empty() ? "the MQTT host is empty, and" : "the MQTT host " + named(facts.host);
    return {Code::kConnectDns, ConnectionSetting::kHost, host + " does not resolve: " + r.reason,
            kDaemonFails,
            "check QUORBIX_MQTT_ADDR, and the name service of this machine and of the device"};
}

ConnectionFinding tcp(const ConnectionFacts& facts, const ConnectResult& r) {
    std::string message =
        "no TCP connection to " + named(facts.host) + " port " + dec(facts.port) + ": ";
    bool all_refused = true;
    for (std::size_t i = 0; i < r.failed_addresses.size(); ++i) {
        const AddressTried& a = r.failed_addresses[i];
        message +=
            (i == 0 ? "" : "; ") + a.address + ": " +
            (a.cause == ConnectCause::kTcpTimedOut ? "no answer " + within(facts) : a.reason);
        all_refused = all_refused && a.cause == ConnectCause::kTcpRefused;
    }
    return {Code::kConnectTcp, ConnectionSetting::kHostAndPort, message, kDaemonFails,
            all_refused ? "check QUORBIX_MQTT_ADDR and QUORBIX_MQTT_PORT: nothing listens there"
                        : "check QUORBIX_MQTT_ADDR and QUORBIX_MQTT_PORT, and that the broker "
                          "can be reached from the device"};
}

ConnectionFinding tls_verify(const ConnectionFacts& facts, const ConnectResult& r) {
    std::string message = "the broker's certificate fails verification: " + r.reason;
    if (r.peer.depth >= 0) {
        message += "; the broker's certificate: " + described(r.peer);
    }
    if (r.failing.depth > 0) {
        message += "; the certificate at depth " +
                   dec(static_cast<std::uint64_t>(r.failing.depth)) +
                   " of its chain: " + described(r.failing);
    }
    const bool name = connect_verify_error_is_name(r.verify_error);
    if (name) {
        std::string names;
        for (const std::string& n : r.peer.names) {
            names += (names.empty() ? "" : ", ") + named(n);
        }
        message += "; QUORBIX_MQTT_ADDR is " + named(r.host_checked) +
                   ", and the certificate names " + (names.empty() ? "none" : names);
    }
    std::string remedy =
        "stage in QUORBIX_CA the CA that issued the broker's certificate, as PEM text";
    if (connect_verify_error_is_dates(r.verify_error)) {
        message += "; this machine's clock reads " + utc_text(facts.now);
        remedy =
            "check this machine's clock and the device's, and the dates of the broker's "
            "certificate";
    } else if (name) {
        remedy =
            "set QUORBIX_MQTT_ADDR to a name the broker's certificate holds, or give the "
            "broker a certificate for this host";
    }
    return {Code::kConnectTlsVerify, name ? ConnectionSetting::kHost : ConnectionSetting::kCa,
            message, kDaemonFails, remedy};
}

// The words for the client certificate alerts of the broker.
std::string alert_remedy(const ConnectionFacts& facts, const ConnectResult& r) {
    constexpr int kCertificateExpired = 45;
    constexpr int kUnknownCa = 48;
    constexpr int kCertificateRequired = 116;
    if (!connect_alert_is_about_client_certificate(r.tls_alert)) {
        return "the broker's log says why";
    }
    if (facts.tls_mode != 2) {
        return r.tls_alert == kCertificateRequired
                   ? "the broker asks for a client certificate: set QUORBIX_MQTT_TLS=2, and stage "
                     "one in QUORBIX_LOCALCERT and its key in QUORBIX_LOCALKEY"
                   : "the broker's log says why";
    }
    switch (r.tls_alert) {
        case kCertificateExpired:
            return "stage in QUORBIX_LOCALCERT a client certificate within its dates";
        case kUnknownCa:
            return "stage in QUORBIX_LOCALCERT a client certificate of a CA the broker trusts";
        default:
            return "stage in QUORBIX_LOCALCERT a client certificate the broker accepts; the "
                   "broker's log says why it refused this one";
    }
}

// The staged file a result names, in words and by its setting.
std::pair<const char*, ConnectionSetting> staged(ConnectFile file) {
    switch (file) {
        case ConnectFile::kCert:
            return {"client certificate", ConnectionSetting::kLocalCert};
        case ConnectFile::kKey:
            return {"client key", ConnectionSetting::kLocalKey};
        default:
            return {"CA certificate", ConnectionSetting::kCa};
    }
}

ConnectionFinding tls(const ConnectionFacts& facts, const ConnectResult& r) {
    ConnectionFinding f{Code::kConnectTls, ConnectionSetting::kTlsMode, {}, kDaemonFails, {}};
    const std::string mode = "TLS mode " + dec(facts.tls_mode);
    switch (r.cause) {
        case ConnectCause::kTlsStagedFile: {
            const auto [name, setting] = staged(r.staged_file);
            f.setting = setting;
            f.message = r.staged_der ? std::string("the staged ") + name +
                                           " is DER, not PEM: an OpenSSL-based client loads it "
                                           "from its file as PEM only (see tls-der)"
                                     : std::string("the staged ") + name +
                                           " cannot be loaded as PEM: " + r.reason;
            f.remedy = std::string("stage the ") + name + " as PEM text";
            return f;
        }
        case ConnectCause::kTlsAlert:
            f.message =
                r.alert_after_handshake
                    ? "the broker sent the TLS alert '" + r.reason +
                          "' at the first read after the handshake (" + r.tls_version + ")"
                    : "the broker ended the TLS handshake with the alert '" + r.reason + "'";
            if (facts.tls_mode == 2 && connect_alert_is_about_client_certificate(r.tls_alert)) {
                f.setting = ConnectionSetting::kLocalCert;
            }
            f.remedy = alert_remedy(facts, r);
            return f;
        case ConnectCause::kTlsNotSpoken:
            f.message = mode + ", and " + r.address + " does not answer in TLS: " + r.reason;
            f.remedy = "set QUORBIX_MQTT_TLS=0, or QUORBIX_MQTT_PORT to the broker's TLS port";
            return f;
        case ConnectCause::kTlsOnPlainPort:
            f.message = mode + ", and " + r.address + " answers in TLS";
            f.remedy =
                "set QUORBIX_MQTT_TLS to 1 or 2, or QUORBIX_MQTT_PORT to the broker's port "
                "without TLS";
            return f;
        case ConnectCause::kTlsTimedOut:
            f.message = "the TLS handshake with " + r.address + " did not end " + within(facts);
            return f;
        default:
            f.message = "the TLS handshake with " + r.address + " failed: " + r.reason;
            return f;
    }
}

ConnectionFinding mqtt(const ConnectionFacts& facts, const ConnectResult& r) {
    ConnectionFinding f{Code::kConnectMqtt, ConnectionSetting::kHost, {}, kDaemonFails, {}};
    switch (r.cause) {
        case ConnectCause::kMqttRefused:
            f.message = "the broker refused the connection: CONNACK " +
                        dec(static_cast<std::uint64_t>(r.connack)) + ", " + r.reason;
            if (r.connack == 4 || r.connack == 5) {
                f.setting = ConnectionSetting::kPassword;
                f.remedy =
                    facts.token_password
                        ? "check QUORBIX_MQTT_USR and the token, whose key is QUORBIX_MQTT_PWD"
                        : "check QUORBIX_MQTT_USR and QUORBIX_MQTT_PWD";
            } else if (r.connack == 2) {
                f.setting = ConnectionSetting::kClientId;
                f.remedy = "check QUORBIX_CLIENT_ID: the broker does not admit this client id";
            } else {
                f.remedy = "the broker's log says why";
            }
            return f;
        case ConnectCause::kMqttMalformed:
            f.message = "the broker answered the CONNECT with something other than a CONNACK";
            return f;
        case ConnectCause::kMqttTimedOut:
            f.message = "no CONNACK came from " + r.address + " " + within(facts);
            return f;
        default:
            f.message = "the broker closed the connection without a CONNACK: " + r.reason;
            f.remedy = "the broker's log says why";
            return f;
    }
}

ConnectionFinding not_tried(const ConnectionFacts& facts, const ConnectResult& r) {
    ConnectionFinding f{Code::kConnectNotTried, ConnectionSetting::kNone, {}, kNotTried, {}};
    switch (r.cause) {
        case ConnectCause::kStoppedBeforeMqtt:
            f.message = std::string(
                            "no CONNECT was sent: the password is the token tool's output, "
                            "which was not given; ") +
                        (r.stage == ConnectStage::kTls ? "TCP and TLS (" + r.tls_version + ")"
                                                       : std::string("TCP")) +
                        " to " + r.address + " stood in " +
                        dec(static_cast<std::uint64_t>(r.milliseconds)) + " ms";
            f.launcher_does = kNoConnectSent;
            f.remedy =
                "give the token with --token or --token-file, or let the check run the token tool "
                "with --run-token-tool";
            return f;
        case ConnectCause::kPortOutOfRange:
            f.message = "no connection was tried: MQTT port " + r.reason + " is outside 1 to 65535";
            return f;
        case ConnectCause::kKeepAliveOutOfRange:
            f.message =
                "no connection was tried: the keep-alive " + r.reason + " is outside 0 to 65535";
            return f;
        case ConnectCause::kFieldTooLong:
            f.message = "no connection was tried: the " + r.reason +
                        " is longer than the 65535 bytes an MQTT field holds";
            return f;
        default:
            f.message = "no connection was tried: TLS mode " + dec(facts.tls_mode) +
                        " is not 0, 1 or 2, and what the daemon makes of it is not known";
            return f;
    }
}

}  // namespace

ConnectionFinding connection_finding(const ConnectionFacts& facts, const ConnectResult& r) {
    ConnectionFinding f;
    if (r.outcome == ConnectOutcome::kNotTried || r.cause == ConnectCause::kStoppedBeforeMqtt) {
        f = not_tried(facts, r);
    } else if (r.cause == ConnectCause::kAccepted) {
        f = {Code::kConnectOk,
             ConnectionSetting::kHost,
             "the broker at " + r.address + " accepted the connection " +
                 (r.tls_version.empty() ? std::string("without TLS") : "over " + r.tls_version) +
                 " in " + dec(static_cast<std::uint64_t>(r.milliseconds)) + " ms (CONNACK 0)",
             kDaemonConnects,
             {}};
    } else {
        switch (r.stage) {
            case ConnectStage::kDns:
                f = dns(facts, r);
                break;
            case ConnectStage::kTcp:
                f = tcp(facts, r);
                break;
            case ConnectStage::kTls:
                f = r.cause == ConnectCause::kTlsVerify ? tls_verify(facts, r) : tls(facts, r);
                break;
            default:
                f = mqtt(facts, r);
                break;
        }
    }
    f.message += notes(facts, r);
    return f;
}

ConnectionFinding connection_not_tried(const std::string& why, const std::string& launcher_does) {
    return {Code::kConnectNotTried,
            ConnectionSetting::kNone,
            "no connection was tried: " + why,
            launcher_does,
            {}};
}

}  // namespace quorbix
