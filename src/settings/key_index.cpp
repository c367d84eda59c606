#include "settings/key_index.h"

#include <algorithm>
#include <array>

#include "settings/gateway_settings.h"
#include "settings/stream.h"

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

void key_index_until(SettingsStream& s, int wanted) {
    SettingsLineInfo line;
    while (!s.index_complete &&
           (wanted < 0 || s.first[static_cast<std::size_t>(wanted)].number == 0)) {
        if (!stream_next_line(s, s.indexed, &line)) {
            s.index_complete = true;
            break;
        }
        // Keys of the record hold no double quote, so whether a line is one
        // of theirs is the same in the bounded and the large reading.
        const SettingsLine read =
            settings_read_line(stream_line_piece(s, line, kBoundedLineSize, nullptr));
        if (!read.has_key) {
            continue;
        }
        const int position = settings_key_position(read.key);
        if (position >= 0 && s.first[static_cast<std::size_t>(position)].number == 0) {
            s.first[static_cast<std::size_t>(position)] = line;
        }
    }
}

}  // namespace quorbix
