#include "check/text/text.h"

#include <algorithm>
#include <cstdio>

#include "settings/line_grammar.h"

namespace quorbix {

namespace {

// Appends the character of n bytes at text[i] to *out as escaped() shows it.
void append_shown(std::string* out, std::string_view text, std::size_t i, std::size_t n) {
    if (n == 0 || is_control_char(text.substr(i, n))) {
        for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k) {
            *out += hex_byte(static_cast<unsigned char>(text[i + k]));
        }
    } else {
        out->append(text.substr(i, n));
    }
}

// True when the bytes are valid UTF-8.
bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    unsigned char low = 0x80;   // the bounds of the second byte: shortest form,
    unsigned char high = 0xbf;  // no surrogate, nothing past U+10FFFF
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        low = c == 0xe0 ? 0xa0 : 0x80;
        high = c == 0xed ? 0x9f : 0xbf;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        low = c == 0xf0 ? 0x90 : 0x80;
        high = c == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) {
        return 0;
    }
    for (std::size_t k = 2; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return n;
}

bool is_control_char(std::string_view character) {
    if (character.size() == 1) {
        const auto c = static_cast<unsigned char>(character[0]);
        return (c < 0x20 && c != '\t') || c == 0x7f;
    }
    if (character.size() == 2) {
        return character[0] == '\xc2' && static_cast<unsigned char>(character[1]) <= 0x9f;
    }
    if (character.size() != 3 || character[0] != '\xe2') {
        return false;
    }
    const auto c = static_cast<unsigned char>(character[2]);
    return (character[1] == '\x80' && c >= 0xaa && c <= 0xae) ||
           (character[1] == '\x81' && c >= 0xa6 && c <= 0xa9);
}

std::string hex_byte(unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    return {'<', kHex[c >> 4], kHex[c & 15], '>'};
}

std::string escaped(std::string_view text, bool keep_line_feeds) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_length(text, i);
        if (keep_line_feeds && text[i] == '\n') {
            out.push_back('\n');
        } else {
            append_shown(&out, text, i, n);
        }
        i += std::max<std::size_t>(n, 1);
    }
    return out;
}

std::string json_without_controls(std::string_view document) {
    std::string out;
    out.reserve(document.size());
    for (std::size_t i = 0; i < document.size();) {
        const std::size_t n = std::max<std::size_t>(utf8_length(document, i), 1);
        const std::string_view c = document.substr(i, n);
        if (n > 1 && is_control_char(c)) {
            // Two bytes: U+0080 to U+009F; three: U+2000 and up.
            const unsigned code = n == 2 ? static_cast<unsigned char>(c[1])
                                         : 0x2000U | (static_cast<unsigned>(c[1] & 0x3f) << 6) |
                                               static_cast<unsigned>(c[2] & 0x3f);
            char esc[8];
            static_cast<void>(std::snprintf(esc, sizeof esc, "\\u%04x", code));
            out += esc;
        } else if (c == "\x7f") {
            out += "\\u007f";
        } else {
            out.append(c);
        }
        i += n;
    }
    return out;
}

std::string json_file_name(std::string_view name, bool* encoded) {
    *encoded = !valid_utf8(name);
    if (!*encoded) {
        return std::string(name);
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t n = utf8_length(name, i);
        if (n == 0 || name[i] == '%') {
            const auto c = static_cast<unsigned char>(name[i]);
            out += {'%', kHex[c >> 4], kHex[c & 15]};
            ++i;
        } else {
            out.append(name.substr(i, n));
            i += n;
        }
    }
    return out;
}

namespace {

// Words for the quotes and backslashes of a shown value that a reader could
// take for the showing's own: every single quote, a double quote at either
// end, every backslash; empty when there are none.
std::string value_remark(std::string_view kept) {
    std::size_t quotes = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\''));
    if (!kept.empty()) {
        quotes += static_cast<std::size_t>(kept.front() == '"') +
                  static_cast<std::size_t>(kept.size() > 1 && kept.back() == '"');
    }
    const auto backslashes = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\\'));
    std::string words;
    if (quotes != 0) {
        words = quotes == 1 ? "the quote" : "the quotes";
    }
    if (backslashes != 0) {
        words += std::string(words.empty() ? "" : " and ") +
                 (backslashes == 1 ? "the backslash" : "the backslashes");
    }
    if (words.empty()) {
        return words;
    }
    return words + (quotes + backslashes == 1 ? " is" : " are") + " part of the value";
}

}  // namespace

std::string quoted_text(std::string_view text, std::size_t max) {
    std::string out = "'";
    // Cut first: a character cut at the bound is shown by its bytes.
    const std::string_view kept = text.substr(0, max);
    for (std::size_t i = 0; i < kept.size();) {
        const std::size_t n = utf8_length(kept, i);
        if (kept[i] == '\t') {
            out += hex_byte('\t');
        } else {
            append_shown(&out, kept, i, n);
        }
        i += std::max<std::size_t>(n, 1);
    }
    out.push_back('\'');
    const std::string remark = value_remark(kept);
    if (text.size() > max) {
        out += "... (" + std::to_string(text.size()) + " bytes" +
               (remark.empty() ? "" : "; " + remark) + ")";
    } else if (!remark.empty()) {
        out += " (" + remark + ")";
    }
    return out;
}

std::string shown(std::string_view text) {
    return quoted_text(text, 40);
}

std::string shown_key(std::string_view key) {
    constexpr std::size_t kMax = 60;
    std::string out = "'";
    for (std::size_t i = 0; i < key.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            out += hex_byte(c);
        }
    }
    out += "'";
    if (key.size() > kMax) {
        out += "... (" + std::to_string(key.size()) + " bytes)";
    }
    return out;
}

std::string dec(std::uint64_t n) {
    return std::to_string(n);
}

std::string count_of(std::uint64_t n, const char* what) {
    return dec(n) + " " + what + (n == 1 ? "" : "s");
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool all_blank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), is_blank);
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ascii_upper);
    return out;
}

std::string sentence(std::string text) {
    if (!text.empty()) {
        text.front() = ascii_upper(text.front());
    }
    if (!text.empty() && text.back() != '.') {
        text.push_back('.');
    }
    return text;
}

std::string log_quoted(std::string_view log_line) {
    if (!log_line.empty() && log_line.back() == '\n') {
        log_line.remove_suffix(1);
    }
    return "\"" + std::string(log_line) + "\"";
}

}  // namespace quorbix
