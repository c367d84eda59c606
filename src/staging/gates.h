// How a run of the launcher ends: its exit statuses, its log lines, and the
// gates that choose between them. The launcher calls the gates with what it
// finds on disk; the settings checker calls the same gates with what the
// settings promise, so both always name the same texts and statuses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/paths.h"
#include "settings/gateway_settings.h"

namespace quorbix {

// Exit statuses; a negative one reaches the parent as 256 plus it (-1: 255).
inline constexpr int kExitStarted = 0;   // the daemon's start command went to the shell
inline constexpr int kExitDisabled = 1;  // the gateway is disabled; nothing started
inline constexpr int kExitRefused = -1;  // a required file is missing, or the run cannot go on

// An exit status as the parent sees it: 0 to 255.
constexpr int exit_status_seen(int status) {
    return status & 0xff;
}

// The log's lines; each is appended whole, in one append.
inline constexpr const char kLogNoCsv[] = "Can't find CSV config file in Appcapsule\n";
inline constexpr const char kLogDisabled[] = "quorbix is disabled.\n";
inline constexpr const char kLogNoCa[] = "Can't find CA Certificate file in Appcapsule\n";
inline constexpr const char kLogNoLocalCert[] = "Can't find Local Certificate file in Appcapsule\n";
inline constexpr const char kLogNoLocalKey[] = "Can't Local Private Key file in Appcapsule\n";
inline constexpr const char kLogConfigNotWritten[] =
    "Can't write daemon config file /tmp/quorbix/config\n";
inline constexpr const char kLogOutOfMemory[] = "Can't start quorbix: out of memory\n";
inline constexpr const char kLogDaemonUnusable[] =
    "Can't start quorbix: /opt/quorbix/bin/quorbix is missing or not executable\n";
inline constexpr const char kLogShellNotRun[] = "Can't start quorbix: the shell could not be run\n";
// "%u" is the number of a direct-method script that could not be written whole.
inline constexpr const char kLogScriptNotWrittenFormat[] =
    "Can't write direct-method script /tmp/quorbix/script-%u.sh\n";

// The daemon's start command. A run that passes every gate appends it to the
// log, then kStartLogEnd in a second append, and hands it to the shell; when
// the shell cannot run it, kLogShellNotRun follows it in the log.
inline constexpr const char kStartCommand[] =
    "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";
inline constexpr const char kStartLogEnd[] = "\n";

// Run by every refusal that names its reason in the log.
inline constexpr const char kMapCleanupCommand[] =
    "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";

// Which gate a verdict comes from: the check that the settings checker
// reports it under.
enum class Gate : std::uint8_t {
    kNone,  // no gate stops the run
    kNoCsv,
    kDisabled,
    kConfigNotWritten,
    kNoCa,
    kNoLocalCert,
    kNoLocalKey,
    kScriptNotWritten,
    kDaemonUnusable,
    kShellNotRun,
    kOutOfMemory,
};

// What a gate decided: go on (stops false), or end the run with this exit
// status after appending log_line and, when map_cleanup is set, running
// kMapCleanupCommand.
struct GateVerdict {
    bool stops = false;
    int exit_status = kExitStarted;
    const char* log_line = nullptr;
    bool map_cleanup = false;
    Gate gate = Gate::kNone;
};

// Every way a run ends early, in the order a run meets them.
// clang-format off
//                                                  stops  exit status    log line              map cleanup?  gate
inline constexpr GateVerdict kGoOn{};
inline constexpr GateVerdict kStopNoCsv{            true,  kExitRefused,  kLogNoCsv,            true,  Gate::kNoCsv};
inline constexpr GateVerdict kStopDisabled{         true,  kExitDisabled, kLogDisabled,         false, Gate::kDisabled};
inline constexpr GateVerdict kStopConfigNotWritten{ true,  kExitRefused,  kLogConfigNotWritten, true,  Gate::kConfigNotWritten};
inline constexpr GateVerdict kStopNoCa{             true,  kExitRefused,  kLogNoCa,             true,  Gate::kNoCa};
inline constexpr GateVerdict kStopNoLocalCert{      true,  kExitRefused,  kLogNoLocalCert,      true,  Gate::kNoLocalCert};
inline constexpr GateVerdict kStopNoLocalKey{       true,  kExitRefused,  kLogNoLocalKey,       true,  Gate::kNoLocalKey};
// Its log line names the script: see gate_scripts_written.
inline constexpr GateVerdict kStopScriptNotWritten{ true,  kExitRefused,  nullptr,              true,  Gate::kScriptNotWritten};
inline constexpr GateVerdict kStopDaemonUnusable{   true,  kExitRefused,  kLogDaemonUnusable,   true,  Gate::kDaemonUnusable};
// After the start command's log line, when the shell did not run it:
inline constexpr GateVerdict kStopShellNotRun{      true,  kExitRefused,  kLogShellNotRun,      true,  Gate::kShellNotRun};
// At any stage, when memory runs out:
inline constexpr GateVerdict kStopOutOfMemory{      true,  kExitRefused,  kLogOutOfMemory,      true,  Gate::kOutOfMemory};
// clang-format on

// The CSV gate (stage 5): the CSV configuration file must be staged.
GateVerdict gate_csv(bool csv_present);

// The enable gate (stage 6): QUORBIX_ENABLE must not be 0.
GateVerdict gate_enabled(const GatewaySettings& s);

// The gates before the daemon configuration is written, each judged on its
// own, in the order a run meets them.
std::array<GateVerdict, 2> gates_before_config(const GatewaySettings& s, bool csv_present);

// The first of `verdicts`, gates_before_config's, that stops the run, or
// kGoOn.
GateVerdict first_stop(const std::array<GateVerdict, 2>& verdicts);

// The first of gates_before_config that stops the run, or kGoOn; the CSV
// gate comes first, so a missing CSV file ends a disabled run too.
GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present);

