// The gateway settings record: every value the launcher takes from the
// settings file, and the table that ties each field to its settings key.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/key_index.h"

namespace quorbix {

struct CustomField {
    std::uint32_t enable = 0;
    std::string value;
};

struct CustomMessage {
    std::string name;
    std::uint32_t rule = 0;
    std::uint32_t pub_interval = 0;
    std::string topic;    // large text
    std::string content;  // large text
};

struct SerialPort {
    std::uint32_t baudrate = 0;
    std::uint32_t databits = 0;
    std::string parity;
    std::uint32_t stopbits = 0;
};

struct DirectMethod {
    std::string topic;      // large text
    std::string resp_ok;    // large text
    std::string resp_fail;  // large text
    std::string script;     // large text: Base64 of the script file
};

inline constexpr std::size_t kCustomSlots = 10;
inline constexpr std::size_t kMessageSlots = 10;
inline constexpr std::size_t kSerialPorts = 3;
inline constexpr std::size_t kDirectMethodSlots = 10;

struct GatewaySettings {
    std::uint32_t enable = 0;
    std::uint32_t log_enable = 0;
    std::string mqtt_host;
    std::uint32_t mqtt_port = 0;
    std::uint32_t mqtt_keepalive = 0;
    std::uint32_t mqtt_qos = 0;
    std::uint32_t mqtt_retain = 0;
    std::string mqtt_client_id;
    std::uint32_t mqtt_anonymous = 0;
    std::uint32_t mqtt_token_gen = 0;
    std::string mqtt_username;
    std::string mqtt_password;
    std::uint32_t mqtt_tls = 0;
    std::uint32_t mb_timeout = 0;
    std::uint32_t mb_poll = 0;
    std::string csv_data;         // large text
    std::string ca_data;          // large text (read whole, see the loader)
    std::string local_cert_data;  // large text (read whole)
    std::string local_key_data;   // large text (read whole)
    std::uint32_t topic_enable = 0;
    std::string topic;
    std::string name;
    std::string value;
    std::uint32_t time_enable = 0;
    std::string time;
    std::uint32_t ip_enable = 0;
    std::string ip;
    std::uint32_t port_enable = 0;
    std::string port;
    std::uint32_t id_enable = 0;
    std::string id;
    std::uint32_t fc_enable = 0;
    std::string fc;
    std::uint32_t addr_enable = 0;
    std::string addr;
    std::uint32_t datalen_enable = 0;
    std::string datalen;
    std::array<CustomField, kCustomSlots> custom;
    std::uint32_t msg_enable = 0;
    std::array<CustomMessage, kMessageSlots> messages;
    std::array<SerialPort, kSerialPorts> serial;
    std::uint32_t direct_method_enable = 0;
    std::array<DirectMethod, kDirectMethodSlots> direct_methods;
};

// How a field is read from the settings file.
enum class Scanner {
    kUint,       // bounded scanner, "%u" conversion
    kText,       // bounded scanner
    kLargeText,  // large-value scanner
};

// What a field means to the stages that act on it.
enum class FieldRole {
    kPlain,
    kGatewayEnable,  // the enable gate's flag
    kFlag,           // an enable flag of a feature: 0 or 1
    kTlsMode,        // 0 no TLS, 1 CA, 2 CA and client certificate
    kQos,            // MQTT QoS: 0 to 2
    kMqttPort,       // a TCP port
    kDatabits,       // serial data bits: 5 to 8
    kStopbits,       // serial stop bits: 1 or 2
    kCsv,            // Base64 of the CSV configuration file
    kCa,             // Base64 of the CA certificate
    kLocalCert,      // Base64 of the client certificate
    kLocalKey,       // Base64 of the client key
    kScript,         // Base64 of a direct-method script
};

// How a field is read and what it means; it reads as its scanner where only
// that matters.
struct FieldKind {
    Scanner scanner = Scanner::kText;
    FieldRole role = FieldRole::kPlain;

    // NOLINTNEXTLINE(google-explicit-constructor): a kind stands for its scanner
    constexpr operator Scanner() const { return scanner; }
};

// The room for a slot's key: the longest, "QUORBIX_DIRECTMETHOD_RESP_FAIL10",
// has 32 characters.
inline constexpr std::size_t kSlotKeySize = 64;

// Writes key_template into key with its one "%u" replaced by slot in decimal
// (1 to 99: slots are numbered from 1 to 10) and returns key. Formatted by
// hand: every walk over the key table forms 116 such keys.
inline const char* settings_slot_key(char (&key)[kSlotKeySize], const char* key_template,
                                     std::size_t slot) {
    char* out = key;
    for (const char* p = key_template; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'u') {
            if (slot >= 10) {
                *out++ = static_cast<char>('0' + slot / 10);
            }
            *out++ = static_cast<char>('0' + slot % 10);
            ++p;
        } else {
            *out++ = *p;
        }
    }
    *out = '\0';
    return key;
}

