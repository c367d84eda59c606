// The start-up sequence of the gateway service.
#pragma once

namespace quorbix {

// Exit statuses of one run.
inline constexpr int kExitStarted = 0;       // the daemon's start command went to the shell
inline constexpr int kExitDisabled = 1;      // the gateway is disabled; nothing started
inline constexpr int kExitMissingFile = -1;  // a required file is missing (255 to the parent)

// Runs the whole start-up sequence once: loads the settings, stages the
// uploaded files, applies the gates, writes the daemon configuration, stages
// the scripts and starts the daemon; returns the exit status.
int launcher_main();

}  // namespace quorbix