// Whether the daemon configuration was written whole (stage 7); the daemon is
// never started with a configuration cut short.
GateVerdict gate_config_written(bool written);

// Which of the TLS files are there: the CA certificate, the client
// certificate and the client key.
struct TlsFilesPresent {
    bool ca = false;
    bool local_cert = false;
    bool local_key = false;
};

// The TLS file gate (stage 8), after the configuration is written: mode 1
// needs the CA certificate, mode 2 the client certificate and then its key;
// every other mode needs no file.
GateVerdict gate_tls(const GatewaySettings& s, const TlsFilesPresent& present);

// The TLS files, each by the name of the record's field that carries it.
enum class TlsFile : std::uint8_t { kCa, kLocalCert, kLocalKey };

// The TLS files, named here once: the setting that carries each and its role
// in the key table, where it is staged, its place in TlsFilesPresent, and
// the gate that stops a run that needs it and finds none.
struct TlsFileRow {
    TlsFile file;
    FieldRole role;
    std::string GatewaySettings::*data;
    const char* path;
    bool TlsFilesPresent::*present;
    Gate gate;
};

// In TlsFile order.
// clang-format off
inline constexpr TlsFileRow kTlsFiles[] = {
    {TlsFile::kCa,        FieldRole::kCa,        &GatewaySettings::ca_data,         paths::kCa,        &TlsFilesPresent::ca,         Gate::kNoCa},
    {TlsFile::kLocalCert, FieldRole::kLocalCert, &GatewaySettings::local_cert_data, paths::kLocalCert, &TlsFilesPresent::local_cert, Gate::kNoLocalCert},
    {TlsFile::kLocalKey,  FieldRole::kLocalKey,  &GatewaySettings::local_key_data,  paths::kLocalKey,  &TlsFilesPresent::local_key,  Gate::kNoLocalKey},
};
// clang-format on

// The row of `file`.
constexpr const TlsFileRow& tls_file_row(TlsFile file) {
    return kTlsFiles[static_cast<std::size_t>(file)];
}

constexpr bool tls_files_in_order() {
    std::size_t i = 0;
    for (const TlsFileRow& row : kTlsFiles) {
        // cppcheck-suppress useStlAlgorithm ; the algorithms are not constexpr in C++17
        if (static_cast<std::size_t>(row.file) != i++) {
            return false;
        }
    }
    return true;
}
static_assert(tls_files_in_order(), "kTlsFiles is in TlsFile order");

// Room for that line with any slot number.
struct ScriptLogLine {
    char text[80];
};

// After the scripts are staged (stage 9): a script that could not be written
// whole (its slot number, or 0 when none failed) ends the run, with its log
// line formatted into line, so that the daemon never starts without it.
GateVerdict gate_scripts_written(unsigned failed_slot, ScriptLogLine& line);

// Before the start command is logged: the daemon /opt/quorbix/bin/quorbix
// must be a regular file that the launcher may execute, or no start is
// reported.
GateVerdict gate_daemon_usable(bool usable);

// After the start command is handed to the shell: its status must be 0. It
// only starts a background job, so anything else means that no shell ran it
// (no process could be made, or no shell could be executed).
GateVerdict gate_shell_ran(int shell_status);

}  // namespace quorbix
