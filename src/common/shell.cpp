#include "common/shell.h"

#include <cerrno>
#include <cstdlib>

namespace quorbix {

void shell_run(const char* command) {
    // The result is not examined: every shell step is best effort, and its
    // effects are judged only by the files it leaves.
    int status = std::system(command);
    static_cast<void>(status);
}

int shell_status(const char* command) {
    errno = 0;
    return std::system(command);
}

const char* shell_start_failure(int error) {
    return error == EAGAIN || error == ENOMEM ? "fork" : "/bin/sh";
}

std::string shell_quote(std::string_view text) {
    // Inside single quotes the shell takes every byte literally; a single
    // quote itself is closed, escaped and reopened: ' -> '\''.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.push_back('\'');
    for (char c : text) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

}  // namespace quorbix
