// What the rig's own files share: the paths inside the namespace, the report
// that the namespace side sends the test side, and the set-up steps.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "rig.h"

namespace quorbix::e2e {

inline constexpr const char kRigDir[] = "/opt/e2e";
inline constexpr const char kCommandsLog[] = "/opt/e2e/commands";
inline constexpr const char kDaemonLog[] = "/opt/e2e/daemon.calls";
inline constexpr const char kDaemonSignals[] = "/opt/e2e/daemon.signals";
inline constexpr const char kTokenLog[] = "/opt/e2e/token.calls";
inline constexpr const char kStdoutLog[] = "/opt/e2e/stdout";
inline constexpr const char kStderrLog[] = "/opt/e2e/stderr";
inline constexpr const char kLauncherMount[] = "/opt/e2e/quorbix-launcher";
inline constexpr const char kCheckMount[] = "/opt/e2e/quorbix-check";
inline constexpr const char kCheckOutput[] = "/opt/e2e/check.json";
inline constexpr const char kCheckErrors[] = "/opt/e2e/check.err";
// Where the libraries named by QUORBIX_E2E_LIBRARIES are put.
inline constexpr const char kLibraryDir[] = "/opt/e2e/lib";
// The search path of a case that names its utilities (Case::path_tools).
inline constexpr const char kPathDir[] = "/opt/e2e/path";
inline constexpr const char kLog[] = "/tmp/quorbix/quorbix.log";

// The pipe to the test process while on the namespace side, else -1.
extern int g_report_fd;

// Records of the report: a tag byte and length-prefixed fields.
void put(std::string& out, std::string_view field);
bool take(std::string_view& in, std::string* field);

// Reads the namespace side's report into r.
void decode_report(std::string_view data, RunResult& r);

bool write_all(int fd, std::string_view bytes);
[[noreturn]] void fail_errno(const std::string& what);
// The whole file at path; empty when it cannot be read.
std::string read_file(const char* path);

// Enters a private mount namespace; returns the reason when it cannot.
std::string enter_namespace();

// Puts the stand-ins, the recording shell, both binaries (open as the two
// descriptors, O_PATH) and the settings in place.
void install_stand_ins(const Case& c, int launcher_fd, int check_fd);

// After the case's setup: makes its read-only paths and its search path.
void apply_mounts_and_path(const Case& c);

// Makes a pids cgroup for the case with its pids.max; returns the path of
// its cgroup.procs, or the empty text with *why set when none can be made.
std::string make_pids_cgroup(int pids_max, std::string* why);

// Kills what is left in the cgroup whose cgroup.procs is procs, and removes
// it.
void remove_pids_cgroup(const std::string& procs);

// In the launcher's process just before it is executed: the case's limits
// and signal state, and its cgroup (procs, when not empty) last.
void enter_surroundings(const Case& c, const std::string& procs);

}  // namespace quorbix::e2e
