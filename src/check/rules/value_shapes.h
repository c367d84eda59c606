// What a settings file looks like where it was written for another reader
// than the launcher: a template's placeholder left unexpanded, a URL where a
// host name belongs, a comment after a value, a unit after a number, plain
// text where Base64 belongs, YAML and INI habits and classic Mac line ends.
// Pure functions over bytes, with no finding of their own (shapes.h holds
// the older ones); the checker turns what they see into findings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorbix {

// ---------------------------------------------------------------- templates

// Where a template's placeholder stands in a value.
struct Placeholder {
    std::size_t at = std::string_view::npos;  // npos: none
    std::size_t size = 0;
    [[nodiscard]] bool found() const { return at != std::string_view::npos; }
};

// The first unexpanded placeholder in value: ${NAME...}, {{ ... }},
// {% ... %} or <%= ... %> anywhere, or $NAME or @NAME@ (capitals, digits and
// underscores) as the whole value.
Placeholder template_placeholder(std::string_view value);

// ---------------------------------------------------------------- hosts

// An MQTT host as written, taken apart as a URL would be.
struct HostShape {
    std::string_view scheme;  // "mqtts" of "mqtts://hub"; empty without
    std::string_view name;    // the host name, an IPv6 literal's brackets off
    std::string_view port;    // the text after the name's ":", empty without
    std::string_view path;    // from the "/" after the name on
    bool blanks = false;      // blanks anywhere in the value
    // Nothing but the bare name, and no blank in it.
    [[nodiscard]] bool bare() const {
        return scheme.empty() && port.empty() && path.empty() && !blanks;
    }
    // The name is one word the launcher can be given, and the port, if
    // any, a TCP port: a fix may keep them.
    bool certain = false;
    unsigned port_number = 0;
};

// The shape of host: an IPv6 literal's colons are not a port ("fe80::1").
HostShape host_shape(std::string_view host);

// ---------------------------------------------------------------- comments

// Where a comment after an unquoted value begins: the first blank of a run
// followed by ";" or "#" and then text; npos when there is none.
std::size_t comment_in_value(std::string_view value);

// ---------------------------------------------------------------- numbers

// What follows a number's digits, where it is not text that changes what
// the number means.
enum class NumberSuffix {
    kNone,     // anything else ("1.5", "12abc")
    kUnit,     // a unit or a protocol: "/tcp", "bps", "ms", " s"
    kComment,  // blanks, then "#" or ";"
};

// The suffix `rest`, the text after a number's digits, is.
NumberSuffix number_suffix(std::string_view rest);

// ---------------------------------------------------------------- plain text

// What a value written where Base64 belongs looks like, when it is plain text.
enum class PlainText { kNone, kScript, kCsvRows, kPath, kText };

// What value (as the launcher reads it, its quotes off) looks like: Base64,
// a few stray bytes in Base64 or a value of a few symbols are kNone. Where a
// text file belongs (`text_file`: the CSV, a script), a word of small
// letters that decodes to no text ("reboot") is plain text too.
PlainText plain_text(std::string_view value, bool text_file = false);

// "a script", "CSV rows", "a file's path", "plain text".
const char* plain_text_name(PlainText kind);

// True when bytes are text: printable ASCII, tabs, line ends and UTF-8 that
// is no control character.
bool is_text(std::string_view bytes);

// The bytes the launcher stages, in words: "24 bytes of binary data",
// "4 bytes of text", "1 byte of text".
std::string describe_bytes(std::string_view bytes);

// ---------------------------------------------------------------- lines

// A record key followed by ":", a tab or blanks where "=" belongs.
struct SeparatedKey {
    std::size_t key_size = 0;  // 0: none
    std::size_t value_at = 0;  // where the value begins, after the separator
};

// The record key that `text` (a line without its line end) begins with, and
// the separator after it; none when the separator is blanks before "=" (a
// blank in the key) or the line has no record key first.
SeparatedKey separated_key(std::string_view text);

// True for an INI section line: "[name]", blanks around it allowed.
bool is_ini_section(std::string_view text);

// The offsets of the file's carriage returns that no line feed follows,
// when they are its line ends (classic Mac files: at least as many as its
// line feeds end lines, at least one before a key or at the file's end);
// empty otherwise.
std::vector<std::size_t> cr_line_ends(std::string_view file);

}  // namespace quorbix
