// How the checker words and quotes texts of the settings in what it says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorbix {

// text between two `quote` characters, the quote and the backslash escaped
// with a backslash, tab, carriage return and NUL as \t, \r and \0, other
// control bytes as \xNN; beyond `max` bytes elided, with its length said.
std::string quoted_text(std::string_view text, char quote, std::size_t max);

// A text of the file as a message quotes it: in single quotes, control bytes
// escaped, elided after a few dozen bytes with its length said.
std::string shown(std::string_view text);

// A key of the file as a message shows it: in single quotes, every byte that
// is not printable ASCII (tabs and no-break spaces included) as <xx>.
std::string shown_key(std::string_view key);

// n in decimal.
std::string dec(std::uint64_t n);

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
