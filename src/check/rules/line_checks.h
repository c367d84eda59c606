// The checks of each line of the settings file on its own: its key and how
// its value is read (its number and its Base64 text: value_checks.h).
#pragma once

#include <cstddef>
#include <string_view>

#include "check/rules/context.h"

namespace quorbix {

// Checks every line of the file, in order.
void check_lines(RuleContext& c);

}  // namespace quorbix
