// One example per finding code: a few settings lines that the checker reports
// under it, for quorbix-check --codes CODE. The test holds each against
// analyse_settings, so that no example says what the checker does not.
#pragma once

#include <string_view>

#include "check/model/codes.h"

namespace quorbix {

// The settings lines that show `code`; empty when no few lines can: then
// example_missing() says why.
std::string_view code_example(Code code);

// Why `code` has no example of a few lines.
const char* example_missing(Code code);

}  // namespace quorbix
