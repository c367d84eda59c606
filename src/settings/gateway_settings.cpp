#include "settings/gateway_settings.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "settings/scanner.h"

namespace quorbix {

namespace {

// Keys are at most this long; a longer text is no key of the record.
constexpr std::size_t kKeyRoom = 40;

// Lower-cases the ASCII letters of key into out (kKeyRoom bytes); false when
// it does not fit.
bool lower_key(std::string_view key, char* out) {
    if (key.size() > kKeyRoom) {
        return false;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        out[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return true;
}

// The record's keys, lower-cased and sorted, with their positions.
struct KeyEntry {
    char name[kKeyRoom];
    std::size_t size;
    int position;

    [[nodiscard]] std::string_view view() const { return {name, size}; }
};
using KeyTable = std::array<KeyEntry, kSettingsFieldCount>;

KeyTable make_key_table() {
    KeyTable table{};
    GatewaySettings names;
    int position = 0;
    settings_for_each_field(names, [&](Scanner, const char* key, auto&) {
        KeyEntry& e = table[static_cast<std::size_t>(position)];
        e.size = std::char_traits<char>::length(key);
        static_cast<void>(lower_key(key, e.name));
        e.position = position++;
    });
    std::sort(table.begin(), table.end(),
              [](const KeyEntry& a, const KeyEntry& b) { return a.view() < b.view(); });
    return table;
}

}  // namespace

int settings_key_position(std::string_view key) {
    static const KeyTable table = make_key_table();
    char lowered[kKeyRoom];
    if (!lower_key(key, lowered)) {
        return -1;
    }
    const std::string_view probe(lowered, key.size());
    const auto* it =
        std::lower_bound(table.begin(), table.end(), probe,
                         [](const KeyEntry& e, std::string_view k) { return e.view() < k; });
    if (it == table.end() || it->view() != probe) {
        return -1;
    }
    return it->position;
}

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

void settings_load_from(GatewaySettings& s, SettingsStream* stream) {
    settings_for_each_field(s, [stream](Scanner scanner, const char* key, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::uint32_t>) {
            field = settings_get_uint(stream, key);
        } else if (scanner == Scanner::kLargeText) {
            field = settings_get_large_text(stream, key);
        } else {
            field = settings_get_text(stream, key);
        }
    });
}

void settings_load(GatewaySettings& s) {
    SettingsStreamPtr stream = settings_open();
    settings_load_from(s, stream.get());
    settings_close(std::move(stream));
}

}  // namespace quorbix
