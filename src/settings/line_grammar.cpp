#include "settings/line_grammar.h"

#include <cstring>

namespace quorbix {

SettingsLine settings_read_line(std::string_view piece) {
    SettingsLine line;
    if (piece.empty()) {
        return line;
    }
    // The text ends at its first NUL, carriage return or line feed: a piece
    // holds at most one line feed, as its last byte.
    std::size_t end = piece.size();
    if (piece[end - 1] == '\n') {
        --end;
    }
    if (const void* nul = std::memchr(piece.data(), '\0', end)) {
        end = static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data());
    }
    if (const void* cr = std::memchr(piece.data(), '\r', end)) {
        end = static_cast<std::size_t>(static_cast<const char*>(cr) - piece.data());
    }
    line.text_end = end;
    // ...and is cut at its last double quote.
    if (const void* quote = ::memrchr(piece.data(), '"', end)) {
        line.quote_cut = static_cast<std::size_t>(static_cast<const char*>(quote) - piece.data());
        end = line.quote_cut;
    }
    line.text = piece.substr(0, end);
    // The key is what stands before the first "=".
    const void* eq = std::memchr(line.text.data(), '=', line.text.size());
    if (eq == nullptr) {
        return line;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(eq) - line.text.data());
    line.has_key = true;
    line.key = line.text.substr(0, at);
    line.value = line.text.substr(at + 1);
    line.quoted = !line.value.empty() && line.value.front() == '"';
    if (line.quoted) {
        line.value.remove_prefix(1);
    }
    line.opens_quote = line.quoted || line.quote_cut == at + 1;
    return line;
}

int settings_key_compare(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const int x = static_cast<unsigned char>(ascii_lower(a[i]));
        const int y = static_cast<unsigned char>(ascii_lower(b[i]));
        if (x != y) {
            return x - y;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool settings_match_line(std::string_view line, std::string_view key, std::string_view* value) {
    const std::size_t klen = key.size();
    // Quick rejection on the key alone, before looking at the rest of a
    // possibly very long line: a matching line has its "=" right after it.
    if (line.size() <= klen || line[klen] != '=' ||
        settings_key_compare(line.substr(0, klen), key) != 0) {
        return false;
    }
    const SettingsLine read = settings_read_line(line);
    if (!read.has_key || read.key.size() != klen) {
        return false;
    }
    *value = read.value;
    return true;
}

NumberReading read_uint32(std::string_view text) {
    NumberReading r;
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    r.sign = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        r.sign_char = text[i];
        ++i;
    }
    r.digits = i;
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > UINT32_MAX) {
            r.overflow = true;
            magnitude = std::uint64_t{UINT32_MAX} + 1;  // keeps the product in range
        }
    }
    r.digits_end = i;
    r.hex = i - r.digits == 1 && text[r.digits] == '0' && i < text.size() &&
            (text[i] == 'x' || text[i] == 'X');
    for (; i < text.size(); ++i) {
        r.trailing_text = r.trailing_text || (text[i] != ' ' && text[i] != '\t');
    }
    if (!r.has_digits()) {
        return r;
    }
    if (r.overflow) {
        r.value = UINT32_MAX;
        return r;
    }
    const auto magnitude32 = static_cast<std::uint32_t>(magnitude);
    r.value = r.sign_char == '-' ? static_cast<std::uint32_t>(0u - magnitude32) : magnitude32;
    return r;
}

std::uint32_t parse_uint32(std::string_view text) {
    return read_uint32(text).value;
}

}  // namespace quorbix