// Calls visit(kind, key, field) for every field of the record, in record
// order, with the field's kind and settings key; the one place where keys are
// named, and the key table that their count and roles come from.
template <typename Record, typename Visitor>
void settings_for_each_field(Record& s, Visitor&& visit) {
    using R = FieldRole;
    constexpr FieldKind U{Scanner::kUint};
    constexpr FieldKind T{Scanner::kText};
    constexpr FieldKind L{Scanner::kLargeText};
    constexpr FieldKind flag{Scanner::kUint, R::kFlag};
    constexpr FieldKind gateway_enable{Scanner::kUint, R::kGatewayEnable};
    constexpr FieldKind tcp_port{Scanner::kUint, R::kMqttPort};
    constexpr FieldKind qos{Scanner::kUint, R::kQos};
    constexpr FieldKind tls_mode{Scanner::kUint, R::kTlsMode};
    constexpr FieldKind csv{Scanner::kLargeText, R::kCsv};
    constexpr FieldKind ca{Scanner::kLargeText, R::kCa};
    constexpr FieldKind local_cert{Scanner::kLargeText, R::kLocalCert};
    constexpr FieldKind local_key{Scanner::kLargeText, R::kLocalKey};
    constexpr FieldKind databits{Scanner::kUint, R::kDatabits};
    constexpr FieldKind stopbits{Scanner::kUint, R::kStopbits};
    constexpr FieldKind script{Scanner::kLargeText, R::kScript};
    static_assert(std::max({kCustomSlots, kMessageSlots, kDirectMethodSlots}) < 100);
    char key[kSlotKeySize];
    auto slot_key = [&key](const char* key_template, std::size_t slot) {
        return settings_slot_key(key, key_template, slot);
    };

    visit(gateway_enable, "QUORBIX_ENABLE", s.enable);
    visit(flag, "QUORBIX_LOG_EN", s.log_enable);
    visit(T, "QUORBIX_MQTT_ADDR", s.mqtt_host);
    visit(tcp_port, "QUORBIX_MQTT_PORT", s.mqtt_port);
    visit(U, "QUORBIX_MQTT_KEEPALIVE", s.mqtt_keepalive);
    visit(qos, "QUORBIX_MQTT_QOS", s.mqtt_qos);
    visit(flag, "QUORBIX_MQTT_RETAIN", s.mqtt_retain);
    visit(T, "QUORBIX_CLIENT_ID", s.mqtt_client_id);
    visit(flag, "QUORBIX_MQTT_ANONY", s.mqtt_anonymous);
    visit(flag, "QUORBIX_MQTT_SASGEN", s.mqtt_token_gen);
    visit(T, "QUORBIX_MQTT_USR", s.mqtt_username);
    visit(T, "QUORBIX_MQTT_PWD", s.mqtt_password);
    visit(tls_mode, "QUORBIX_MQTT_TLS", s.mqtt_tls);
    visit(U, "QUORBIX_MB_TIMEOUT", s.mb_timeout);
    visit(U, "QUORBIX_MB_POLL", s.mb_poll);
    visit(csv, "QUORBIX_CSV", s.csv_data);
    // Certificates and key are read whole like the CSV file: a chain longer
    // than one bounded line would otherwise be staged cut short.
    visit(ca, "QUORBIX_CA", s.ca_data);
    visit(local_cert, "QUORBIX_LOCALCERT", s.local_cert_data);
    visit(local_key, "QUORBIX_LOCALKEY", s.local_key_data);
    visit(flag, "QUORBIX_TOPIC_EN", s.topic_enable);
    visit(T, "QUORBIX_TOPIC_VALUE", s.topic);
    visit(T, "QUORBIX_NAME_VALUE", s.name);
    visit(T, "QUORBIX_VALUE_VALUE", s.value);
    visit(flag, "QUORBIX_TIME_EN", s.time_enable);
    visit(T, "QUORBIX_TIME_VALUE", s.time);
    visit(flag, "QUORBIX_IP_EN", s.ip_enable);
    visit(T, "QUORBIX_IP_VALUE", s.ip);
    visit(flag, "QUORBIX_PORT_EN", s.port_enable);
    visit(T, "QUORBIX_PORT_VALUE", s.port);
    visit(flag, "QUORBIX_ID_EN", s.id_enable);
    visit(T, "QUORBIX_ID_VALUE", s.id);
    visit(flag, "QUORBIX_FC_EN", s.fc_enable);
    visit(T, "QUORBIX_FC_VALUE", s.fc);
    visit(flag, "QUORBIX_ADDRESS_EN", s.addr_enable);
    visit(T, "QUORBIX_ADDRESS_VALUE", s.addr);
    visit(flag, "QUORBIX_DATA_LEN_EN", s.datalen_enable);
    visit(T, "QUORBIX_DATA_LEN_VALUE", s.datalen);

    // Slot 1 of the custom fields has no number in its keys.
    visit(flag, "QUORBIX_CUSTOM_EN", s.custom[0].enable);
    visit(T, "QUORBIX_CUSTOM_VALUE", s.custom[0].value);
    for (std::size_t n = 2; n <= kCustomSlots; ++n) {
        visit(flag, slot_key("QUORBIX_CUSTOM%u_EN", n), s.custom[n - 1].enable);
        visit(T, slot_key("QUORBIX_CUSTOM%u_VALUE", n), s.custom[n - 1].value);
    }

    visit(flag, "QUORBIX_MSG_EN", s.msg_enable);
    for (std::size_t n = 1; n <= kMessageSlots; ++n) {
        auto& m = s.messages[n - 1];
        visit(T, slot_key("QUORBIX_MSG_NAME%u", n), m.name);
        visit(U, slot_key("QUORBIX_MSG_RULE%u", n), m.rule);
        visit(U, slot_key("QUORBIX_MSG_PUB_INTVL%u", n), m.pub_interval);
        visit(L, slot_key("QUORBIX_MSG_TOPIC%u", n), m.topic);
        visit(L, slot_key("QUORBIX_MSG_CONTENT%u", n), m.content);
    }

    // Ports 1 and 2 are numbered; port 3 is the "UPORT".
    for (std::size_t n = 1; n <= 2; ++n) {
        auto& p = s.serial[n - 1];
        visit(U, slot_key("QUORBIX_PORT%u_BAUDRATE", n), p.baudrate);
        visit(databits, slot_key("QUORBIX_PORT%u_DATABITS", n), p.databits);
        visit(T, slot_key("QUORBIX_PORT%u_PARITY", n), p.parity);
        visit(stopbits, slot_key("QUORBIX_PORT%u_STOPBITS", n), p.stopbits);
    }
    visit(U, "QUORBIX_UPORT_BAUDRATE", s.serial[2].baudrate);
    visit(databits, "QUORBIX_UPORT_DATABITS", s.serial[2].databits);
    visit(T, "QUORBIX_UPORT_PARITY", s.serial[2].parity);
    visit(stopbits, "QUORBIX_UPORT_STOPBITS", s.serial[2].stopbits);

    visit(flag, "QUORBIX_DIRECTMETHOD_EN", s.direct_method_enable);
    for (std::size_t n = 1; n <= kDirectMethodSlots; ++n) {
        auto& d = s.direct_methods[n - 1];
        visit(L, slot_key("QUORBIX_DIRECTMETHOD_TOPIC%u", n), d.topic);
        visit(L, slot_key("QUORBIX_DIRECTMETHOD_RESP_OK%u", n), d.resp_ok);
        visit(L, slot_key("QUORBIX_DIRECTMETHOD_RESP_FAIL%u", n), d.resp_fail);
        visit(script, slot_key("QUORBIX_DIRECTMETHOD_SCRIPT%u", n), d.script);
    }
}

// Position (from 0, in record order) of the text field `field` of the record
// s; -1 when field is no field of s.
int settings_field_position(const GatewaySettings& s, const std::string& field);

struct SettingsStream;

// Fills every field of s from an open settings stream (null gives empty
// texts and zeros), each with the value a rescan of the file for its key
// finds, read from the line the index holds for its position; the field of
// the key `left_empty`, when one is named, is not read and stays empty (a reader
// that takes that value as a view instead: settings_get_large_view).
void settings_load_from(GatewaySettings& s, SettingsStream* stream,
                        std::string_view left_empty = {});

struct SettingsFile;

// Fills every field of s from the settings file "/opt/quorbix/etc/settings";
// never fails: without a readable file every text is empty and every number 0.
// *unread, when given, says why no file was read (its error and not_regular
// stay clear when one was).
void settings_load(GatewaySettings& s, SettingsFile* unread = nullptr);

}  // namespace quorbix
