#include "check/connect/connect.h"

#include <openssl/x509_vfy.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "check/connect/mqtt.h"
#include "check/connect/net.h"
#include "check/connect/tls_link.h"

namespace quorbix {

namespace {

// Ends the result with a cause at a stage; ok for an acceptance or a stop
// before MQTT, failed otherwise.
void finish(ConnectResult& r, ConnectStage stage, ConnectCause cause, std::string reason) {
    r.stage = stage;
    r.cause = cause;
    const bool ok = cause == ConnectCause::kAccepted || cause == ConnectCause::kStoppedBeforeMqtt;
    r.outcome = ok ? ConnectOutcome::kOk : ConnectOutcome::kFailed;
    r.reason = std::move(reason);
}

// Ends the result as not tried, naming the value that kept it from being tried.
void not_tried(ConnectResult& r, ConnectCause cause, std::string value) {
    r.stage = ConnectStage::kDns;
    r.cause = cause;
    r.outcome = ConnectOutcome::kNotTried;
    r.reason = std::move(value);
}

// Returns the cause of a failed TCP connect.
ConnectCause tcp_cause(const TcpConnection& c) {
    if (c.status == NetStatus::kTimedOut || c.error == ETIMEDOUT) {
        return ConnectCause::kTcpTimedOut;
    }
    switch (c.error) {
        case ECONNREFUSED:
            return ConnectCause::kTcpRefused;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
        case EADDRNOTAVAIL:
            return ConnectCause::kTcpUnreachable;
        default:
            return ConnectCause::kTcpFailed;
    }
}

// The connection the MQTT packets travel over: the socket, or TLS over it.
struct Channel {
    int fd = -1;
    TlsLink* tls = nullptr;

