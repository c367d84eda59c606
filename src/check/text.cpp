#include "check/text.h"

#include <algorithm>
#include <cstdio>

namespace quorbix {

std::string quoted_text(std::string_view text, char quote, std::size_t max) {
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

std::string shown(std::string_view text) {
    return quoted_text(text, '\'', 40);
}

std::string shown_key(std::string_view key) {
    constexpr std::size_t kMax = 60;
    std::string out = "'";
    for (std::size_t i = 0; i < key.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            char esc[8];
            static_cast<void>(std::snprintf(esc, sizeof esc, "<%02x>", c));
            out += esc;
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
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return out;
}

std::string sentence(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') {
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
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
