#include "settings/key_index.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

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

// Which bytes may begin a key of the record, letter case aside: a line that
// begins with any other byte is no key line.
using FirstBytes = std::array<bool, 256>;

struct KeyTables {
    std::vector<KeyEntry> sorted;
    FirstBytes first{};
};

// Both tables, from one walk over the record's keys.
KeyTables make_key_tables() {
    KeyTables t;
    GatewaySettings names;
    int position = 0;
    settings_for_each_field(names, [&](Scanner, const char* key, auto&) {
        KeyEntry e{};
        e.size = std::char_traits<char>::length(key);
        static_cast<void>(lower_key(key, e.name));
        e.position = position++;
        t.sorted.push_back(e);
        const auto lower = static_cast<unsigned char>(e.name[0]);
        t.first[lower] = true;
        if (lower >= 'a' && lower <= 'z') {
            t.first[lower - 'a' + 'A'] = true;
        }
    });
    std::sort(t.sorted.begin(), t.sorted.end(),
              [](const KeyEntry& a, const KeyEntry& b) { return a.view() < b.view(); });
    return t;
}

const KeyTables& key_tables() {
    static const KeyTables tables = make_key_tables();
    return tables;
}

// Moves the pass over the lines that begin with a byte no key begins with,
// as far as the stream holds them whole without reading; stops at a line
// that may be a key line, at a line that runs past what the stream holds, or
// at the end of the file.
void skip_other_lines(SettingsStream& s, const FirstBytes& first) {
    for (;;) {
        const std::string_view chunk = stream_view_from(s, s.indexed.offset);
        const char* p = chunk.data();
        const char* const end = p + chunk.size();
        std::uint64_t skipped = 0;
        while (p != end && !first[static_cast<unsigned char>(*p)]) {
            const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (nl == nullptr) {
                break;
            }
            p = static_cast<const char*>(nl) + 1;
            ++skipped;
        }
        s.indexed.offset += static_cast<std::uint64_t>(p - chunk.data());
        s.indexed.number += skipped;
        if (p != end || chunk.empty() || s.whole) {
            return;
        }
    }
}

}  // namespace

std::size_t settings_field_count() {
    return key_tables().sorted.size();
}

int settings_key_position(std::string_view key) {
    const std::vector<KeyEntry>& table = key_tables().sorted;
    char lowered[kKeyRoom];
    if (!lower_key(key, lowered)) {
        return -1;
    }
    const std::string_view probe(lowered, key.size());
    const auto it =
        std::lower_bound(table.begin(), table.end(), probe,
                         [](const KeyEntry& e, std::string_view k) { return e.view() < k; });
    if (it == table.end() || it->view() != probe) {
        return -1;
    }
    return it->position;
}

void key_index_until(SettingsStream& s, int wanted) {
    const FirstBytes& first = key_tables().first;
    SettingsLineInfo line;
    while (!s.index_complete &&
           (wanted < 0 || s.first[static_cast<std::size_t>(wanted)].number == 0)) {
        skip_other_lines(s, first);
        if (!stream_next_line(s, s.indexed, &line)) {
            s.index_complete = true;
            break;
        }
        // Keys of the record hold no "=", double quote, NUL, carriage return
        // or line feed: a line is the key line of key K exactly when its
        // first "=" follows K, whatever the grammar cuts later in the line.
        // That is so in the bounded and the large reading alike.
        const std::string_view piece = stream_line_piece(s, line, kKeyRoom + 2, nullptr);
        const void* eq = std::memchr(piece.data(), '=', piece.size());
        if (eq == nullptr) {
            continue;
        }
        const int position = settings_key_position(
            piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(eq) - piece.data())));
        if (position >= 0 && s.first[static_cast<std::size_t>(position)].number == 0) {
            s.first[static_cast<std::size_t>(position)] = line;
        }
    }
}

}  // namespace quorbix
