// The certain fixes of one settings file as a unified diff, for `patch -p0`
// and `git apply`. Nothing is written to the file itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/model/finding.h"

namespace quorbix {

// The file's bytes with the edits made; an edit that overlaps an earlier one
// (in file order) is left out, as are edits outside the file.
std::string apply_edits(std::string_view bytes, const std::vector<Edit>& edits);

// The name the "---" and "+++" lines give the file `name`: without the "./"
// at its head (and the slashes after one), for git apply -p0 takes no such
// name; "././a" and ".//a" are "a".
std::string_view patch_name(std::string_view name);

// Why no patch may name the file `name`, or null when one may: a control
// character, tab or line feed would end or break a header line, and patch
// reads a name that begins with a blank or a double quote, or ends with a
// blank, as another file's.
const char* unpatchable(std::string_view name);

// A unified diff, with three lines of context, that turns the file `name`
// (as patch_name gives it) holding `bytes` into apply_edits(bytes, edits); the
// empty text when the edits change nothing. A tab ends the name on the "---"
// and "+++" lines. The caller makes sure that the name is not unpatchable().
std::string unified_diff(std::string_view name, std::string_view bytes,
                         const std::vector<Edit>& edits);

}  // namespace quorbix
