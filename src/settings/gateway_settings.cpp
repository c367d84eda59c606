#include "settings/gateway_settings.h"

#include <type_traits>

#include "settings/scanner.h"

namespace quorbix {

int settings_field_position(const GatewaySettings& s, const std::string& field) {
    int found = -1;
    int position = 0;
    settings_for_each_field(s, [&](Scanner, const char*, const auto& f) {
        if constexpr (std::is_same_v<std::decay_t<decltype(f)>, std::string>) {
            if (&f == &field) {
                found = position;
            }
        }
        ++position;
    });
    return found;
}

void settings_load_from(GatewaySettings& s, SettingsStream* stream, std::string_view left_empty) {
    // The walk is in record order: each field's position is known, and its
    // key need not be looked up.
    int position = 0;
    settings_for_each_field(
        s, [stream, left_empty, &position](Scanner scanner, const char* key, auto& field) {
            using Field = std::decay_t<decltype(field)>;
            const int at = position++;
            if (!left_empty.empty() && key == left_empty) {
                return;
            }
            if constexpr (std::is_same_v<Field, std::uint32_t>) {
                field = settings_get_uint_at(stream, at);
            } else if (scanner == Scanner::kLargeText) {
                field = settings_get_large_text_at(stream, at);
            } else {
                field = settings_get_text_at(stream, at);
            }
        });
}

void settings_load(GatewaySettings& s, SettingsFile* unread) {
    SettingsStreamPtr stream = settings_open(unread);
    settings_load_from(s, stream.get());
    settings_close(std::move(stream));
}

}  // namespace quorbix
