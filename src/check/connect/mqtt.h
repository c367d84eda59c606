// The two packets of the connection check, as MQTT 3.1.1 lays them out: the
// client's CONNECT and DISCONNECT, and the broker's CONNACK. Pure functions
// from fields to bytes and from bytes to fields; nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorbix {

// The fields of a CONNECT. No will is ever sent.
struct MqttConnect {
    std::string_view client_id;
    // Absent: the flag is clear and the field is left out.
    std::optional<std::string_view> user;
    std::optional<std::string_view> password;
    std::uint16_t keep_alive = 0;
};

// The longest UTF-8 string or binary field a 2-byte length can carry.
inline constexpr std::size_t kMqttMaxField = 65535;

// Returns the CONNECT for these fields: CleanSession 0, so that a session the
// broker keeps is neither discarded nor changed, except with an empty client
// id, which the standard accepts only with CleanSession 1; empty when a field
// is longer than kMqttMaxField or a password comes without a user.
std::string mqtt_connect_packet(const MqttConnect& fields);

// Returns the DISCONNECT packet.
std::string mqtt_disconnect_packet();

// What the first bytes from the broker say about its CONNACK.
struct MqttConnack {
    enum class Status {
        kIncomplete,  // a prefix of a well-formed CONNACK: read on
        kAccepted,    // a whole CONNACK with return code 0
        kRefused,     // a whole CONNACK with return code 1 to 255
        kMalformed,   // not a CONNACK
    } status = Status::kIncomplete;
    bool session_present = false;
    std::uint8_t return_code = 0;
    // Bytes the CONNACK took (4 when whole); what follows is not read.
    std::size_t size = 0;
};

// Parses the start of what the broker sent after the CONNECT.
MqttConnack mqtt_parse_connack(std::string_view bytes);

// Returns the meaning of a CONNACK return code as MQTT 3.1.1 names it
// ("not authorized" for 5), or "a return code the standard reserves".
std::string_view mqtt_connack_meaning(std::uint8_t return_code);

}  // namespace quorbix
