#include "launcher/launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "daemon_config/daemon_config.h"
#include "launcher/private_dir.h"
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

// Nothing the launcher makes may be writable by anyone but its owner,
// whatever umask the service manager handed down: 022 is added to it, never
// taken away.
void tighten_umask() {
    const mode_t inherited = ::umask(022);
    ::umask(inherited | 022);
}

// /tmp is shared with every user of the device. Before anything is run,
// /tmp/quorbix and then its etc are made (mode 0755) when absent and checked,
// parent before child: a child is judged only inside a parent nobody else
// can write, so no other user can swap one between its check and its use.
// After the shell's "mkdir -p", which runs whatever mkdir the search path
// finds, both are checked again (make false): they must still be there, and
// still the launcher's own. Returns false, having said why on standard
// error, when one may not be used.
bool directories_usable(bool make) {
    const char* const directories[] = {paths::kQuorbixDir, paths::kStagingDir};
    return std::all_of(std::begin(directories), std::end(directories), [make](const char* path) {
        const DirCheck check = make ? make_private_directory(path) : check_private_directory(path);
        if (check.fault == DirFault::kNone) {
            return true;
        }
        report_directory_refusal(path, check);
        return false;
    });
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

    if (!directories_usable(true)) {
        return kExitRefused;
    }
    shell_run(kCmdMakeStaging);  // 2
    if (!directories_usable(false)) {
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
    verdict = gate_tls(*settings, tls_files_on_disk());  // 8
    if (verdict.stops) {
        return end_run(verdict);
    }

    ScriptLogLine script_line{};
    verdict = gate_scripts_written(stage_scripts(*settings), script_line);  // 9
    if (verdict.stops) {
        return end_run(verdict);
    }

    file_append_text(paths::kLog, kStartCommand);  // 10: command, then its line feed
    file_append_text(paths::kLog, kStartLogEnd);
    shell_run(kStartCommand);  // 11: in the background; not waited for
    return kExitStarted;
}

// Ends a run that ran out of memory with its log line, without allocating.
// The run may have stopped before its directories were made and checked; the
// log and the map files lie in /tmp/quorbix alone.
int out_of_memory() {
    const DirCheck check = make_private_directory(paths::kQuorbixDir);
    if (check.fault != DirFault::kNone) {
        report_directory_refusal(paths::kQuorbixDir, check);
        return kExitRefused;
    }
    return end_run(kStopOutOfMemory);
}

}  // namespace

int launcher_main() {
    tighten_umask();
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
