// How the checker quotes a text of the settings in what it says.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quorbix {

// text between two `quote` characters, the quote and the backslash escaped
// with a backslash, tab, carriage return and NUL as \t, \r and \0, other
// control bytes as \xNN; beyond `max` bytes elided, with its length said.
inline std::string quoted_text(std::string_view text, char quote, std::size_t max) {
    std::string out(1, quote);
    for (std::size_t i = 0; i < text.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == static_cast<unsigned char>(quote) || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\0') {
            out += "\\0";
        } else if (c < 0x20 || c == 0x7f) {
            char esc[8];
            static_cast<void>(std::snprintf(esc, sizeof esc, "\\x%02x", c));
            out += esc;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back(quote);
    if (text.size() > max) {
        out += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

}  // namespace quorbix
