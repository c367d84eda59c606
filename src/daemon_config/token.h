// The token tool "/opt/quorbix/bin/create-sas", asked for the MQTT password
// when the settings call for a generated token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorbix {

// Longest command handed to the shell: "sh -c" takes its command as one
// argument, which the kernel bounds at 128 KiB.
inline constexpr std::size_t kMaxTokenCommand = std::size_t{128} << 10;

// Size of the buffer the tool's first output line is read into.
inline constexpr std::size_t kTokenLineSize = 1024;

// How long the tool may take, from its start until it has ended; then it is
// killed with everything it started.
inline constexpr int kTokenTimeoutSeconds = 30;

// What went wrong with the token tool, one sentence each (no prefix, no line
// feed); "%s" and "%d" as named beside each.
inline constexpr const char kTokenNotStartedFormat[] =
    "cannot start the token tool: %s: %s";  // the call that failed, the reason
inline constexpr const char kTokenTimedOutFormat[] =
    "the token tool did not end within %d seconds and was killed";  // the bound
inline constexpr const char kTokenSignalFormat[] =
    "the token tool was ended by signal %d (%s)";  // its number and name
inline constexpr const char kTokenExitFormat[] = "the token tool exited with status %d";
inline constexpr const char kTokenLineCutText[] =
    "the token tool's first line was cut at 1023 bytes";
inline constexpr const char kTokenCarriageReturnText[] =
    "the token tool's first line holds a carriage return";

// The resource the token tool is asked for: host, then "/devices/", then
// client_id.
std::string token_resource(std::string_view host, std::string_view client_id);

// Forms the token command "/opt/quorbix/bin/create-sas %s/devices/%s %s
// 2>/dev/null" with each text quoted for the shell, so that the tool receives
// exactly two arguments whatever the texts hold; the empty text when the
// command would be too long for the shell to be given it.
std::string token_command(std::string_view host, std::string_view client_id, std::string_view key);

// The first line of the token tool's output as the launcher reads it: at most
// kTokenLineSize - 1 bytes, up to and including the first line feed, and up
// to the first NUL within them.
std::string token_first_line(std::string_view output);

// One run of the token tool: the line read, and what went wrong.
struct TokenRun {
    std::string line;                   // the first line as token_first_line takes it
    const char* failed_call = nullptr;  // set when the tool could not be started
    int start_error = 0;                // and the errno of that call
    int timed_out_after = 0;            // the bound in seconds, when killed at it
    int exit_status = 0;                // when it exited by itself
    int signal = 0;                     // the signal that ended it, when one did
    bool line_cut = false;              // no line feed within 1023 bytes, and more came
    bool carriage_return = false;       // the line holds a CR
};

// Runs command ("/bin/sh -c COMMAND", in a process group of its own) and
// reads the first line of its standard output as fgets into kTokenLineSize
// bytes would, then reads on and discards the rest until it ends. At
// timeout_seconds after the start the tool's whole process group is killed;
// the line is kept when a whole one (up to a line feed, or 1023 bytes) was
// read, otherwise it is empty. Once the tool has ended, what it left running
// in its process group is killed too: nothing of it outlives the call, and
// nothing is left to reap.
TokenRun token_run(const std::string& command, int timeout_seconds = kTokenTimeoutSeconds);

// Runs the token command for these settings texts (token_command); a command
// too long for the shell is not run, and gives the empty line with no trouble.
TokenRun token_request(std::string_view host, std::string_view client_id, std::string_view key);

// What went wrong in run, one sentence each, in the order of TokenRun's
// fields; none for a run without trouble.
std::vector<std::string> token_trouble(const TokenRun& run);

}  // namespace quorbix
