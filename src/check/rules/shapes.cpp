#include "check/rules/shapes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "check/text/text.h"
#include "settings/gateway_settings.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool is_base64_symbol(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '-' || c == '_';
}

// One line of the file from `offset`: its text without the line end, and
// where the next line begins.
struct FileLine {
    std::string_view text;
    std::size_t begin = 0;
    std::size_t next = 0;
};

FileLine line_at(std::string_view file, std::size_t offset) {
    const std::string_view line = first_line_of(file.substr(offset));
    std::string_view text = without_line_feed(line);
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    return {text, offset, offset + line.size()};
}

// True when the line begins a setting of its own, however it is written.
bool is_setting_line(std::string_view text) {
    return upper(text.substr(0, 8)) == "QUORBIX_";
}

std::string_view unquoted(std::string_view value) {
    if (!value.empty() && value.front() == '"') {
        value.remove_prefix(1);
    }
    if (!value.empty() && value.back() == '"') {
        value.remove_suffix(1);
    }
    return value;
}

// A line of wrapped Base64: symbols, then padding, then the closing quote.
bool is_base64_line(std::string_view text) {
    text = unquoted(text);
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    return !text.empty() && std::all_of(text.begin(), text.end(), is_base64_symbol);
}

// Lines of PEM text: Base64, armour, or the headers of an encrypted key.
bool is_pem_line(std::string_view text) {
    text = unquoted(text);
    return is_base64_line(text) || starts_with(text, "-----") ||
           text.find(": ") != std::string_view::npos || text.empty();
}

// Furthest a value is followed over lines.
constexpr std::uint64_t kMaxSpreadLines = 100000;

struct Walk {
    std::string_view file;
    std::size_t offset;
    std::uint64_t number;
};

void take(SpreadValue& s, const FileLine& l, std::uint64_t number) {
    if (s.first_line == 0) {
        s.first_line = number;
    }
    s.last_line = number;
    s.end_offset = l.begin + l.text.size();
}

// True when the line at the walk's start reads as more of a wrapped value:
// looked at first, for the value itself can be most of the file.
bool base64_line_follows(const Walk& w) {
    if (w.offset >= w.file.size()) {
        return false;
    }
    const FileLine l = line_at(w.file, w.offset);
    return is_base64_line(l.text) && !is_setting_line(l.text);
}

void spread_base64(SpreadValue& s, Walk w) {
    for (std::uint64_t k = 0; w.offset < w.file.size() && k < kMaxSpreadLines; ++k) {
        const FileLine l = line_at(w.file, w.offset);
        if (!is_base64_line(l.text) || is_setting_line(l.text)) {
            break;
        }
        take(s, l, w.number + k);
        s.joined += l.text;
        w.offset = l.next;
        if (l.text.back() == '=' || l.text.back() == '"') {
            break;
        }
    }
    if (s.first_line == 0) {
        s.kind = SpreadValue::Kind::kNone;
    }
}

void spread_pem(SpreadValue& s, std::string_view value, Walk w) {
    s.joined = std::string(unquoted(value)) + "\n";
    if (value.find("-----END") != std::string_view::npos) {
        s.complete = true;
        return;
    }
    for (std::uint64_t k = 0; w.offset < w.file.size() && k < kMaxSpreadLines; ++k) {
        const FileLine l = line_at(w.file, w.offset);
        if (!is_pem_line(l.text) || is_setting_line(l.text)) {
            break;
        }
        take(s, l, w.number + k);
        s.joined += std::string(unquoted(l.text)) + "\n";
        w.offset = l.next;
        if (starts_with(unquoted(l.text), "-----END")) {
            s.complete = true;
            break;
        }
    }
}

// Text lines up to a closing quote (quoted) or the next setting, and a
// blank line when `blank_ends`; blank lines at the end are left out. Each
// line joins s.joined with a line feed, a closing quote and what follows it
// off.
void spread_text(SpreadValue& s, Walk w, bool quoted, bool blank_ends) {
    std::string blanks;  // blank lines not yet followed by text
    for (std::uint64_t k = 0; w.offset < w.file.size() && k < kMaxSpreadLines; ++k) {
        const FileLine l = line_at(w.file, w.offset);
        if (is_setting_line(l.text) || (blank_ends && all_blank(l.text))) {
            break;
        }
        w.offset = l.next;
        const std::size_t quote = quoted ? l.text.find('"') : std::string_view::npos;
        if (all_blank(l.text)) {
            blanks += std::string(l.text) + "\n";
            continue;
        }
        take(s, l, w.number + k);
        s.joined += blanks + std::string(l.text.substr(0, quote)) + "\n";
        blanks.clear();
        if (quote != std::string_view::npos) {
            s.complete = true;
            break;
        }
    }
    if (quoted && !s.complete) {
        s = SpreadValue{};
    }
}

}  // namespace

