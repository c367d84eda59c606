// The checks of a number's and a Base64 text's value, on the line the
// launcher reads the field from.
#pragma once

#include <cstddef>
#include <string_view>

#include "check/rules/context.h"

namespace quorbix {

// The checks of the value of `field` on its key's line: `piece` is what the
// field's scanner reads of the line, `read` the grammar's reading of it.
void check_number(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read);
void check_base64(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read);

}  // namespace quorbix
