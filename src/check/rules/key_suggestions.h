// What a key that the launcher does not know was probably meant to be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorbix {

// A key that looks like a slot of a repeated group but is not read: slot 1 of
// the custom fields and port 3 of the serial ports have keys of their own.
struct SlotTrap {
    std::string_view written;
    std::string_view read;  // the key that is read instead
    std::string_view why;
};

// The trap for an upper-case key, or null when it is none.
const SlotTrap* slot_trap(std::string_view upper_key);

// The record's key closest to `key` (upper case), or the empty text when
// none is close; *unique, when asked, tells whether no other key is as close.
std::string nearest_key(std::string_view key, bool* unique = nullptr);

// A key written with a word the launcher spells otherwise (PASSWORD for PWD,
// HOST for ADDR, CLIENTID for CLIENT_ID), perhaps with MQTT_ left out or put
// in: the one key of the record it stands for, upper case, or the empty text
// when there is none or more than one.
std::string synonym_key(std::string_view key);

// Edit distance with adjacent swaps between two keys (or codes) of at most
// kSuggestedKeyLength bytes; stops early beyond `limit` (the result is then
// limit + 1).
std::size_t key_distance(std::string_view x, std::string_view y, std::size_t limit);

// Keys longer than this get no suggestion.
inline constexpr std::size_t kSuggestedKeyLength = 48;

}  // namespace quorbix