WideEncoding wide_encoding(std::string_view file) {
    const auto b = [file](std::size_t i) {
        return i < file.size() ? static_cast<unsigned char>(file[i]) : 0x100u;
    };
    if (b(0) == 0xff && b(1) == 0xfe && b(2) == 0 && b(3) == 0) {
        return WideEncoding::kUtf32Le;
    }
    if (b(0) == 0 && b(1) == 0 && b(2) == 0xfe && b(3) == 0xff) {
        return WideEncoding::kUtf32Be;
    }
    if (b(0) == 0xff && b(1) == 0xfe) {
        return WideEncoding::kUtf16Le;
    }
    if (b(0) == 0xfe && b(1) == 0xff) {
        return WideEncoding::kUtf16Be;
    }
    // No mark: ASCII letters with NUL bytes between them.
    const auto ascii = [&b](std::size_t i) { return b(i) > 0 && b(i) < 0x80; };
    if (ascii(0) && b(1) == 0 && b(2) == 0 && b(3) == 0 && ascii(4) && b(5) == 0) {
        return WideEncoding::kUtf32Le;
    }
    if (b(0) == 0 && b(1) == 0 && b(2) == 0 && ascii(3) && b(4) == 0 && ascii(7)) {
        return WideEncoding::kUtf32Be;
    }
    if (ascii(0) && b(1) == 0 && ascii(2) && b(3) == 0) {
        return WideEncoding::kUtf16Le;
    }
    if (b(0) == 0 && ascii(1) && b(2) == 0 && ascii(3)) {
        return WideEncoding::kUtf16Be;
    }
    return WideEncoding::kNone;
}

const char* wide_encoding_name(WideEncoding encoding) {
    switch (encoding) {
        case WideEncoding::kUtf16Le:
            return "UTF-16LE";
        case WideEncoding::kUtf16Be:
            return "UTF-16BE";
        case WideEncoding::kUtf32Le:
            return "UTF-32LE";
        case WideEncoding::kUtf32Be:
            return "UTF-32BE";
        default:
            return "";
    }
}

bool has_utf8_bom(std::string_view file) {
    return starts_with(file, kUtf8Bom);
}

// ---------------------------------------------------------------- keys

KeyPrefix key_prefix(std::string_view line) {
    std::size_t n = 0;
    if (starts_with(line, "export ") || starts_with(line, "export\t")) {
        n = 7;
    } else if (starts_with(line, "//")) {
        n = 2;
    } else if (starts_with(line, "#") || starts_with(line, ";")) {
        n = 1;
    } else {
        return {{}, line};
    }
    while (n < line.size() && is_blank(line[n])) {
        ++n;
    }
    return {line.substr(0, n), line.substr(n)};
}

// ---------------------------------------------------------------- values

namespace {

constexpr std::string_view kTypographicQuotes[] = {
    "\xe2\x80\x9c", "\xe2\x80\x9d", "\xe2\x80\x98", "\xe2\x80\x99",
    "\xe2\x80\x9e", "\xc2\xab",     "\xc2\xbb",
};

}  // namespace

ValueHabitSeen value_habit(std::string_view value, bool quoted) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return {ValueHabit::kSingleQuotes, 0};
    }
    for (const std::string_view q : kTypographicQuotes) {
        if (starts_with(value, q)) {
            return {ValueHabit::kTypographicQuote, 0};
        }
        if (ends_with(value, q)) {
            return {ValueHabit::kTypographicQuote, value.size() - q.size()};
        }
    }
    const std::size_t backslash_quote = value.find("\\\"");
    if (backslash_quote != std::string_view::npos) {
        return {ValueHabit::kEscapedQuote, backslash_quote};
    }
    if (!quoted && !value.empty() && is_blank(value.back())) {
        std::size_t at = value.size();
        while (at > 0 && is_blank(value[at - 1])) {
            --at;
        }
        if (at != 0) {
            return {ValueHabit::kTrailingBlanks, at};
        }
    }
    return {};
}

