// How the checker words, quotes and escapes what it read in what it says:
// one escaping of input text for every renderer and message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorbix {

// Length of the character at text[i]: 1 for an ASCII byte, 2 to 4 for a
// valid UTF-8 sequence (shortest form, no surrogate, at most U+10FFFF), 0 for
// a byte that begins none.
std::size_t utf8_length(std::string_view text, std::size_t i);

// True for a character (its bytes, as utf8_length measures them) that can act
// on a terminal or break a line: a C0 control but tab, DEL, a C1 control
// (U+0080 to U+009F) or a bidirectional control (U+202A to U+202E, U+2066 to
// U+2069).
bool is_control_char(std::string_view character);

// A byte as the checker shows one it does not show as it is: "<xx>", two
// lower-case hex digits.
std::string hex_byte(unsigned char c);

// Text read from input (a file name, a value, a message quoting them) as it
// may reach a terminal or a line of the gcc format: every byte of a control
// character (is_control_char) and of invalid UTF-8 as <xx>; line feeds kept
// when `keep_line_feeds`; all else, tabs included, as it is. Text that holds
// no such byte comes back unchanged, so escaping twice is escaping once.
std::string escaped(std::string_view text, bool keep_line_feeds = false);

// A JSON document as dumped, with every DEL, C1 control and bidirectional
// control in it written as \uXXXX: outside its strings a document is ASCII,
// so the data stays the same and no such character reaches a terminal.
std::string json_without_controls(std::string_view document);

// A file name for a JSON string: as it is when it is UTF-8; otherwise every
// byte of it that is not valid UTF-8, and "%" itself, as %XX (upper-case hex),
// with *encoded set.
std::string json_file_name(std::string_view name, bool* encoded);

// A value as the launcher reads it, as every message and view shows one:
// between single quotes, with nothing escaped inside but every byte of a
// control character (tabs included) and of invalid UTF-8 as <xx>; beyond
// `max` bytes elided, with its length said. Where a quote or a backslash of
// the value could be taken for the showing's own, words say it is the
// value's: "''s3cret'' (the quotes are part of the value)".
std::string quoted_text(std::string_view text, std::size_t max);

// A value of the file as a message quotes it: quoted_text() elided after a
// few dozen bytes.
std::string shown(std::string_view text);

// A key of the file as a message shows it: in single quotes, every byte that
// is not printable ASCII (tabs and no-break spaces included) as <xx>.
std::string shown_key(std::string_view key);

// n in decimal.
std::string dec(std::uint64_t n);

// n and what is counted, plural but for one: "1 error", "2 errors".
std::string count_of(std::uint64_t n, const char* what);

// True for a blank of the settings: space or tab.
bool is_blank(char c);

// True when text holds blanks only (or nothing).
bool all_blank(std::string_view text);

// text without its leading and trailing blanks.
std::string_view trim_blanks(std::string_view text);

// text with its ASCII letters in upper case.
std::string upper(std::string_view text);

// A fix as findings give it: one sentence, capitalised and closed.
std::string sentence(std::string text);

// A log line as findings quote it: in double quotes, without its line feed.
std::string log_quoted(std::string_view log_line);

}  // namespace quorbix
