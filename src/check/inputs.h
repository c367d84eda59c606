// The files one run of quorbix-check reads: its arguments, with each folder
// replaced by the regular files under it.
#pragma once

#include <string>
#include <vector>

namespace quorbix {

struct Input {
    std::string path;   // as given, or the folder's path joined with the file's
    std::string error;  // why a folder under a given one could not be listed; empty if it could
};

// Each argument as it is, but a folder (a link to one given as an argument
// is followed) becomes every regular file under it, sorted by path in byte
// order; links under it are not followed, and other kinds of files are
// passed over.
std::vector<Input> expand_inputs(const std::vector<std::string>& arguments);

}  // namespace quorbix