    [[nodiscard]] TlsStep write(std::string_view bytes, Deadline deadline) const {
        if (tls != nullptr) {
            return tls->write(bytes, deadline);
        }
        return step_of(send_all(fd, bytes, deadline));
    }
    [[nodiscard]] TlsStep read(std::string& out, Deadline deadline) const {
        if (tls != nullptr) {
            return tls->read(out, deadline);
        }
        return step_of(receive_some(fd, out, deadline));
    }
    static TlsStep step_of(NetResult n) {
        switch (n.status) {
            case NetStatus::kOk:
                return {};
            case NetStatus::kClosed:
                return {TlsStep::Status::kClosed, "the broker closed the connection"};
            case NetStatus::kTimedOut:
                return {TlsStep::Status::kTimedOut, "timed out"};
            case NetStatus::kError:
                break;
        }
        return {TlsStep::Status::kFailed, errno_text(n.error)};
    }
};

// Ends the result with the broker's alert, for a TLS session that has one.
bool finish_with_alert(ConnectResult& r, const TlsLink* tls) {
    if (tls == nullptr || tls->alert() < 0) {
        return false;
    }
    r.tls_alert = tls->alert();
    r.alert_after_handshake = tls->alert_after_handshake();
    finish(r, ConnectStage::kTls, ConnectCause::kTlsAlert, tls_alert_name(tls->alert()));
    return true;
}

// Sends the CONNECT, reads the CONNACK and ends the result by what came;
// on acceptance sends the DISCONNECT. Nothing the broker sends after the
// CONNACK is read, so nothing is acknowledged.
void exchange(ConnectResult& r, const Channel& channel, const std::string& connect,
              const NetAddress& address, Deadline deadline) {
    // A failed write is not the end: the broker's reason (an alert, a TLS
    // record) may already be on its way.
    const TlsStep written = channel.write(connect, deadline);
    std::string in;
    MqttConnack ack = mqtt_parse_connack(in);
    TlsStep step = written;
    while (ack.status == MqttConnack::Status::kIncomplete) {
        step = channel.read(in, deadline);
        if (step.status != TlsStep::Status::kOk) {
            break;
        }
        ack = mqtt_parse_connack(in);
    }
    if (finish_with_alert(r, channel.tls)) {
        return;
    }
    if (channel.tls == nullptr && looks_like_tls_record(in)) {
        finish(r, ConnectStage::kTls, ConnectCause::kTlsOnPlainPort,
               "the broker answered with TLS");
        return;
    }
    switch (ack.status) {
        case MqttConnack::Status::kAccepted: {
            r.connack = 0;
            r.session_present = ack.session_present;
            static_cast<void>(channel.write(mqtt_disconnect_packet(), deadline));
            if (channel.tls != nullptr) {
                channel.tls->close(deadline);
            }
            finish(r, ConnectStage::kDone, ConnectCause::kAccepted, "connection accepted");
            return;
        }
        case MqttConnack::Status::kRefused:
            r.connack = ack.return_code;
            finish(r, ConnectStage::kMqtt, ConnectCause::kMqttRefused,
                   std::string(mqtt_connack_meaning(ack.return_code)));
            return;
        case MqttConnack::Status::kMalformed:
            finish(r, ConnectStage::kMqtt, ConnectCause::kMqttMalformed,
                   "the broker answered with something other than a CONNACK");
            return;
        case MqttConnack::Status::kIncomplete:
            break;
    }
    if (step.status == TlsStep::Status::kTimedOut) {
        finish(r, ConnectStage::kMqtt, ConnectCause::kMqttTimedOut, "no CONNACK within the time");
        return;
    }
    // A TLS port closes on a plain CONNECT without a word: ask it for TLS.
    if (channel.tls == nullptr && in.empty() && remaining_ms(deadline) > 0 &&
        answers_tls(address, deadline)) {
        finish(r, ConnectStage::kTls, ConnectCause::kTlsOnPlainPort, "the port answers TLS");
        return;
    }
    finish(r, ConnectStage::kMqtt, ConnectCause::kMqttClosed, step.reason);
}

// Ends the result by how the handshake failed.
void handshake_failed(ConnectResult& r, const TlsLink& tls, const TlsStep& step) {
    if (finish_with_alert(r, &tls)) {
        return;
    }
    if (tls.verify_error() != X509_V_OK) {
        r.verify_error = tls.verify_error();
        r.peer = tls.peer();
        r.failing = tls.failing();
        finish(r, ConnectStage::kTls, ConnectCause::kTlsVerify,
               X509_verify_cert_error_string(tls.verify_error()));
        return;
    }
    if (step.status == TlsStep::Status::kTimedOut) {
        finish(r, ConnectStage::kTls, ConnectCause::kTlsTimedOut,
               "no end of the handshake within the time");
        return;
    }
    const ConnectCause cause = looks_like_tls_record(tls.first_bytes())
                                   ? ConnectCause::kTlsFailed
                                   : ConnectCause::kTlsNotSpoken;
    finish(r, ConnectStage::kTls, cause, step.reason);
}

// Runs TLS (for modes 1 and 2) and MQTT over a connected socket.
void over_connection(ConnectResult& r, const ConnectRequest& request, const TlsSetup& setup, int fd,
                     const std::string& connect, const NetAddress& address, Deadline deadline) {
    if (request.tls_mode == 0) {
        if (request.stop_before_mqtt) {
            finish(r, ConnectStage::kTcp, ConnectCause::kStoppedBeforeMqtt, "no password to send");
            return;
        }
        exchange(r, Channel{fd, nullptr}, connect, address, deadline);
        return;
    }
    r.host_checked = request.host;
    if (setup.ctx == nullptr) {
        r.staged_file = setup.failed_file;
        r.staged_der = setup.failed_der;
        const ConnectCause cause = setup.failed_file == ConnectFile::kNone
                                       ? ConnectCause::kTlsFailed
                                       : ConnectCause::kTlsStagedFile;
        finish(r, ConnectStage::kTls, cause, setup.reason);
        return;
    }
    TlsLink tls(setup.ctx.get(), fd, request.host);
    const TlsStep step = tls.handshake(deadline);
    if (step.status != TlsStep::Status::kOk) {
        handshake_failed(r, tls, step);
        return;
    }
    r.tls_version = tls.version();
    if (request.stop_before_mqtt) {
        tls.close(deadline);
        finish(r, ConnectStage::kTls, ConnectCause::kStoppedBeforeMqtt, "no password to send");
        return;
    }
    exchange(r, Channel{fd, &tls}, connect, address, deadline);
}

// Checks the values that decide whether an attempt can be made at all, and
// forms the CONNECT; false when the result says why nothing was tried.
bool prepare(ConnectResult& r, const ConnectRequest& request, std::string& connect) {
    if (request.tls_mode > 2) {
        not_tried(r, ConnectCause::kTlsModeUnknown, std::to_string(request.tls_mode));
        return false;
    }
    if (request.port == 0 || request.port > 65535) {
        not_tried(r, ConnectCause::kPortOutOfRange, std::to_string(request.port));
        return false;
    }
    if (request.keep_alive > 65535) {
        not_tried(r, ConnectCause::kKeepAliveOutOfRange, std::to_string(request.keep_alive));
        return false;
    }
    MqttConnect fields;
    fields.client_id = request.client_id;
    fields.keep_alive = static_cast<std::uint16_t>(request.keep_alive);
    if (request.send_credentials && !request.user.empty()) {
        fields.user = request.user;
        if (!request.password.empty()) {
            fields.password = request.password;
        }
    }
    r.password_not_sent =
        request.send_credentials && request.user.empty() && !request.password.empty();
    const std::pair<std::string_view, std::optional<std::string_view>> lengths[] = {
        {"client id", fields.client_id}, {"user", fields.user}, {"password", fields.password}};
    for (const auto& [name, field] : lengths) {
        if (field && field->size() > kMqttMaxField) {
            not_tried(r, ConnectCause::kFieldTooLong, std::string(name));
            return false;
        }
    }
    connect = mqtt_connect_packet(fields);
    return true;
}

}  // namespace

ConnectResult connect_attempt(const ConnectRequest& request) {
    ConnectResult r;
    const std::int64_t start = monotonic_ms();
    std::string connect;
    if (!prepare(r, request, connect)) {
        return r;
    }
    // The staged files are loaded before the network is touched; a file
    // that cannot be loaded fails the TLS stage once TCP stands.
    TlsSetup setup;
    if (request.tls_mode != 0) {
        setup = tls_setup(request);
        r.default_trust_store = setup.default_trust_store;
    }
    const Resolved resolved = resolve_host(request.host, static_cast<std::uint16_t>(request.port));
    if (!resolved.error.empty()) {
        finish(r, ConnectStage::kDns, ConnectCause::kDnsFailed, resolved.error);
        r.milliseconds = static_cast<long>(monotonic_ms() - start);
        return r;
    }
    const Deadline deadline = deadline_in(request.timeout_ms);
    for (const NetAddress& address : resolved.addresses) {
        if (!r.failed_addresses.empty() && remaining_ms(deadline) == 0) {
            break;
        }
        r.address = address.text;
        const TcpConnection tcp = tcp_connect(address, deadline);
        if (tcp.status == NetStatus::kOk) {
            over_connection(r, request, setup, tcp.fd.get(), connect, address, deadline);
            r.milliseconds = static_cast<long>(monotonic_ms() - start);
            return r;
        }
        const ConnectCause cause = tcp_cause(tcp);
        const std::string reason =
            cause == ConnectCause::kTcpTimedOut ? "timed out" : errno_text(tcp.error);
        r.failed_addresses.push_back(AddressTried{address.text, cause, reason});
        finish(r, ConnectStage::kTcp, cause, reason);
    }
    r.milliseconds = static_cast<long>(monotonic_ms() - start);
    return r;
}

std::string_view connect_stage_name(ConnectStage stage) {
    switch (stage) {
        case ConnectStage::kDns:
            return "dns";
        case ConnectStage::kTcp:
            return "tcp";
        case ConnectStage::kTls:
            return "tls";
        case ConnectStage::kMqtt:
            return "mqtt";
        case ConnectStage::kDone:
            break;
    }
    return "done";
}

std::string_view connect_outcome_name(ConnectOutcome outcome) {
    switch (outcome) {
        case ConnectOutcome::kOk:
            return "ok";
        case ConnectOutcome::kFailed:
            return "failed";
        case ConnectOutcome::kNotTried:
            break;
    }
    return "not-tried";
}

bool connect_verify_error_is_dates(int verify_error) {
    return verify_error == X509_V_ERR_CERT_HAS_EXPIRED ||
           verify_error == X509_V_ERR_CERT_NOT_YET_VALID;
}

bool connect_verify_error_is_name(int verify_error) {
    return verify_error == X509_V_ERR_HOSTNAME_MISMATCH ||
           verify_error == X509_V_ERR_IP_ADDRESS_MISMATCH;
}

bool connect_alert_is_about_client_certificate(int alert) {
    // bad_certificate, unsupported_certificate, certificate_revoked,
    // certificate_expired, certificate_unknown, unknown_ca, certificate_required.
    constexpr std::array<int, 7> kAlerts = {42, 43, 44, 45, 46, 48, 116};
    return std::find(kAlerts.begin(), kAlerts.end(), alert) != kAlerts.end();
}

}  // namespace quorbix
