// The end-to-end rig: runs the real quorbix-launcher binary at its real fixed
// paths inside a private mount namespace, with fresh tmpfs mounts over /tmp
// and /opt, stand-in programs for the daemon and the token tool, and the
// shell's commands recorded; the machine's own /tmp and /opt are never seen.
//
// A case fills a Case, runs it with QUORBIX_RUN and checks the RunResult:
//
//     Case c;
//     c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", base64("a,b\n")}});
//     c.setup = [] { put_file("/tmp/quorbix/script-7.sh", "earlier\n"); };
//     QUORBIX_RUN(r, c);
//     EXPECT_EQ(r.status(), 0);
//     EXPECT_EQ(r.commands, passing_run_commands());
//
// The hooks (setup, before_run) run in a forked process inside the namespace:
// GoogleTest assertions made there are lost. Use put_file, put_dir and
// rig_fail there instead; their failures fail the case through rig_error.
//
// Environment: QUORBIX_E2E_LAUNCHER names another launcher binary to test (a
// release or cross-built one); QUORBIX_E2E_WRAPPER is a space-separated
// command prefix for it ("valgrind --error-exitcode=99", "qemu-arm -L ...");
// QUORBIX_E2E_LIBRARIES names files (separated by ":") that the wrapper
// needs inside the namespace, which the rig copies into /opt/e2e/lib: the
// cross builds' OpenSSL may lie under the /tmp or /opt that a case covers.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorbix::e2e {

// The default token tool: prints one token line.
inline constexpr const char kDefaultTokenBody[] = "printf 'sas-token-1\\n'\n";

// What one case puts in place before the launcher runs, and how it runs it.
struct Case {
    // Bytes of /opt/quorbix/etc/settings; no file when nullopt.
    std::optional<std::string> settings;
    // Shell text run by the token tool stand-in after it recorded its
    // arguments; the tool is absent when nullopt.
    std::optional<std::string> token_tool_body = std::string(kDefaultTokenBody);
    // The daemon stand-in: present and executable, present but not
    // executable, or absent.
    enum class Daemon { kPresent, kNotExecutable, kMissing } daemon = Daemon::kPresent;
    // Extra mount options for the /tmp tmpfs (e.g. "size=64k").
    std::string tmp_options;
    // Remount /tmp read-only after setup.
    bool tmp_read_only = false;
    // Runs inside the namespace once, after the stand-ins and the settings
    // are in place: for files an earlier run would have left, and the like.
    std::function<void()> setup;
    // How many times the launcher is run in the same namespace.
    int runs = 1;
    // Runs inside the namespace before each run (numbered from 0), after
    // setup: to change the settings or the stand-ins between runs.
    std::function<void(int run)> before_run;
    // The launcher's umask and search path.
    mode_t umask = 022;
    std::string path = "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    // When not empty, the search path is instead one directory holding links
    // to these utilities alone (found on the rig's own search path).
    std::vector<std::string> path_tools;
    // Paths (directories or files) bind-mounted onto themselves read-only
    // after setup: a file there cannot be removed or written.
    std::vector<std::string> read_only;
    // Resource limits the launcher starts with, soft and hard alike:
    // {RLIMIT_FSIZE, 16384}, say.
    std::vector<std::pair<int, rlim_t>> rlimits;
    // Signals the launcher inherits ignored, and blocked.
    std::vector<int> ignored_signals;
    std::vector<int> blocked_signals;
    // When not 0, the launcher runs in a pids cgroup of its own with this
    // pids.max (made for the case, removed after it): 1 lets it fork
    // nothing, which RLIMIT_NPROC cannot do to root. The case is skipped
    // where no such cgroup can be made, and fails under CI=true.
    int pids_max = 0;
    // Descriptors the launcher is started without (1 = stdout, 2 = stderr).
    std::vector<int> closed_fds;
    // Arguments given to the launcher after its name.
    std::vector<std::string> args;
    // "NAME=value" entries added to the launcher's environment.
    std::vector<std::string> environment;
    // Another launcher binary to run instead of the one under test (a test
    // build of it); empty for the usual one.
    std::string launcher;
    // Why the checker cannot foresee this case's outcome from the settings
    // (a fault of /tmp, of the search path or of the stand-ins); null when it
    // can, and then its prediction must be what the launcher did.
    const char* unforeseeable = nullptr;
    // Seconds each run, and then what it left running, may take before they
    // are killed: the run's status becomes -1, or rig_error says so.
    int timeout_seconds = 60;
};

// A file or directory found under /tmp after the runs.
struct FileEntry {
    bool is_dir = false;
    bool is_link = false;  // a symbolic link (lstat)
    mode_t mode = 0;       // permission bits
    std::string content;   // empty for anything but a regular file

    bool operator==(const FileEntry& o) const {
        return is_dir == o.is_dir && is_link == o.is_link && mode == o.mode && content == o.content;
    }
};

