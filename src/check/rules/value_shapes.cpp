#include "check/rules/value_shapes.h"

#include <algorithm>
#include <array>
#include <utility>

#include "check/text/text.h"
#include "settings/key_index.h"
#include "settings/line_grammar.h"
#include "staging/base64.h"

namespace quorbix {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool is_alpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A placeholder's name as a whole value writes it: capitals, digits, "_".
bool is_name(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_';
    });
}

// The placeholders' opening and closing marks.
struct Marks {
    std::string_view open;
    std::string_view close;
};
constexpr Marks kMarks[] = {{"${", "}"}, {"{{", "}}"}, {"{%", "%}"}, {"<%=", "%>"}};

// The placeholder whose opening mark begins at value[i], if one does; after
// "${" a name's first letter must follow.
Placeholder placeholder_at(std::string_view value, std::size_t i) {
    for (const Marks& m : kMarks) {
        const std::size_t inner = i + m.open.size();
        if (value.substr(i, m.open.size()) != m.open ||
            (m.open == "${" &&
             (inner >= value.size() || !(is_alpha(value[inner]) || value[inner] == '_')))) {
            continue;
        }
        const std::size_t end = value.find(m.close, inner);
        if (end != std::string_view::npos) {
            return {i, end + m.close.size() - i};
        }
    }
    return {};
}

// The units and protocols written after a number, in lower case.
constexpr std::string_view kUnits[] = {
    "ms", "s",   "sec",  "secs",  "second", "seconds", "min", "mins", "minute", "minutes", "h",
    "hr", "hrs", "hour", "hours", "bps",    "baud",    "bd",  "bit",  "bits",   "tcp",     "udp",
};

// The head of a value that tells text from Base64.
constexpr std::size_t kHeadSize = std::size_t{64} << 10;

// The longest value taken for a word (small letters, "_" and "-" after its
// first letter) rather than Base64 where a text file belongs.
constexpr std::size_t kWordSize = 24;

// Bytes that Base64 text never holds and plain text often does.
bool is_text_sign(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
        return true;
    }
    return u > 0x20 && u < 0x7f && !is_alpha(c) && !is_digit(c) && c != '+' && c != '/' &&
           c != '-' && c != '_' && c != '=';
}

// True for a path's bytes: letters, digits and "._/~-".
bool is_path_byte(char c) {
    return is_alpha(c) || is_digit(c) || c == '.' || c == '_' || c == '/' || c == '~' || c == '-';
}

bool looks_like_path(std::string_view t) {
    if (!std::all_of(t.begin(), t.end(), is_path_byte)) {
        return false;
    }
    const std::size_t dot = t.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::size_t extension = t.size() - dot - 1;
    return t.find('/') != std::string_view::npos || (extension >= 2 && extension <= 4);
}

}  // namespace

// ---------------------------------------------------------------- templates

Placeholder template_placeholder(std::string_view value) {
    // One search for each first byte of a mark (a value can be a whole
    // file's Base64); the first placeholder in the value wins.
    Placeholder first;
    for (const char c : {'$', '{', '<'}) {
        for (std::size_t i = value.find(c); i != std::string_view::npos && i < first.at;
             i = value.find(c, i + 1)) {
            const Placeholder p = placeholder_at(value, i);
            if (p.found()) {
                first = p;
                break;
            }
        }
    }
    if (first.found()) {
        return first;
    }
    const std::string_view t = trim_blanks(value);
    const auto at = static_cast<std::size_t>(t.data() - value.data());
    if (t.size() >= 2 && t.front() == '$' && is_name(t.substr(1))) {
        return {at, t.size()};
    }
    if (t.size() >= 3 && t.front() == '@' && t.back() == '@' &&
        is_name(t.substr(1, t.size() - 2))) {
        return {at, t.size()};
    }
    return {};
}

// ---------------------------------------------------------------- hosts

