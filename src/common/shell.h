// Hands command texts to the POSIX shell.
#pragma once

#include <string>
#include <string_view>

namespace quorbix {

// Runs command through the platform's system() (the shell, waited for) and
// ignores its result.
void shell_run(const char* command);

// Returns text quoted for the POSIX shell so that it reaches a program as
// exactly one argument, whatever bytes it holds.
std::string shell_quote(std::string_view text);

}  // namespace quorbix
