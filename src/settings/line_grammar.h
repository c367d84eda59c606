// The settings file's line grammar and its number rule, as pure functions
// over bytes: the one reading that the index, the lookups and the checker
// share.
//
// Applied to each line (or to the first piece of a line longer than the
// scanner's line buffer):
//   - the text ends at its first NUL, carriage return or line feed;
//   - it is then cut at its last double quote;
//   - the key is everything before the first "=", compared without regard to
//     ASCII letter case and without trimming;
//   - the value is everything after that "=", less one leading double quote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorbix {

// Where the line after the one at `p` (not null) begins: just past the
// first line feed in [p, end), or null when none lies there. Every walk over
// the lines of a file, the launcher's and the checker's, steps by it.
inline const char* next_line_start(const char* p, const char* end) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    return lf == nullptr ? nullptr : static_cast<const char*>(lf) + 1;
}

// The line that `bytes` begin with: up to and including their first line
// feed, or all of them when they hold none.
inline std::string_view first_line_of(std::string_view bytes) {
    if (bytes.empty()) {
        return bytes;
    }
    const char* next = next_line_start(bytes.data(), bytes.data() + bytes.size());
    return next == nullptr
               ? bytes
               : std::string_view(bytes.data(), static_cast<std::size_t>(next - bytes.data()));
}

// True when `line`, as first_line_of gives it, ends with its line feed.
constexpr bool ends_line(std::string_view line) {
    return !line.empty() && line.back() == '\n';
}

// `line` without its line feed.
constexpr std::string_view without_line_feed(std::string_view line) {
    return ends_line(line) ? line.substr(0, line.size() - 1) : line;
}

// One line (or first piece) read by the line grammar. Positions count from
// the piece's first byte.
struct SettingsLine {
    std::size_t text_end = 0;                        // the first NUL, CR or LF, or the piece's size
    std::size_t quote_cut = std::string_view::npos;  // the last double quote before text_end
    std::string_view text;     // the piece up to text_end, then cut at quote_cut
    bool has_key = false;      // an "=" is left in the text
    std::string_view key;      // the text before its first "="
    std::string_view value;    // the text after it, less one leading double quote
    bool quoted = false;       // the value lost that leading double quote
    bool opens_quote = false;  // a double quote follows the "=": the one the value
                               // lost, or the last one, where the value is cut
};

// The byte with an ASCII capital made small, every other byte as it is; and
// the other way round: the one folding of letter case, by which keys are
// matched and the checker writes them.
constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ascii_upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Applies the line grammar to one line or first piece.
SettingsLine settings_read_line(std::string_view piece);

// Compares two keys as the lookups match them: ASCII letters without regard
// to case, every other byte as it is; less than, equal to or greater than 0.
int settings_key_compare(std::string_view a, std::string_view b);

// Applies the line grammar to one line (or first piece) and returns whether
// its key is `key`; on a match stores the value in *value.
bool settings_match_line(std::string_view line, std::string_view key, std::string_view* value);

// What the "%u" rules on an unsigned 32-bit quantity see in a text: leading
// blanks skipped, one optional sign, digits up to the first other byte. No
// digits give 0, a magnitude beyond 2^32 - 1 gives 2^32 - 1, and a minus sign
// negates modulo 2^32. Positions count from the text's first byte.
struct NumberReading {
    std::uint32_t value = 0;
    std::size_t sign = 0;        // after the leading blanks: where a sign would stand
    char sign_char = '\0';       // '+', '-' or none
    std::size_t digits = 0;      // where the digits begin
    std::size_t digits_end = 0;  // where they end, and the rest of the text begins
    bool overflow = false;       // the digits stand for more than 2^32 - 1
    bool hex = false;            // a lone "0" followed by "x" or "X"
    bool trailing_text = false;  // the rest holds more than blanks
    [[nodiscard]] bool has_digits() const { return digits_end != digits; }
};

// Reads text by the "%u" rules above.
NumberReading read_uint32(std::string_view text);

// The value of text by the "%u" rules above.
std::uint32_t parse_uint32(std::string_view text);

}  // namespace quorbix