// What the runs did.
struct RunResult {
    // Set when no namespace could be made; then nothing else is filled in.
    std::string no_namespace;
    // Set when the case asked for a pids cgroup and none could be made; then
    // nothing else is filled in.
    std::string no_cgroup;
    // Set when the rig itself failed (a hook's put_file, a mount, a process
    // left running past the timeout): the case cannot be judged.
    std::string rig_error;
    // Exit status of each run: 0..255, 128 + signal when killed, -1 when hung.
    std::vector<int> statuses;
    // Every file and directory under /tmp, by absolute path.
    std::map<std::string, FileEntry> files;
    // The command texts handed to the shell ("sh -c"), in order.
    std::vector<std::string> commands;
    // Arguments of each daemon start, in order.
    std::vector<std::vector<std::string>> daemon_calls;
    // The "Sig..." lines of /proc/self/status of the daemon's last start
    // (SigBlk, SigIgn and the others): the signal state it was given.
    std::string daemon_signals;
    // Arguments of each token tool call, in order.
    std::vector<std::vector<std::string>> token_calls;
    // What the launcher and its shells wrote to standard output and error.
    std::string stdout_text;
    std::string stderr_text;
    // What the last run appended to /tmp/quorbix/quorbix.log.
    std::string log_added;
    // The checker's exit status and JSON report (with the configuration) on
    // the settings of the last run, taken just before it.
    int check_status = -2;
    std::string check_json;

    // Exit status of the last run.
    int status() const { return statuses.empty() ? -2 : statuses.back(); }
    // True when path exists under /tmp after the runs.
    bool has(const std::string& path) const { return files.count(path) != 0; }
    // Content of the file at path, or the empty text when it is absent.
    std::string file(const std::string& path) const;
    // Permission bits of path, or 0 when it is absent.
    mode_t mode(const std::string& path) const;
    // The lines of /tmp/quorbix/config from the one with key `first` up to
    // (not including) the one with key `next`; a marker text when either is
    // missing.
    std::string config_lines(const std::string& first, const std::string& next) const;
};

// Runs the launcher as the case describes and returns what it did.
RunResult run_launcher(const Case& c);

// Inside a hook: creates or replaces a file with exactly these bytes and
// mode, making its missing parent directories; fails the case when it cannot.
void put_file(const std::string& path, std::string_view content, mode_t mode = 0644);

// Inside a hook: makes a directory and its missing parents; fails the case
// when it cannot.
void put_dir(const std::string& path, mode_t mode = 0755);

// Inside a hook: the checker under test as the start of a shell command, its
// wrapper's words first; the checker's arguments follow it.
std::string checker_command();

// Inside a hook: ends the namespace side and fails the case with this reason.
[[noreturn]] void rig_fail(const std::string& what);

// Standard Base64 (with padding) of bytes, as the settings writer produces it.
std::string base64(std::string_view bytes);

// A settings file of KEY=value lines, in the given order.
std::string settings_file(const std::vector<std::pair<std::string, std::string>>& lines);

// The commands of the start-up sequence that every run passing all gates
// gives the shell, without the token command: staging, configuration,
// scripts, start.
std::vector<std::string> passing_run_commands();

// Contents of the shared test data file tests/data/<name>, empty when absent.
std::string test_data(const std::string& name);

// True when the environment says CI=true.
bool in_ci();

// Checks the checker's prediction against what the last run did: its exit
// status and log line, and, when the configuration was formed without a
// placeholder, every byte of /tmp/quorbix/config.
void expect_prediction(const RunResult& r);

// True when the launcher runs under a wrapper whose command names program.
bool wrapped_by(const char* program);

}  // namespace quorbix::e2e

// Runs the case into a new RunResult named result, and skips the test where
// no namespace, or no pids cgroup the case asks for, can be made (a failure
// when CI=true); rig_error is left to the caller.
#define QUORBIX_RUN_UNCHECKED(result, c)                                        \
    ::quorbix::e2e::RunResult result = ::quorbix::e2e::run_launcher(c);         \
    if (!(result).no_namespace.empty()) {                                       \
        if (::quorbix::e2e::in_ci()) {                                          \
            FAIL() << "no mount namespace under CI: " << (result).no_namespace; \
        }                                                                       \
        GTEST_SKIP() << "no mount namespace: " << (result).no_namespace;        \
    }                                                                           \
    if (!(result).no_cgroup.empty()) {                                          \
        if (::quorbix::e2e::in_ci()) {                                          \
            FAIL() << "no pids cgroup under CI: " << (result).no_cgroup;        \
        }                                                                       \
        GTEST_SKIP() << "no pids cgroup: " << (result).no_cgroup;               \
    }

// As QUORBIX_RUN_UNCHECKED, fails the test when the rig failed, and holds
// the checker's prediction against the run unless the case says why it
// cannot be foreseen.
#define QUORBIX_RUN(result, c)                       \
    QUORBIX_RUN_UNCHECKED(result, c)                 \
    if (!(result).rig_error.empty()) {               \
        FAIL() << "e2e rig: " << (result).rig_error; \
    }                                                \
    if ((c).unforeseeable == nullptr) {              \
        ::quorbix::e2e::expect_prediction(result);   \
    }