HostShape host_shape(std::string_view host) {
    HostShape h;
    h.blanks = std::any_of(host.begin(), host.end(), is_blank);
    std::string_view rest = trim_blanks(host);
    const std::size_t scheme_end = rest.find("://");
    if (scheme_end != std::string_view::npos && scheme_end != 0 &&
        std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(scheme_end),
                    is_alpha)) {
        h.scheme = rest.substr(0, scheme_end);
        rest.remove_prefix(scheme_end + 3);
    }
    std::string_view after;  // what follows the name: ":PORT" and the path
    if (!rest.empty() && rest.front() == '[' && rest.find(']') != std::string_view::npos) {
        h.name = rest.substr(1, rest.find(']') - 1);
        after = rest.substr(rest.find(']') + 1);
    } else {
        const std::size_t slash = std::min(rest.find('/'), rest.size());
        const std::string_view authority = rest.substr(0, slash);
        const bool one_colon = std::count(authority.begin(), authority.end(), ':') == 1;
        const std::size_t name_end = one_colon ? authority.find(':') : authority.size();
        h.name = rest.substr(0, name_end);
        after = rest.substr(name_end);
    }
    if (!after.empty() && after.front() == ':') {
        h.port = after.substr(1, std::min(after.find('/'), after.size()) - 1);
        after.remove_prefix(h.port.size() + 1);
    }
    h.path = after;
    const bool port_ok = h.port.empty() || (h.port.size() <= 5 &&
                                            std::all_of(h.port.begin(), h.port.end(), is_digit));
    h.port_number = port_ok && !h.port.empty() ? parse_uint32(h.port) : 0;
    h.certain = !h.name.empty() && port_ok && h.port_number <= 65535 &&
                (h.port.empty() || h.port_number != 0) &&
                std::none_of(h.name.begin(), h.name.end(), [](char c) {
                    return is_blank(c) || c == '/' || c == '@' || c == '"' || c == '\'';
                });
    return h;
}

// ---------------------------------------------------------------- comments

std::size_t comment_in_value(std::string_view value) {
    // Blanks are found by their own search: a value can be a whole file's
    // Base64, with none.
    std::size_t tab = value.find('\t');
    for (std::size_t i = std::min(value.find(' '), tab); i != std::string_view::npos;) {
        std::size_t j = i;
        while (j < value.size() && is_blank(value[j])) {
            ++j;
        }
        if (j < value.size() && (value[j] == ';' || value[j] == '#') &&
            !all_blank(value.substr(j + 1))) {
            return i;
        }
        if (tab != std::string_view::npos && tab < j) {
            tab = value.find('\t', j);
        }
        i = std::min(value.find(' ', j), tab);
    }
    return std::string_view::npos;
}

// ---------------------------------------------------------------- numbers

NumberSuffix number_suffix(std::string_view rest) {
    std::string_view t = trim_blanks(rest);
    if (t.empty()) {
        return NumberSuffix::kNone;
    }
    if (t.front() == '#' || t.front() == ';') {
        return NumberSuffix::kComment;
    }
    if (t.front() == '/') {
        t.remove_prefix(1);
    }
    const std::string unit = upper(t);
    const bool known = std::any_of(std::begin(kUnits), std::end(kUnits),
                                   [&unit](std::string_view u) { return upper(u) == unit; });
    return known ? NumberSuffix::kUnit : NumberSuffix::kNone;
}

// ---------------------------------------------------------------- plain text

