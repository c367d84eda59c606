#include "settings/key_index.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "settings/gateway_settings.h"
#include "settings/stream.h"

namespace quorbix {

namespace {

// Keys are at most this long; a longer text is no key of the record.
constexpr std::size_t kKeyRoom = 40;

// The record's keys, lower-cased, with their positions.
struct KeyEntry {
    char name[kKeyRoom];
    std::size_t size;
    int position;
};

// Which bytes may begin a key of the record, letter case aside: a line that
// begins with any other byte is no key line.
using FirstBytes = std::array<bool, 256>;

// The keys in an open-addressed hash table over their lower-cased bytes. A
// text that is no key of the record mostly lands on an empty slot, else fails
// one comparison: a file of millions of other keys costs one hash a line.
constexpr unsigned kSlotBits = 9;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;  // over three times the keys
constexpr std::int16_t kEmpty = -1;

struct KeyTables {
    std::vector<KeyEntry> keys;  // in record order
    std::array<std::int16_t, kSlots> slots{};
    FirstBytes first{};
    std::size_t shortest = kKeyRoom;
    std::size_t longest = 0;
};

// Keys are hashed eight bytes at a time, so none is shorter than a word.
constexpr std::size_t kWord = 8;

std::uint64_t load_word(const char* p) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, kWord);
    return word;
}

// The home slot of key (kWord bytes or more): a hash a word at a time with
// the last word overlapping. Bit 0x20 is set in every byte first, which folds
// the ASCII letters' case and joins a few other pairs of bytes; the
// comparison that follows tells those apart. A product carries a byte's
// difference only upwards, so each word's product is turned before the next
// word comes, and the slot is the last product's top bits: keys that differ
// only in their last byte (QUORBIX_MSG_NAME1 to 9) do not share a slot.
std::size_t key_slot(std::string_view key) {
    constexpr std::uint64_t kFold = 0x2020202020202020ULL;
    constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ULL;
    auto mix = [](std::uint64_t hash, std::uint64_t word) {
        const std::uint64_t product = (hash ^ (word | kFold)) * kMix;
        return (product << 29) | (product >> 35);
    };
    std::uint64_t hash = key.size();
    for (std::size_t i = 0; i + kWord < key.size(); i += kWord) {
        hash = mix(hash, load_word(key.data() + i));
    }
    hash = mix(hash, load_word(key.data() + key.size() - kWord)) * kMix;
    return static_cast<std::size_t>(hash >> (64 - kSlotBits));
}

// True when key is the lower-cased name, letter case aside.
bool same_key(std::string_view key, const char* name) {
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != name[i]) {
            return false;
        }
    }
    return true;
}

// All tables, from one walk over the record's keys.
KeyTables make_key_tables() {
    KeyTables t;
    t.slots.fill(kEmpty);
    GatewaySettings names;
    settings_for_each_field(names, [&](Scanner, const char* key, auto&) {
        KeyEntry e{};
        e.size = std::char_traits<char>::length(key);
        if (e.size > kKeyRoom || e.size < kWord) {
            std::abort();  // a key table that outgrew the hash: caught by every test run
        }
        for (std::size_t i = 0; i < e.size; ++i) {
            const char c = key[i];
            e.name[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        e.position = static_cast<int>(t.keys.size());
        std::size_t slot = key_slot({key, e.size});
        while (t.slots[slot] != kEmpty) {
            slot = (slot + 1) & (kSlots - 1);
        }
        t.slots[slot] = static_cast<std::int16_t>(t.keys.size());
        t.keys.push_back(e);
        t.shortest = std::min(t.shortest, e.size);
        t.longest = std::max(t.longest, e.size);
        const auto lower = static_cast<unsigned char>(e.name[0]);
        t.first[lower] = true;
        if (lower >= 'a' && lower <= 'z') {
            t.first[lower - 'a' + 'A'] = true;
        }
    });
    return t;
}

const KeyTables& key_tables() {
    static const KeyTables tables = make_key_tables();
    return tables;
}

// True when the line from p to its line feed nl names a key of the record
// before its first "=". Keys of the record hold no "=", double quote, NUL,
// carriage return or line feed, so no cut of the line grammar can make any
// other line the key line of one.
bool names_a_record_key(const char* p, const char* nl, const FirstBytes& first) {
    if (!first[static_cast<unsigned char>(*p)]) {
        return false;
    }
    const auto room = std::min(static_cast<std::size_t>(nl - p), kKeyRoom + 1);
    const void* eq = std::memchr(p, '=', room);
    return eq != nullptr &&
           settings_key_position({p, static_cast<std::size_t>(static_cast<const char*>(eq) - p)}) >=
               0;
}

// Moves the pass over the lines that name no key of the record, as far as
// the stream holds them whole without reading; stops at a line that does, at
// a line that runs past what the stream holds, or at the end of the file.
void skip_other_lines(SettingsStream& s, const FirstBytes& first) {
    for (;;) {
        const std::string_view chunk = stream_view_from(s, s.indexed.offset);
        const char* p = chunk.data();
        const char* const end = p + chunk.size();
        std::uint64_t skipped = 0;
        while (p != end) {
            const auto* nl =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (nl == nullptr || names_a_record_key(p, nl, first)) {
                break;
            }
            p = nl + 1;
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
    return key_tables().keys.size();
}

int settings_key_position(std::string_view key) {
    const KeyTables& t = key_tables();
    if (key.size() < t.shortest || key.size() > t.longest) {
        return -1;
    }
    for (std::size_t slot = key_slot(key);; slot = (slot + 1) & (kSlots - 1)) {
        if (t.slots[slot] == kEmpty) {
            return -1;
        }
        const KeyEntry& e = t.keys[static_cast<std::size_t>(t.slots[slot])];
        if (e.size == key.size() && same_key(key, e.name)) {
            return e.position;
        }
    }
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
