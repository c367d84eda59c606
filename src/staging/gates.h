// The gates of the start-up sequence: which staged files a run needs, and the
// log line and exit status of each refusal. The launcher applies them to the
// files it finds; the checker to the files the settings would stage.
#pragma once

#include "settings/gateway_settings.h"

namespace quorbix {

// Exit statuses of one run.
inline constexpr int kExitStarted = 0;       // the daemon's start command went to the shell
inline constexpr int kExitDisabled = 1;      // the gateway is disabled; nothing started
inline constexpr int kExitMissingFile = -1;  // a required file is missing (255 to the parent)

// The log's messages, one append each.
inline constexpr const char kMsgNoCsv[] = "Can't find CSV config file in Appcapsule\n";
inline constexpr const char kMsgDisabled[] = "quorbix is disabled.\n";
inline constexpr const char kMsgNoCa[] = "Can't find CA Certificate file in Appcapsule\n";
inline constexpr const char kMsgNoLocalCert[] = "Can't find Local Certificate file in Appcapsule\n";
inline constexpr const char kMsgNoLocalKey[] = "Can't Local Private Key file in Appcapsule\n";

// The daemon's start command, logged (then a line feed) and run.
inline constexpr const char kCmdStartDaemon[] =
    "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";

// What a gate decided: whether the run ends there, with which status and log
// line, and whether the map cleanup runs.
struct GateVerdict {
    bool stops = false;
    int exit_status = kExitStarted;
    const char* log_line = nullptr;
    bool map_cleanup = false;
};

// The CSV gate, then the enable gate, before the configuration is written.
GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present);

// The TLS file gate, after the configuration is written.
GateVerdict gate_tls(const GatewaySettings& s, bool ca_present, bool local_cert_present,
                     bool local_key_present);

}  // namespace quorbix
