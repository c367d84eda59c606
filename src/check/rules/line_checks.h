// The checks of each line of the settings file on its own: its key, how its
// value is read, its number and its Base64 text.
#pragma once

#include <cstddef>
#include <string_view>

#include "check/rules/context.h"

namespace quorbix {

// Checks every line of the file, in order.
void check_lines(RuleContext& c);

// The checks of the value of `field` on its winning line: `piece` is what the
// field's scanner reads of the line, `read` the grammar's reading of it.
void check_number(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read);
void check_base64(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read);

}  // namespace quorbix
