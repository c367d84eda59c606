// The certain fixes of one settings file as a unified diff, for `patch -p0`
// and `git apply`. Nothing is written to the file itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/finding.h"

namespace quorbix {

// The file's bytes with the edits made; an edit that overlaps an earlier one
// (in file order) is left out, as are edits outside the file.
std::string apply_edits(std::string_view bytes, const std::vector<Edit>& edits);

// A unified diff, with three lines of context, that turns the file `name`
// holding `bytes` into apply_edits(bytes, edits); the empty text when the
// edits change nothing. A tab ends the name on the "---" and "+++" lines.
std::string unified_diff(std::string_view name, std::string_view bytes,
                         const std::vector<Edit>& edits);

}  // namespace quorbix
