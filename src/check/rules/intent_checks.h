// Findings about what a person meant where the launcher reads otherwise:
// the file's encoding, keys behind shell and comment habits, values spread
// over lines, characters kept in a value, missing essentials and what the
// staged files hold. Each is said once, on the line where it starts, with one
// sentence of remedy and, where the remedy is certain, its edits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "check/rules/context.h"
#include "check/rules/fields.h"
#include "check/rules/shapes.h"

namespace quorbix {

// The file as a whole is UTF-16 or UTF-32.
void check_wide_encoding(RuleContext& c, WideEncoding wide);

// Line 1 behind a UTF-8 byte-order mark; false when the line holds no key,
// and is then checked as it is.
bool check_byte_order_mark(RuleContext& c, const SettingsLineInfo& line, std::string_view bytes);

// A key of the record behind "export ", "#", "//" or ";" on the line `body`
// (its line end left off); true when it was reported.
bool check_prefixed_key(RuleContext& c, const SettingsLineInfo& line, std::string_view body);

// A value of `field` that runs on over the lines after its key's line, or
// plain text where its Base64 belongs; true when it was reported, and the
// lines it runs on over are then left alone. `read` is the line as the
// field's scanner reads it.
bool check_spread(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view body, const SettingsLine& read);

// Characters kept in a text value that were probably not meant.
void check_value_habit(RuleContext& c, const std::string& key, const SettingsLineInfo& line,
                       std::string_view piece, const SettingsLine& read);

// What the staged CSV and scripts hold, beyond what the decoder does.
void check_staged_contents(RuleContext& c);

// An enabled gateway without a broker or a client id.
void check_essentials(RuleContext& c);

// The remedy `plain` for a line meant to set `key`, unless another line
// already sets it: then, to keep one of the two.
std::string key_remedy(const RuleContext& c, const std::string& key, std::string plain);

// A fix that writes `text` for the value of the line the launcher reads
// `field` from, in the quotes it has: only where the launcher reads the
// whole value as written, else none.
std::vector<Edit> sure_value_edit(const RuleContext& c, std::size_t field, const std::string& text);

// A fix that writes `key` on a line: only while no line sets the key, for
// otherwise it would change which line the launcher reads.
std::vector<Edit> sure_key_edit(const RuleContext& c, const std::string& key, Edit edit);

}  // namespace quorbix
