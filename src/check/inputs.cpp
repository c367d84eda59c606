#include "check/inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quorbix {

namespace {

namespace fs = std::filesystem;

// Adds every regular file under `folder` to *out, and every folder that
// cannot be listed with its reason; follows no link.
void walk(const fs::path& folder, std::vector<Input>* out) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    const fs::directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec) {
            break;
        }
        if (fs::is_directory(status)) {
            walk(it->path(), out);
        } else if (fs::is_regular_file(status)) {
            out->push_back(Input{it->path().string(), ""});
        }
    }
    if (ec) {
        out->push_back(Input{folder.string(), "cannot read the folder: " + ec.message()});
    }
}

}  // namespace

std::vector<Input> expand_inputs(const std::vector<std::string>& arguments) {
    std::vector<Input> inputs;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (argument == "-" || !fs::is_directory(argument, ec)) {
            inputs.push_back(Input{argument, ""});
            continue;
        }
        std::vector<Input> found;
        walk(argument, &found);
        std::sort(found.begin(), found.end(),
                  [](const Input& a, const Input& b) { return a.path < b.path; });
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    return inputs;
}

}  // namespace quorbix
