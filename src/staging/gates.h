// How a run of the launcher ends: its exit statuses, its log lines, and the
// gates that choose between them. The launcher calls the gates with what it
// finds on disk; the settings checker calls the same gates with what the
// settings promise, so both always name the same texts and statuses.
#pragma once

#include "settings/gateway_settings.h"

namespace quorbix {

// Exit statuses; a negative one reaches the parent as 256 plus it (-1: 255).
inline constexpr int kExitStarted = 0;   // the daemon's start command went to the shell
inline constexpr int kExitDisabled = 1;  // the gateway is disabled; nothing started
inline constexpr int kExitRefused = -1;  // a required file is missing, or the run cannot go on

// The log's lines; each is appended whole, in one append.
inline constexpr const char kLogNoCsv[] = "Can't find CSV config file in Appcapsule\n";
inline constexpr const char kLogDisabled[] = "quorbix is disabled.\n";
inline constexpr const char kLogNoCa[] = "Can't find CA Certificate file in Appcapsule\n";
inline constexpr const char kLogNoLocalCert[] = "Can't find Local Certificate file in Appcapsule\n";
inline constexpr const char kLogNoLocalKey[] = "Can't Local Private Key file in Appcapsule\n";
inline constexpr const char kLogConfigNotWritten[] =
    "Can't write daemon config file /tmp/quorbix/config\n";
inline constexpr const char kLogOutOfMemory[] = "Can't start quorbix: out of memory\n";
// "%u" is the number of a direct-method script that could not be written whole.
inline constexpr const char kLogScriptNotWrittenFormat[] =
    "Can't write direct-method script /tmp/quorbix/script-%u.sh\n";

// The daemon's start command. A run that passes every gate appends it to the
// log, then kStartLogEnd in a second append, and hands it to the shell.
inline constexpr const char kStartCommand[] =
    "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";
inline constexpr const char kStartLogEnd[] = "\n";

// Run by every refusal that names its reason in the log.
inline constexpr const char kMapCleanupCommand[] =
    "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";

// What a gate decided: go on (stops false), or end the run with this exit
// status after appending log_line and, when map_cleanup is set, running
// kMapCleanupCommand.
struct GateVerdict {
    bool stops = false;
    int exit_status = kExitStarted;
    const char* log_line = nullptr;
    bool map_cleanup = false;
};

// Every way a run ends early, in the order a run meets them.
// clang-format off
//                                                  stops  exit status    log line              map cleanup?
inline constexpr GateVerdict kGoOn{};
inline constexpr GateVerdict kStopNoCsv{            true,  kExitRefused,  kLogNoCsv,            true};
inline constexpr GateVerdict kStopDisabled{         true,  kExitDisabled, kLogDisabled,         false};
inline constexpr GateVerdict kStopConfigNotWritten{ true,  kExitRefused,  kLogConfigNotWritten, true};
inline constexpr GateVerdict kStopNoCa{             true,  kExitRefused,  kLogNoCa,             true};
inline constexpr GateVerdict kStopNoLocalCert{      true,  kExitRefused,  kLogNoLocalCert,      true};
inline constexpr GateVerdict kStopNoLocalKey{       true,  kExitRefused,  kLogNoLocalKey,       true};
// Its log line names the script: see gate_scripts_written.
inline constexpr GateVerdict kStopScriptNotWritten{ true,  kExitRefused,  nullptr,              true};
// At any stage, when memory runs out:
inline constexpr GateVerdict kStopOutOfMemory{      true,  kExitRefused,  kLogOutOfMemory,      true};
// clang-format on

// The CSV gate, then the enable gate (stages 5 and 6), before the daemon
// configuration is written; the CSV gate comes first, so a missing CSV file
// ends a disabled run too.
GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present);

// Whether the daemon configuration was written whole (stage 7); the daemon is
// never started with a configuration cut short.
GateVerdict gate_config_written(bool written);

// The TLS file gate (stage 8), after the configuration is written: mode 1
// needs the CA certificate, mode 2 the client certificate and then its key;
// every other mode needs no file.
GateVerdict gate_tls(const GatewaySettings& s, bool ca_present, bool local_cert_present,
                     bool local_key_present);

// Room for that line with any slot number.
struct ScriptLogLine {
    char text[80];
};

// After the scripts are staged (stage 9): a script that could not be written
// whole (its slot number, or 0 when none failed) ends the run, with its log
// line formatted into line, so that the daemon never starts without it.
GateVerdict gate_scripts_written(unsigned failed_slot, ScriptLogLine& line);

}  // namespace quorbix
