#include "launcher/launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "daemon_config/daemon_config.h"
#include "settings/gateway_settings.h"
#include "staging/staging.h"

namespace quorbix {

namespace {

// The log's messages, one append each.
constexpr const char kMsgNoCsv[] = "Can't find CSV config file in Appcapsule\n";
constexpr const char kMsgDisabled[] = "quorbix is disabled.\n";
constexpr const char kMsgNoCa[] = "Can't find CA Certificate file in Appcapsule\n";
constexpr const char kMsgNoLocalCert[] = "Can't find Local Certificate file in Appcapsule\n";
constexpr const char kMsgNoLocalKey[] = "Can't Local Private Key file in Appcapsule\n";

// The shell commands of the sequence.
constexpr const char kCmdMakeStaging[] = "mkdir -p /tmp/quorbix/etc";
constexpr const char kCmdClearStaging[] = "rm -rf /tmp/quorbix/etc/*.*";
constexpr const char kCmdMapCleanup[] =
    "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";
constexpr const char kCmdStartDaemon[] = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";

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
    static_cast<void>(::mkdir("/tmp/quorbix", 0777));
    static_cast<void>(::mkdir(paths::kStagingDir, 0777));
}

int fail(const char* message) {
    file_append_text(paths::kLog, message);
    shell_run(kCmdMapCleanup);
    return kExitMissingFile;
}

}  // namespace

int launcher_main() {
    ensure_standard_descriptors();

    // The record is large (161 fields); it lives on the heap for the run.
    auto settings = std::make_unique<GatewaySettings>();
    settings_load(*settings);  // 1

    shell_run(kCmdMakeStaging);  // 2
    ensure_staging_directory();
    shell_run(kCmdClearStaging);      // 3
    stage_uploaded_files(*settings);  // 4

    if (!file_exists(paths::kCsv)) {  // 5: CSV gate, before the enable gate
        return fail(kMsgNoCsv);
    }
    if (settings->enable == 0) {  // 6: enable gate; no map cleanup here
        file_append_text(paths::kLog, kMsgDisabled);
        return kExitDisabled;
    }

    daemon_config_write(*settings);  // 7

    switch (settings->mqtt_tls) {  // 8: TLS file gate
        case 1:
            if (!file_exists(paths::kCaCert)) {
                return fail(kMsgNoCa);
            }
            break;
        case 2:
            if (!file_exists(paths::kLocalCert)) {
                return fail(kMsgNoLocalCert);
            }
            if (!file_exists(paths::kLocalKey)) {
                return fail(kMsgNoLocalKey);
            }
            break;
        default:
            break;
    }

    stage_scripts(*settings);  // 9

    file_append_text(paths::kLog, kCmdStartDaemon);  // 10: command, then its line feed
    file_append_text(paths::kLog, "\n");
    shell_run(kCmdStartDaemon);  // 11: in the background; not waited for
    return kExitStarted;
}

}  // namespace quorbix
