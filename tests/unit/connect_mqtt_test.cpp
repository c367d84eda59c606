// The CONNECT, DISCONNECT and CONNACK of the connection check against the
// bytes MQTT 3.1.1 lays out (sections 2.2.3, 3.1, 3.2 and 3.14), written out
// by hand: fixed header, Remaining Length, protocol name "MQTT", level 4,
// connect flags (7 user, 6 password, 1 CleanSession), keep-alive MSB first,
// then each field with its 2-byte length.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "check/connect/mqtt.h"

namespace quorbix {
namespace {

// The bytes of a list of numbers.
std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (const int b : list) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

// The variable header up to the flags: 00 04 'M' 'Q' 'T' 'T', level 4.
std::string header_up_to_flags() {
    return bytes({0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04});
}

struct ConnectRow {
    const char* name;
    MqttConnect fields;
    std::string expected;
};

TEST(ConnectMqtt, ConnectPacketsHaveTheStandardsBytes) {
    const ConnectRow rows[] = {
        {"client id only, CleanSession 0",
         {"gw", std::nullopt, std::nullopt, 60},
         bytes({0x10, 14}) + header_up_to_flags() +
             bytes({0x00, 0x00, 0x3c, 0x00, 0x02, 'g', 'w'})},
        {"user and password",
         {"gw", "u", "pw", 60},
         bytes({0x10, 21}) + header_up_to_flags() +
             bytes(
                 {0xc0, 0x00, 0x3c, 0x00, 0x02, 'g', 'w', 0x00, 0x01, 'u', 0x00, 0x02, 'p', 'w'})},
        {"user without password",
         {"gw", "u", std::nullopt, 60},
         bytes({0x10, 17}) + header_up_to_flags() +
             bytes({0x80, 0x00, 0x3c, 0x00, 0x02, 'g', 'w', 0x00, 0x01, 'u'})},
        {"empty client id: CleanSession 1",
         {"", std::nullopt, std::nullopt, 60},
         bytes({0x10, 12}) + header_up_to_flags() + bytes({0x02, 0x00, 0x3c, 0x00, 0x00})},
        {"keep-alive 300 most significant byte first",
         {"gw", std::nullopt, std::nullopt, 300},
         bytes({0x10, 14}) + header_up_to_flags() +
             bytes({0x00, 0x01, 0x2c, 0x00, 0x02, 'g', 'w'})},
        {"keep-alive 65535",
         {"gw", std::nullopt, std::nullopt, 65535},
         bytes({0x10, 14}) + header_up_to_flags() +
             bytes({0x00, 0xff, 0xff, 0x00, 0x02, 'g', 'w'})},
        {"an empty password is still a field",
         {"gw", "u", "", 0},
         bytes({0x10, 19}) + header_up_to_flags() +
             bytes({0xc0, 0x00, 0x00, 0x00, 0x02, 'g', 'w', 0x00, 0x01, 'u', 0x00, 0x00})},
    };
    for (const ConnectRow& row : rows) {
        EXPECT_EQ(mqtt_connect_packet(row.fields), row.expected) << row.name;
    }
}

// The Remaining Length takes seven bits a byte, lowest first, the top bit
// marking that another byte follows: 127 is 7f, 128 is 80 01, 65547 is 8b 80 04.
TEST(ConnectMqtt, RemainingLengthGrowsAByteEverySevenBits) {
    struct Row {
        std::size_t client_id_size;
        std::string length;  // the Remaining Length bytes
    };
    const Row rows[] = {
        {115, bytes({0x7f})},                // 10 + 2 + 115 = 127
        {116, bytes({0x80, 0x01})},          // 128
        {120, bytes({0x84, 0x01})},          // 132
        {16371, bytes({0xff, 0x7f})},        // 16383
        {16372, bytes({0x80, 0x80, 0x01})},  // 16384
        {65535, bytes({0x8b, 0x80, 0x04})},  // 65547
    };
    for (const Row& row : rows) {
        const std::string id(row.client_id_size, 'c');
        const std::string packet = mqtt_connect_packet({id, std::nullopt, std::nullopt, 60});
        const std::string expected = bytes({0x10}) + row.length + header_up_to_flags() +
                                     bytes({0x00, 0x00, 0x3c}) +
                                     bytes({static_cast<int>(row.client_id_size >> 8U),
                                            static_cast<int>(row.client_id_size & 0xffU)}) +
                                     id;
        EXPECT_EQ(packet, expected) << row.client_id_size;
    }
}

TEST(ConnectMqtt, NoConnectForWhatTheStandardCannotCarry) {
    const std::string too_long(65536, 'x');
    EXPECT_EQ(mqtt_connect_packet({too_long, std::nullopt, std::nullopt, 60}), "");
    EXPECT_EQ(mqtt_connect_packet({"gw", too_long, std::nullopt, 60}), "");
    EXPECT_EQ(mqtt_connect_packet({"gw", "u", too_long, 60}), "");
    // A password without a user: MQTT 3.1.1 forbids the password flag alone.
    EXPECT_EQ(mqtt_connect_packet({"gw", std::nullopt, "pw", 60}), "");
}

TEST(ConnectMqtt, DisconnectIsE000) {
    EXPECT_EQ(mqtt_disconnect_packet(), bytes({0xe0, 0x00}));
}

TEST(ConnectMqtt, ConnackParsing) {
    using Status = MqttConnack::Status;
    struct Row {
        const char* name;
        std::string in;
        Status status;
        bool session_present;
        int return_code;
        std::size_t size;
    };
    const Row rows[] = {
        {"accepted", bytes({0x20, 0x02, 0x00, 0x00}), Status::kAccepted, false, 0, 4},
        {"accepted with a session", bytes({0x20, 0x02, 0x01, 0x00}), Status::kAccepted, true, 0, 4},
        {"followed by a PUBLISH, left unread",
         bytes({0x20, 0x02, 0x01, 0x00, 0x32, 0x05, 0x00, 0x01, 't', 0x00, 0x07}),
         Status::kAccepted, true, 0, 4},
        {"not authorized", bytes({0x20, 0x02, 0x00, 0x05}), Status::kRefused, false, 5, 4},
        {"bad user name or password", bytes({0x20, 0x02, 0x00, 0x04}), Status::kRefused, false, 4,
         4},
        {"unacceptable protocol version", bytes({0x20, 0x02, 0x00, 0x01}), Status::kRefused, false,
         1, 4},
        {"a reserved code", bytes({0x20, 0x02, 0x00, 0x06}), Status::kRefused, false, 6, 4},
        {"nothing yet", "", Status::kIncomplete, false, 0, 0},
        {"the type only", bytes({0x20}), Status::kIncomplete, false, 0, 0},
        {"the fixed header only", bytes({0x20, 0x02}), Status::kIncomplete, false, 0, 0},
        {"no return code yet", bytes({0x20, 0x02, 0x00}), Status::kIncomplete, false, 0, 0},
        {"a refusal claiming a session", bytes({0x20, 0x02, 0x01, 0x05}), Status::kMalformed, false,
         0, 0},
        {"a reserved flag bit", bytes({0x20, 0x02, 0x02, 0x00}), Status::kMalformed, false, 0, 0},
        {"remaining length 3", bytes({0x20, 0x03, 0x00, 0x00, 0x00}), Status::kMalformed, false, 0,
         0},
        {"flags in the fixed header", bytes({0x21, 0x02, 0x00, 0x00}), Status::kMalformed, false, 0,
         0},
        {"a PUBLISH first", bytes({0x30, 0x02, 0x00, 0x00}), Status::kMalformed, false, 0, 0},
        {"a TLS alert", bytes({0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28}), Status::kMalformed,
         false, 0, 0},
        {"a wrong second byte alone", bytes({0x20, 0x00}), Status::kMalformed, false, 0, 0},
    };
    for (const Row& row : rows) {
        const MqttConnack ack = mqtt_parse_connack(row.in);
        EXPECT_EQ(ack.status, row.status) << row.name;
        if (row.status == Status::kAccepted || row.status == Status::kRefused) {
            EXPECT_EQ(ack.session_present, row.session_present) << row.name;
            EXPECT_EQ(ack.return_code, row.return_code) << row.name;
            EXPECT_EQ(ack.size, row.size) << row.name;
        }
    }
}

TEST(ConnectMqtt, ConnackMeaningsAsTheStandardNamesThem) {
    EXPECT_EQ(mqtt_connack_meaning(0), "connection accepted");
    EXPECT_EQ(mqtt_connack_meaning(1), "unacceptable protocol version");
    EXPECT_EQ(mqtt_connack_meaning(2), "identifier rejected");
    EXPECT_EQ(mqtt_connack_meaning(3), "server unavailable");
    EXPECT_EQ(mqtt_connack_meaning(4), "bad user name or password");
    EXPECT_EQ(mqtt_connack_meaning(5), "not authorized");
    EXPECT_EQ(mqtt_connack_meaning(6), "a return code the standard reserves");
    EXPECT_EQ(mqtt_connack_meaning(255), "a return code the standard reserves");
}

}  // namespace
}  // namespace quorbix