PlainText plain_text(std::string_view value, bool text_file) {
    // Text shows itself in its first line; a value longer than that is
    // judged by its head (it can be a whole file's Base64). A placeholder
    // is no text of a file, and a comment after a value is no part of it.
    std::string_view t = value.substr(0, kHeadSize);
    if (template_placeholder(t).found()) {
        return PlainText::kNone;
    }
    t = trim_blanks(t.substr(0, comment_in_value(t)));
    if (t.empty()) {
        return PlainText::kNone;
    }
    if (starts_with(t, "#!")) {
        return PlainText::kScript;
    }
    if (looks_like_path(t)) {
        return PlainText::kPath;
    }
    // Signs of text: bytes Base64 never holds, and blanks between words.
    std::size_t signs = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const auto u = static_cast<unsigned char>(t[i]);
        if ((u < 0x20 && t[i] != '\t') || u == 0x7f) {
            return PlainText::kNone;  // not text at all
        }
        signs +=
            static_cast<std::size_t>(is_text_sign(t[i]) || (is_blank(t[i]) && !is_blank(t[i - 1])));
    }
    // Many signs make text whatever it decodes to; fewer, only when what
    // the launcher decodes is not text (Base64 of a text file decodes to
    // text, and a few stray bytes in it do not change that); none, only a
    // word where a text file belongs ("reboot" for a script) that decodes
    // to no text.
    const bool word = signs == 0 && text_file && t.size() <= kWordSize &&
                      std::all_of(t.begin() + 1, t.end(), [](char c) {
                          return (c >= 'a' && c <= 'z') || c == '_' || c == '-';
                      });
    if (!word && (signs == 0 || signs * 16 < t.size())) {
        return PlainText::kNone;
    }
    if (word || signs * 4 < t.size()) {
        const std::string text(t);
        const DecodedBytes d = base64_decode_dup(text.c_str());
        const std::string_view decoded(reinterpret_cast<const char*>(d.data.get()), d.size);
        if (d.data == nullptr || is_text(decoded) ||
            decoded.substr(0, 4) ==
                "\x7f"
                "ELF") {
            return PlainText::kNone;
        }
    }
    return t.find_first_of(",;") != std::string_view::npos ? PlainText::kCsvRows : PlainText::kText;
}

const char* plain_text_name(PlainText kind) {
    switch (kind) {
        case PlainText::kScript:
            return "a script";
        case PlainText::kCsvRows:
            return "CSV rows";
        case PlainText::kPath:
            return "a file's path";
        default:
            return "plain text";
    }
}

bool is_text(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = utf8_length(bytes, i);
        const char c = bytes[i];
        if (n == 0 || (is_control_char(bytes.substr(i, n)) && c != '\n' && c != '\r')) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string describe_bytes(std::string_view bytes) {
    return count_of(bytes.size(), "byte") + (is_text(bytes) ? " of text" : " of binary data");
}

// ---------------------------------------------------------------- lines

SeparatedKey separated_key(std::string_view text) {
    // No key of the record is longer than this: a line can be a whole file.
    constexpr std::size_t kLongestKey = 40;
    const std::size_t end =
        std::min(text.substr(0, kLongestKey).find_first_of(": \t"), text.size());
    if (end == 0 || end == text.size() || settings_key_position(text.substr(0, end)) < 0) {
        return {};
    }
    std::size_t i = end;
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    if (i < text.size() && text[i] == ':') {
        ++i;
        while (i < text.size() && is_blank(text[i])) {
            ++i;
        }
    }
    if (i < text.size() && text[i] == '=') {
        return {};
    }
    return {end, i};
}

bool is_ini_section(std::string_view text) {
    const std::string_view t = trim_blanks(text);
    return t.size() >= 3 && t.front() == '[' && t.back() == ']' &&
           t.find_first_of("=[]", 1) == t.size() - 1;
}

std::vector<std::size_t> cr_line_ends(std::string_view file) {
    std::vector<std::size_t> bare;
    std::size_t ending = 0;  // bare carriage returns before a key or at the end
    // Most files hold no carriage return at all, or only before line feeds.
    for (std::size_t i = file.find('\r'); i != std::string_view::npos; i = file.find('\r', i + 1)) {
        if (i + 1 == file.size() || file[i + 1] != '\n') {
            bare.push_back(i);
            const std::string_view next = file.substr(i + 1, 8);
            ending += static_cast<std::size_t>(next.empty() || upper(next) == "QUORBIX_");
        }
    }
    if (ending == 0 ||
        bare.size() < static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n'))) {
        return {};
    }
    return bare;
}

}  // namespace quorbix
