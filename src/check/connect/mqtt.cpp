#include "check/connect/mqtt.h"

#include <array>

namespace quorbix {

namespace {

constexpr unsigned char kConnect = 0x10;
constexpr unsigned char kConnack = 0x20;
constexpr unsigned char kDisconnect = 0xe0;
constexpr unsigned char kProtocolLevel = 4;  // 3.1.1
constexpr unsigned char kFlagUser = 0x80;
constexpr unsigned char kFlagPassword = 0x40;
constexpr unsigned char kFlagCleanSession = 0x02;

// Appends the Remaining Length of n: seven bits a byte, the lowest first,
// the top bit set on every byte but the last.
void append_remaining_length(std::string& out, std::size_t n) {
    do {
        auto byte = static_cast<unsigned char>(n % 128);
        n /= 128;
        if (n > 0) {
            byte |= 0x80U;
        }
        out.push_back(static_cast<char>(byte));
    } while (n > 0);
}

// Appends a 16-bit number, most significant byte first.
void append_u16(std::string& out, std::size_t n) {
    out.push_back(static_cast<char>((n >> 8U) & 0xffU));
    out.push_back(static_cast<char>(n & 0xffU));
}

// Appends a field with its 2-byte length.
void append_field(std::string& out, std::string_view field) {
    append_u16(out, field.size());
    out.append(field);
}

}  // namespace

std::string mqtt_connect_packet(const MqttConnect& fields) {
    const bool too_long = fields.client_id.size() > kMqttMaxField ||
                          (fields.user && fields.user->size() > kMqttMaxField) ||
                          (fields.password && fields.password->size() > kMqttMaxField);
    if (too_long || (fields.password && !fields.user)) {
        return {};
    }
    std::string body;
    append_field(body, "MQTT");
    body.push_back(static_cast<char>(kProtocolLevel));
    unsigned char flags = fields.client_id.empty() ? kFlagCleanSession : 0;
    if (fields.user) {
        flags |= kFlagUser;
    }
    if (fields.password) {
        flags |= kFlagPassword;
    }
    body.push_back(static_cast<char>(flags));
    append_u16(body, fields.keep_alive);
    append_field(body, fields.client_id);
    if (fields.user) {
        append_field(body, *fields.user);
    }
    if (fields.password) {
        append_field(body, *fields.password);
    }
    std::string packet(1, static_cast<char>(kConnect));
    append_remaining_length(packet, body.size());
    packet += body;
    return packet;
}

std::string mqtt_disconnect_packet() {
    return std::string{static_cast<char>(kDisconnect), '\0'};
}

MqttConnack mqtt_parse_connack(std::string_view bytes) {
    MqttConnack ack;
    using Status = MqttConnack::Status;
    // The fixed header 0x20 0x02, then the acknowledge flags (bits 7 to 1
    // reserved, bit 0 Session Present) and the return code.
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (!bytes.empty() && byte(0) != kConnack) {
        ack.status = Status::kMalformed;
        return ack;
    }
    if (bytes.size() > 1 && byte(1) != 2) {
        ack.status = Status::kMalformed;
        return ack;
    }
    if (bytes.size() > 2 && (byte(2) & 0xfeU) != 0) {
        ack.status = Status::kMalformed;
        return ack;
    }
    if (bytes.size() < 4) {
        return ack;
    }
    ack.session_present = (byte(2) & 0x01U) != 0;
    ack.return_code = byte(3);
    // A refusal never claims a session.
    if (ack.return_code != 0 && ack.session_present) {
        ack.status = Status::kMalformed;
        return ack;
    }
    ack.status = ack.return_code == 0 ? Status::kAccepted : Status::kRefused;
    ack.size = 4;
    return ack;
}

std::string_view mqtt_connack_meaning(std::uint8_t return_code) {
    static constexpr std::array<const char*, 6> kMeanings = {
        "connection accepted", "unacceptable protocol version", "identifier rejected",
        "server unavailable",  "bad user name or password",     "not authorized",
    };
    if (return_code < kMeanings.size()) {
        return kMeanings[return_code];
    }
    return "a return code the standard reserves";
}

}  // namespace quorbix
