#include "check/cli/file_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "check/cli/options.h"
#include "common/unique_fd.h"

namespace quorbix {

namespace {

// The most bytes of a list of files read: far more than any fleet's paths.
constexpr std::uint64_t kMaxListBytes = std::uint64_t{256} << 20;

}  // namespace

bool read_file_list(const std::string& from, bool nul, std::vector<std::string>* paths) {
    UniqueFd file;
    int fd = STDIN_FILENO;
    if (from != "-") {
        file = UniqueFd(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) {
            usage_error("cannot read the list of files " + from + ": " + std::strerror(errno));
            return false;
        }
        fd = file.get();
    }
    std::string text;
    std::string why;
    if (!read_bounded(fd, std::nullopt, kMaxListBytes, &text, &why)) {
        // The reason read_bounded gives for a settings file speaks of the launcher.
        if (why.rfind("too large", 0) == 0) {
            why = "it is larger than " + std::to_string(kMaxListBytes) + " bytes";
        }
        usage_error("cannot read the list of files " + from + ": " + why);
        return false;
    }
    const char end = nul ? '\0' : '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t at = std::min(rest.find(end), rest.size());
        std::string_view entry = rest.substr(0, at);
        rest.remove_prefix(std::min(at + 1, rest.size()));
        if (!nul && !entry.empty() && entry.back() == '\r') {
            entry.remove_suffix(1);
        }
        if (!entry.empty()) {
            paths->emplace_back(entry == "-" ? "./-" : std::string(entry));
        }
    }
    return true;
}

bool open_output(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd || std::fflush(stdout) != 0 || ::dup2(fd.get(), STDOUT_FILENO) < 0) {
        usage_error("cannot write the report to " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void drop_output_file(std::vector<Input>* inputs) {
    struct stat out {};
    if (::fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode)) {
        return;
    }
    inputs->erase(std::remove_if(inputs->begin(), inputs->end(),
                                 [&out](const Input& input) {
                                     struct stat st {};
                                     return input.path != "-" &&
                                            ::stat(input.path.c_str(), &st) == 0 &&
                                            st.st_dev == out.st_dev && st.st_ino == out.st_ino;
                                 }),
                  inputs->end());
}

}  // namespace quorbix
