#include "launcher/launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "daemon_config/daemon_config.h"
#include "settings/gateway_settings.h"
#include "staging/gates.h"
#include "staging/staging.h"

namespace quorbix {

namespace {

// The shell commands of the sequence that belong to no other part.
constexpr const char kCmdMakeStaging[] = "mkdir -p /tmp/quorbix/etc";
constexpr const char kCmdClearStaging[] = "rm -rf /tmp/quorbix/etc/*.*";

// Descriptors 0 to 2 are handed to every shell and to the daemon. When the
// service manager left one closed, the next file the launcher opens would take
// its number and a shell's error output would land in a staged file; /dev/null
// holds the place instead.
void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            // open() takes the lowest free number, which is this one.
            static_cast<void>(::open("/dev/null", O_RDWR));
        }
    }
}

// The staging directory normally comes from the shell's "mkdir -p"; when that
// could not run (no mkdir on the search path), it is made here so that the
// log and the staged files still have a place.
void ensure_staging_directory() {
    static_cast<void>(::mkdir(paths::kQuorbixDir, 0777));
    static_cast<void>(::mkdir(paths::kStagingDir, 0777));
}

// /tmp is shared with every user of the device: whoever makes /tmp/quorbix
// or its etc first would decide where the launcher's writes and removals
// land. Each must be absent (it is then made), or the launcher's own and no
// symbolic link. Returns false, having said why on standard error, when one
// is not.
bool tmp_directories_usable() {
    const uid_t euid = ::geteuid();
    for (const char* path : {paths::kQuorbixDir, paths::kStagingDir}) {
        struct stat st {};
        const bool exists = ::lstat(path, &st) == 0;
        if (!exists && errno != ENOENT && errno != ENOTDIR) {
            static_cast<void>(
                std::fprintf(stderr, kRefuseUncheckedFormat, path, std::strerror(errno)));
            return false;
        }
        switch (dir_fault(exists, exists && S_ISLNK(st.st_mode), st.st_uid, euid)) {
            case DirFault::kSymlink:
                static_cast<void>(std::fprintf(stderr, kRefuseSymlinkFormat, path));
                return false;
            case DirFault::kOwner:
                static_cast<void>(std::fprintf(stderr, kRefuseOwnerFormat, path,
                                               static_cast<unsigned>(st.st_uid),
                                               static_cast<unsigned>(euid)));
                return false;
            case DirFault::kNone:
                break;
        }
    }
    return true;
}

// Ends the run as the verdict says: its log line, the map cleanup when it
// asks for one, and its exit status.
int end_run(const GateVerdict& verdict) {
    file_append_text(paths::kLog, verdict.log_line);
    if (verdict.map_cleanup) {
        shell_run(kMapCleanupCommand);
    }
    return verdict.exit_status;
}

int run_sequence() {
    // The record is large (161 fields); it lives on the heap for the run.
    auto settings = std::make_unique<GatewaySettings>();
    settings_load(*settings);  // 1

    if (!tmp_directories_usable()) {
        return kExitRefused;
    }
    shell_run(kCmdMakeStaging);  // 2
    ensure_staging_directory();
    // Again after the mkdir: another user may have been quicker.
    if (!tmp_directories_usable()) {
        return kExitRefused;
    }
    shell_run(kCmdClearStaging);      // 3
    stage_uploaded_files(*settings);  // 4

    // 5 and 6: the CSV gate, then the enable gate.
    GateVerdict verdict = gate_before_config(*settings, file_exists(paths::kCsv));
    if (verdict.stops) {
        return end_run(verdict);
    }
    verdict = gate_config_written(daemon_config_write(*settings));  // 7
    if (verdict.stops) {
        return end_run(verdict);
    }
    verdict = gate_tls(*settings, {file_exists(paths::kCaCert), file_exists(paths::kLocalCert),
                                   file_exists(paths::kLocalKey)});  // 8
    if (verdict.stops) {
        return end_run(verdict);
    }

    stage_scripts(*settings);  // 9

    file_append_text(paths::kLog, kStartCommand);  // 10: command, then its line feed
    file_append_text(paths::kLog, kStartLogEnd);
    shell_run(kStartCommand);  // 11: in the background; not waited for
    return kExitStarted;
}

// Ends a run that ran out of memory with its log line, without allocating.
// The run may have stopped before its directories were made and checked.
int out_of_memory() {
    if (!tmp_directories_usable()) {
        return kExitRefused;
    }
    static_cast<void>(::mkdir(paths::kQuorbixDir, 0777));
    if (!tmp_directories_usable()) {
        return kExitRefused;
    }
    return end_run(kStopOutOfMemory);
}

}  // namespace

int launcher_main() {
    ensure_standard_descriptors();
    // Any allocation of the run may fail on a large settings file: the run
    // then ends with a word in the log, never with an abort.
    try {
        return run_sequence();
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}

}  // namespace quorbix
