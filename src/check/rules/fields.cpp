#include "check/rules/fields.h"

namespace quorbix {

const std::vector<FieldInfo>& field_table() {
    static const std::vector<FieldInfo> table = [] {
        std::vector<FieldInfo> t;
        GatewaySettings names;
        settings_for_each_field(names, [&t](FieldKind kind, const char* key, auto&) {
            t.push_back(FieldInfo{key, kind.scanner, kind.role});
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
