// The codes as quorbix-check --codes --format=json lists them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/model/codes.h"
#include "check/model/finding.h"

namespace quorbix {

// One code as --codes gives it; when explained, with its example and what
// the checker says of it, or why it has none.
struct CodeEntry {
    Code code = Code::kUnknownKey;
    bool explained = false;
    std::string_view example;          // empty: none
    const char* no_example = nullptr;  // why there is none
    std::vector<Finding> findings;     // the example's findings of the code
};

// The JSON document: the tool, and each code's name, severity and summary,
// with the example of one explained.
std::string codes_json(const std::vector<CodeEntry>& entries);

}  // namespace quorbix
