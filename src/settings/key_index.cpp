#include "settings/key_index.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "settings/gateway_settings.h"
#include "settings/line_grammar.h"
#include "settings/stream.h"

namespace quorbix {

namespace {

// Keys are at most this long; a longer text is no key of the record.
constexpr std::size_t kKeyRoom = 40;

// Keys are hashed and compared eight bytes at a time, so none is shorter
// than a word.
constexpr std::size_t kWord = 8;

// The record's keys, lower-cased, with their positions. The name is padded
// with NUL bytes to whole words.
struct KeyEntry {
    char name[kKeyRoom];
    std::size_t size;
    int position;
};
static_assert(kKeyRoom % kWord == 0);

// Which bytes may begin a key of the record, letter case aside: a line that
// begins with any other byte is no key line.
using FirstBytes = std::array<bool, 256>;

// The keys in an open-addressed hash table over their lower-cased bytes. A
// text that is no key of the record mostly lands on an empty slot, else fails
// one comparison: a file of millions of other keys costs one hash a line.
constexpr unsigned kSlotBits = 9;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;  // over three times the keys
constexpr std::int16_t kEmpty = -1;
constexpr std::size_t kMaxKeys = kSlots / 2;  // so that most keys lie in their home slot

struct KeyTables {
    std::vector<KeyEntry> keys;  // in record order
    std::array<std::int16_t, kSlots> slots{};
    FirstBytes first{};
    std::size_t shortest = kKeyRoom;
    std::size_t longest = 0;
};

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

// The word with its ASCII capitals made small, every other byte as it is:
// the bytes from 'A' to 'Z' (high bit clear) get bit 0x20.
std::uint64_t fold_case(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    const std::uint64_t low = word & ~kHigh;                  // no byte carries into the next below
    const std::uint64_t from_a = low + (0x80 - 'A') * kOnes;  // high bit: byte >= 'A'
    const std::uint64_t past_z = low + (0x80 - 'Z' - 1) * kOnes;  // high bit: byte > 'Z'
    const std::uint64_t capital = from_a & ~past_z & ~word & kHigh;
    return word | (capital >> 2);
}

// True when key is the entry's key, letter case aside; key is as long as
// it. Compared a word at a time, the last word overlapping.
bool same_key(std::string_view key, const KeyEntry& e) {
    const std::size_t last = key.size() - kWord;
    for (std::size_t i = 0; i < last; i += kWord) {
        if (fold_case(load_word(key.data() + i)) != load_word(e.name + i)) {
            return false;
        }
    }
    return fold_case(load_word(key.data() + last)) == load_word(e.name + last);
}

// All tables, from one walk over the record's keys.
KeyTables make_key_tables() {
    KeyTables t;
    t.keys.reserve(kMaxKeys);
    t.slots.fill(kEmpty);
    GatewaySettings names;
    settings_for_each_field(names, [&](Scanner, const char* key, auto&) {
        KeyEntry e{};
        e.size = std::char_traits<char>::length(key);
        if (e.size > kKeyRoom || e.size < kWord || t.keys.size() == kMaxKeys) {
            std::abort();  // a key table that outgrew the hash: caught by every test run
        }
        for (std::size_t i = 0; i < e.size; i += kWord) {
            std::uint64_t word = 0;
            std::memcpy(&word, key + i, std::min(kWord, e.size - i));
            word = fold_case(word);
            std::memcpy(e.name + i, &word, kWord);
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
        t.first[static_cast<unsigned char>(e.name[0])] = true;
        t.first[static_cast<unsigned char>(ascii_upper(e.name[0]))] = true;
    });
    return t;
}

const KeyTables& key_tables() {
    static const KeyTables tables = make_key_tables();
    return tables;
}

// The position of the key of the record that a line names before its first
// "=", from the line's first bytes (`size` of them, up to its line feed or as
// many as are held; the first of them one that may begin a key); -1 when it
// names none. Keys of the record hold only capitals, digits and "_": no cut
// of the line grammar (NUL, carriage return, line feed, last double quote)
// can fall inside one or before the "=" after it, so a line is the key line
// of key K exactly when its first "=" follows K, in the bounded and the large
// reading alike.
//
// A settings file is written in record order: the key after the last one
// found (`expected`, a position of the record) is tried first, by one
// comparison, before the hash.
int line_key_position(const KeyTables& t, const char* p, std::size_t size, int expected) {
    // The expected key needs no search for the "=": none can come earlier
    // in a line whose first bytes are that key.
    const KeyEntry& e = t.keys[static_cast<std::size_t>(expected)];
    if (size > e.size && p[e.size] == '=' && same_key({p, e.size}, e)) {
        return expected;
    }
    const void* eq = std::memchr(p, '=', std::min(size, kKeyRoom + 1));
    if (eq == nullptr) {
        return -1;
    }
    return settings_key_position({p, static_cast<std::size_t>(static_cast<const char*>(eq) - p)});
}

// Steps over the lines from p whose first byte begins no key of the record,
// as far as the bytes up to end hold them whole, adding them to `lines`, and
// returns the start of the line after the next line, which may be a key
// line; p is moved to that line's start. Null when no more lines lie whole
// before end.
// The one loop that a file of other lines costs, kept small.
const char* skip_other_lines(const char*& p, const char* end, const FirstBytes& first,
                             std::uint64_t& lines) {
    for (;;) {
        const char* next = next_line_start(p, end);
        if (next == nullptr || first[static_cast<unsigned char>(*p)]) {
            return next;
        }
        p = next;
        ++lines;
    }
}

// Enters the line of key `position` in the index, where the first line of
// each key wins; true when it is that first line.
bool enter_key_line(SettingsStream& s, int position, const SettingsLineInfo& line) {
    s.next_key = static_cast<std::size_t>(position) + 1 < s.first.size() ? position + 1 : 0;
    SettingsLineInfo& first = s.first[static_cast<std::size_t>(position)];
    if (first.number != 0) {
        return false;
    }
    first = line;
    return true;
}

}  // namespace

std::size_t settings_field_count() {
    return key_tables().keys.size();
}

std::string_view settings_key_at(int position) {
    const KeyEntry& e = key_tables().keys[static_cast<std::size_t>(position)];
    return {e.name, e.size};
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
        if (e.size == key.size() && same_key(key, e)) {
            return e.position;
        }
    }
}

void key_index_until(SettingsStream& s, int wanted) {
    const KeyTables& t = key_tables();
    if (s.index_complete ||
        (wanted >= 0 && s.first[static_cast<std::size_t>(wanted)].number != 0)) {
        return;
    }
    for (;;) {
        // The lines that the stream holds whole, without reading.
        const std::string_view chunk = stream_view_from(s, s.indexed.offset);
        const std::uint64_t offset = s.indexed.offset;
        const std::uint64_t number = s.indexed.number;
        const char* p = chunk.data();
        const char* const end = p + chunk.size();
        std::uint64_t lines = 0;
        while (p != end) {
            const char* const next = skip_other_lines(p, end, t.first, lines);
            if (next == nullptr) {
                break;
            }
            const char* const line = p;
            p = next;
            ++lines;
            const int position =
                line_key_position(t, line, static_cast<std::size_t>(next - 1 - line), s.next_key);
            if (position >= 0 &&
                enter_key_line(s, position,
                               {offset + static_cast<std::uint64_t>(line - chunk.data()),
                                static_cast<std::uint64_t>(p - line), number + lines - 1}) &&
                position == wanted) {
                break;
            }
        }
        s.indexed.offset = offset + static_cast<std::uint64_t>(p - chunk.data());
        s.indexed.number = number + lines;
        if (wanted >= 0 && s.first[static_cast<std::size_t>(wanted)].number != 0) {
            return;
        }
        if (chunk.empty()) {
            s.index_complete = true;
            return;
        }
        if (p == end) {
            continue;  // on to what follows in the file
        }
        // A line that runs past what the stream holds (or ends the file
        // without a line feed): stepped over as a whole, its key read from
        // its first bytes.
        SettingsLineInfo line;
        static_cast<void>(stream_next_line(s, s.indexed, &line));
        const std::string_view piece = stream_line_piece(s, line, kKeyRoom + 2, nullptr);
        const int position = !piece.empty() && t.first[static_cast<unsigned char>(piece[0])]
                                 ? line_key_position(t, piece.data(), piece.size(), s.next_key)
                                 : -1;
        if (position >= 0 && enter_key_line(s, position, line) && position == wanted) {
            return;
        }
    }
}

}  // namespace quorbix
