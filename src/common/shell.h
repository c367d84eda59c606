// Hands command texts to the POSIX shell.
#pragma once

#include <string>
#include <string_view>

namespace quorbix {

// Runs command through the platform's system() (the shell, waited for) and
// ignores its result.
void shell_run(const char* command);

// Runs command through the platform's system() and returns its result: the
// shell's wait status, or -1 with errno set when no shell could be started.
// A C library that reports a shell it could not start as exit status 127
// (glibc) leaves errno set then too; it is cleared first.
int shell_status(const char* command);

// The call that failed when a shell could not be started with error: "fork"
// when no process could be made (EAGAIN, ENOMEM), else "/bin/sh" (the shell
// could not be executed).
const char* shell_start_failure(int error);

// Returns text quoted for the POSIX shell so that it reaches a program as
// exactly one argument, whatever bytes it holds.
std::string shell_quote(std::string_view text);

}  // namespace quorbix
