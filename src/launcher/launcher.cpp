#include "launcher/launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "daemon_config/daemon_config.h"
#include "launcher/messages.h"
#include "launcher/private_dir.h"
#include "launcher/signals.h"
#include "settings/gateway_settings.h"
#include "settings/settings_file.h"
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

// Appends each of texts to the log, in separate appends; when one cannot be
// appended, says on standard error why, and what the log was to hold (line,
// without its line feed), once.
void append_to_log(std::initializer_list<const char*> texts, std::string_view line) {
    int error = 0;
    for (const char* text : texts) {
        const int e = file_append_text(paths::kLog, text);
        error = error != 0 ? error : e;
    }
    if (error != 0) {
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }
        static_cast<void>(std::fprintf(stderr, kAppendFailedFormat, paths::kLog,
                                       std::strerror(error), static_cast<int>(line.size()),
                                       line.data()));
    }
}

// Ends the run as the verdict says: its log line, the map cleanup when it
// asks for one, and its exit status.
int end_run(const GateVerdict& verdict) {
    append_to_log({verdict.log_line}, verdict.log_line);
    if (verdict.map_cleanup) {
        shell_run(kMapCleanupCommand);
    }
    return verdict.exit_status;
}

// Loads the settings, saying on standard error why a settings file that is
// there could not be read; the gates then judge the run as one without it.
void load_settings(GatewaySettings& settings) {
    SettingsFile unread;
    settings_load(settings, &unread);
    if (unread.error != 0 && unread.error != ENOENT) {
        static_cast<void>(std::fprintf(stderr, kSettingsUnreadFormat, paths::kSettings,
                                       std::strerror(unread.error)));
    } else if (unread.not_regular) {
        static_cast<void>(
            std::fprintf(stderr, kSettingsUnreadFormat, paths::kSettings, kNotRegularReason));
    }
}

// Says on standard error what went wrong with the token tool, if anything.
void report_token_trouble(const std::optional<TokenRun>& token) {
    if (!token) {
        return;
    }
    for (const std::string& sentence : token_trouble(*token)) {
        static_cast<void>(std::fprintf(stderr, kTroubleFormat, sentence.c_str()));
    }
}

// Whether the daemon is a regular file that the launcher may execute; says
// on standard error why not.
bool daemon_usable() {
    struct stat st {};
    int error = 0;
    if (::stat(paths::kDaemon, &st) != 0 ||
        (S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, paths::kDaemon, X_OK, AT_EACCESS) != 0)) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EACCES;  // what executing it would give
    }
    if (error != 0) {
        static_cast<void>(
            std::fprintf(stderr, kDaemonNotStartedFormat, paths::kDaemon, std::strerror(error)));
    }
    return error == 0;
}

// Hands the start command to the shell; returns its status, having said on
// standard error why it is not 0.
int start_daemon() {
    const int status = shell_status(kStartCommand);
    const int error = errno;
    if (status == -1 || (error != 0 && WIFEXITED(status) && WEXITSTATUS(status) == 127)) {
        // No shell was started (a C library may report that as status 127).
        static_cast<void>(std::fprintf(stderr, kDaemonNotStartedFormat, shell_start_failure(error),
                                       std::strerror(error)));
    } else if (WIFSIGNALED(status)) {
        const char* name = ::strsignal(WTERMSIG(status));
        static_cast<void>(std::fprintf(stderr, kShellSignalFormat, WTERMSIG(status),
                                       name != nullptr ? name : "?"));
    } else if (status != 0) {
        static_cast<void>(std::fprintf(stderr, kShellExitFormat, WEXITSTATUS(status)));
    }
    return status;
}

int run_sequence() {
    // The record is large (a field for every key); it lives on the heap for the run.
    auto settings = std::make_unique<GatewaySettings>();
    load_settings(*settings);  // 1

    if (!directories_usable(true)) {
        return kExitRefused;
    }
    shell_run(kCmdMakeStaging);  // 2
    if (!directories_usable(false)) {
        return kExitRefused;
    }
    shell_run(kCmdClearStaging);  // 3
    // 4: only what this run wrote whole passes the gates, never a file an
    // earlier run left that could not be removed.
    const StagedFiles staged = stage_uploaded_files(*settings);

    // 5 and 6: the CSV gate, then the enable gate.
    GateVerdict verdict = gate_before_config(*settings, staged.csv);
    if (verdict.stops) {
        return end_run(verdict);
    }
    const DaemonConfigWrite config = daemon_config_write(*settings, staged.tls.ca);  // 7
    report_token_trouble(config.token);
    verdict = gate_config_written(config.whole);
    if (verdict.stops) {
        return end_run(verdict);
    }
    verdict = gate_tls(*settings, staged.tls);  // 8
    if (verdict.stops) {
        return end_run(verdict);
    }

    ScriptLogLine script_line{};
    verdict = gate_scripts_written(stage_scripts(*settings), script_line);  // 9
    if (verdict.stops) {
        return end_run(verdict);
    }
    // No start is reported that cannot happen.
    verdict = gate_daemon_usable(daemon_usable());
    if (verdict.stops) {
        return end_run(verdict);
    }

    append_to_log({kStartCommand, kStartLogEnd}, kStartCommand);  // 10: command, then its line feed
    verdict = gate_shell_ran(start_daemon());  // 11: in the background; not waited for
    if (verdict.stops) {
        return end_run(verdict);
    }
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
    reset_signal_state();
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
