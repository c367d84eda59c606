#include "check/fields.h"

namespace quorbix {

namespace {

struct RoleRule {
    enum class Match { kExact, kPrefix, kSuffix } match;
    std::string_view text;
    Role role;
};

// First match wins.
constexpr RoleRule kRoleRules[] = {
    {RoleRule::Match::kExact, "QUORBIX_ENABLE", Role::kGatewayEnable},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_TLS", Role::kTlsMode},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_QOS", Role::kQos},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_PORT", Role::kMqttPort},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_RETAIN", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_ANONY", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_SASGEN", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_CSV", Role::kCsv},
    {RoleRule::Match::kExact, "QUORBIX_CA", Role::kCaCert},
    {RoleRule::Match::kExact, "QUORBIX_LOCALCERT", Role::kClientCert},
    {RoleRule::Match::kExact, "QUORBIX_LOCALKEY", Role::kClientKey},
    {RoleRule::Match::kPrefix, "QUORBIX_DIRECTMETHOD_SCRIPT", Role::kScript},
    {RoleRule::Match::kSuffix, "_DATABITS", Role::kDatabits},
    {RoleRule::Match::kSuffix, "_STOPBITS", Role::kStopbits},
    {RoleRule::Match::kSuffix, "_EN", Role::kFlag},
};

Role role_of(std::string_view key) {
    for (const RoleRule& r : kRoleRules) {
        const bool hit =
            r.match == RoleRule::Match::kExact ? key == r.text
            : r.match == RoleRule::Match::kPrefix
                ? key.substr(0, r.text.size()) == r.text
                : key.size() >= r.text.size() && key.substr(key.size() - r.text.size()) == r.text;
        if (hit) {
            return r.role;
        }
    }
    return Role::kPlain;
}

}  // namespace

const std::vector<FieldInfo>& field_table() {
    static const std::vector<FieldInfo> table = [] {
        std::vector<FieldInfo> t;
        GatewaySettings names;
        settings_for_each_field(names, [&t](Scanner scanner, const char* key, auto&) {
            t.push_back(FieldInfo{key, scanner, role_of(key)});
        });
        return t;
    }();
    return table;
}

std::size_t field_index(std::string_view key) {
    return static_cast<std::size_t>(settings_key_position(key));
}

bool is_base64(Role role) {
    return role == Role::kCsv || role == Role::kCaCert || role == Role::kClientCert ||
           role == Role::kClientKey || role == Role::kScript;
}

std::string_view staged_name(Role role) {
    switch (role) {
        case Role::kCaCert:
            return "CA certificate";
        case Role::kClientCert:
            return "client certificate";
        case Role::kClientKey:
            return "client key";
        case Role::kScript:
            return "script";
        default:
            return "CSV configuration";
    }
}

}  // namespace quorbix
