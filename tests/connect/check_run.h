// The real checker binary run inside the test broker's namespaces (broker.h):
// copied with the libraries its wrapper needs into a tmpfs over /opt, as the
// end-to-end rig does (QUORBIX_E2E_CHECK, QUORBIX_E2E_WRAPPER,
// QUORBIX_E2E_LIBRARIES), so that the cross-built checkers run there under
// qemu-user and the release one under valgrind.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorbix::e2e {

// Inside the namespace: where the checker, its settings and the token tool
// stand-in are put.
inline constexpr char kCheckDir[] = "/tmp/check";
inline constexpr char kCheckSettings[] = "/tmp/check/settings";
inline constexpr char kTokenToolArgs[] = "/tmp/check/token.args";
inline constexpr char kTraceFile[] = "/tmp/check/trace";  // for a prefix such as strace -o

// The checker under test and what its wrapper needs, read on the test's side
// before the namespace covers /tmp and /opt.
struct CheckBinary {
    std::string error;  // why it cannot be read; empty when it was
    std::string bytes;
    std::vector<std::pair<std::string, std::string>> libraries;  // base name, bytes
    std::vector<std::string> wrapper;                            // QUORBIX_E2E_WRAPPER's words
};

// Reads the checker and the wrapper's libraries.
CheckBinary read_check_binary();

// What one run of the checker gave.
struct CheckOutput {
    int status = -1;  // exit status, 128 + signal, or -1 when it hung and was killed
    std::string out;
    std::string err;
    long milliseconds = 0;   // the whole run, as the person waits for it
    std::string token_args;  // what the token tool stand-in was given, if it ran
    std::string trace;       // what the prefix wrote to kTraceFile
};

// Inside the namespace: puts the checker, its libraries and a token tool
// stand-in (/opt/quorbix/bin/create-sas, which records its arguments in
// kTokenToolArgs and prints `token_line`) in a fresh tmpfs over /opt, and
// the settings in kCheckSettings; returns the reason when it cannot.
std::string install_check(const CheckBinary& binary, const std::string& settings,
                          const std::string& token_line);

// Inside the namespace: runs `prefix` (a command that runs the rest, such as
// strace; may be empty), then the wrapper, the installed checker and args,
// bounded at 120 seconds.
CheckOutput run_check_binary(const CheckBinary& binary, const std::vector<std::string>& prefix,
                             const std::vector<std::string>& args);

// CheckOutputs as the namespace side returns them, and back.
std::string encode_outputs(const std::vector<CheckOutput>& outputs);
std::vector<CheckOutput> decode_outputs(const std::string& text);

// True when CI=true: a case that cannot run then fails instead of being skipped.
bool check_in_ci();

}  // namespace quorbix::e2e