bool is_comment_after_quote(std::string_view dropped) {
    const std::size_t first = dropped.find_first_not_of(" \t");
    return first != std::string_view::npos && dropped[first] == '#';
}

// ---------------------------------------------------------------- spread values

bool starts_pem(std::string_view value) {
    return starts_with(unquoted(value), "-----BEGIN ");
}

SpreadValue spread_value(std::string_view file, std::size_t next, std::uint64_t line,
                         std::string_view value, bool quoted, bool base64, bool text_file) {
    SpreadValue s;
    const Walk w{file, next, line + 1};
    const std::string_view bare = quoted ? value.substr(1) : value;
    const bool quote_open = quoted && bare.find('"') == std::string_view::npos;
    const PlainText text = base64 ? plain_text(unquoted(value), text_file) : PlainText::kNone;
    if (base64 && starts_pem(value)) {
        s.kind = SpreadValue::Kind::kPem;
        spread_pem(s, value, w);
    } else if (text != PlainText::kNone) {
        s.kind = SpreadValue::Kind::kPlainText;
        s.text = text;
        s.joined = std::string(quote_open ? bare : unquoted(value)) + "\n";
        // A script runs on over blank lines; other text ends at one.
        if (text != PlainText::kPath) {
            spread_text(s, w, quote_open, text != PlainText::kScript);
        }
        if (s.kind == SpreadValue::Kind::kNone) {
            return {};  // a quote opened and never closed
        }
        // Text on the key's line alone is all there is when the line holds
        // nothing but it, or it in double quotes.
        s.complete =
            s.complete ||
            (!quote_open && (value == unquoted(value) ||
                             "\"" + s.joined.substr(0, s.joined.size() - 1) + "\"" == value));
        return s;
    } else if (base64 && bare.size() >= 16 && base64_line_follows(w) &&
               std::all_of(bare.begin(), bare.end(), is_base64_symbol)) {
        s.kind = SpreadValue::Kind::kBase64;
        spread_base64(s, w);
    } else if (!base64 && quote_open) {
        s.kind = SpreadValue::Kind::kQuotedText;
        spread_text(s, w, true, false);
    }
    if (s.kind != SpreadValue::Kind::kPem && s.first_line == 0) {
        return {};
    }
    return s;
}

std::string base64_encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out.push_back(k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 0x3f] : '=');
        }
    }
    return out;
}

// ---------------------------------------------------------------- staged contents

namespace {

// True when a line of shell text holds "\n" outside quotes, where the shell
// takes it for no line feed (inside quotes printf and echo may).
bool has_bare_escaped_newline(std::string_view line) {
    char quote = '\0';
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const char c = line[i];
        if (quote != '\0') {
            quote = c == quote ? '\0' : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '\\' && line[i + 1] == 'n') {
            return true;
        }
    }
    return false;
}

}  // namespace

ScriptShape script_shape(std::string_view script) {
    ScriptShape shape;
    shape.carriage_returns = script.find("\r\n") != std::string_view::npos;
    shape.byte_order_mark = starts_with(script, kUtf8Bom);
    const std::string_view first = without_line_feed(first_line_of(script));
    const bool one_line =
        first.size() + static_cast<std::size_t>(ends_line(script)) == script.size();
    shape.escaped_newlines = one_line && has_bare_escaped_newline(first);
    shape.no_interpreter =
        !shape.byte_order_mark && !shape.escaped_newlines && !starts_with(script, "#!");
    return shape;
}

const char* csv_binary_kind(std::string_view head, bool nul_bytes) {
    struct Magic {
        std::string_view bytes;
        // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
        const char* kind;
    };
    static constexpr Magic kMagic[] = {
        {"\x1f\x8b", "gzip data"},
        {"PK\x03\x04", "a zip archive"},
        {"BZh", "bzip2 data"},
        {std::string_view("\xfd"
                          "7zXZ\0",
                          6),
         "xz data"},
        {"\x28\xb5\x2f\xfd", "zstd data"},
    };
    const auto* m = std::find_if(std::begin(kMagic), std::end(kMagic),
                                 [head](const Magic& x) { return starts_with(head, x.bytes); });
    if (m != std::end(kMagic)) {
        return m->kind;
    }
    return nul_bytes ? "NUL bytes" : nullptr;
}

bool is_url_safe_base64(std::string_view text) {
    return text.find_first_of("-_") != std::string_view::npos &&
           text.find_first_of("+/") == std::string_view::npos;
}

}  // namespace quorbix
