// Findings about settings written for another reader than the launcher: a
// template's placeholder left unexpanded, a URL where a host name belongs, a
// comment after a value, a YAML or spreadsheet separator after a key, an INI
// section, classic Mac line ends and a token key made with echo. Each is
// said once, at its spot, with one sentence of remedy and, where the remedy
// is certain, its edits.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "check/rules/context.h"

namespace quorbix {

// True for a value that is free text, where the daemon or a shell may use a
// placeholder, a "#" or a ";" itself: the password (or the token tool's
// key), the custom messages' topics and texts and the direct methods' texts.
bool is_free_text(std::size_t field);

// The file's carriage returns at `crs` end its lines; one finding for the
// file, after which no other is added.
void check_cr_line_ends(RuleContext& c, const std::vector<std::size_t>& crs);

// A record key followed by ":", a tab or blanks instead of "=" on the line
// `body` (its line end left off); true when it was reported.
bool check_key_separator(RuleContext& c, const SettingsLineInfo& line, std::string_view body);

// An INI section line; true when it was reported.
bool check_ini_section(RuleContext& c, const SettingsLineInfo& line, std::string_view body);

// An unexpanded template placeholder in the value of `field` on its key's
// line (`piece` is what its scanner reads, `read` the grammar's reading);
// true when it was reported, and nothing more is then said of the value.
bool check_template(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                    std::string_view piece, const SettingsLine& read);

// A comment after an unquoted value, or an MQTT host that is not a bare
// name; true when either was reported.
bool check_written_value(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                         std::string_view piece, const SettingsLine& read);

// The token tool's key, when it is Base64 of text ending in a line feed.
void check_token_key(RuleContext& c);

}  // namespace quorbix
