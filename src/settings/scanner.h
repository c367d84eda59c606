// Reads single values out of the settings file by key. There is no parse-once
// step: every lookup rescans the file from its first line, and the first
// line whose key matches wins.
//
// Line grammar, applied to each line (or to the first piece of a line longer
// than the scanner's buffer):
//   - the text ends at its first NUL, carriage return or line feed;
//   - it is then cut at its last double quote;
//   - the key is everything before the first "=", compared without regard to
//     ASCII letter case and without trimming;
//   - the value is everything after that "=", less one leading double quote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorbix {

// The bounded scanner's line buffer, and the large scanner's fallback area.
inline constexpr std::size_t kBoundedLineSize = 16384;

struct SettingsStream;

struct SettingsStreamDeleter {
    void operator()(SettingsStream* stream) const;
};
using SettingsStreamPtr = std::unique_ptr<SettingsStream, SettingsStreamDeleter>;

// Opens "/opt/quorbix/etc/settings" for reading; null when it cannot be
// opened or is not a regular file.
SettingsStreamPtr settings_open();

// Opens the settings file at path (tests and tools); null as above.
SettingsStreamPtr settings_open_path(const char* path);

// Bounded scanner: the value of key, or the empty text for a null stream or
// an absent key.
std::string settings_get_text(SettingsStream* stream, const char* key);

// Bounded scanner: the value of key converted by the "%u" rules on a 32-bit
// quantity; 0 for a null stream, an absent key or a value with no digits.
std::uint32_t settings_get_uint(SettingsStream* stream, const char* key);

// Large-value scanner: the value of key read in one piece as long as the
// settings file; the empty text for a null stream or an absent key.
std::string settings_get_large_text(SettingsStream* stream, const char* key);

// Closes a stream; does nothing for null.
void settings_close(SettingsStreamPtr stream);

// Converts text by the rules of "%u" on an unsigned 32-bit quantity: leading
// blanks skipped, one optional sign, digits up to the first other byte; no
// digits give 0, a magnitude beyond 2^32 - 1 gives 2^32 - 1, and a minus sign
// negates modulo 2^32.
std::uint32_t parse_uint32(std::string_view text);

// Applies the line grammar to one line (or first piece) and returns whether
// its key is `key`; on a match stores the value in *value.
bool settings_match_line(std::string_view line, std::string_view key, std::string_view* value);

// The large-value scanner's current line capacity (its buffer size), for
// tests and diagnostics; 0 before the first large lookup.
std::size_t settings_large_capacity();

}  // namespace quorbix
