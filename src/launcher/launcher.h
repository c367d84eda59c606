// The start-up sequence of the gateway service.
#pragma once

namespace quorbix {

// Runs the whole start-up sequence once: loads the settings, checks its
// directories under /tmp, stages the uploaded files, applies the gates,
// writes the daemon configuration, stages the scripts and starts the daemon;
// returns the exit status (see staging/gates.h).
int launcher_main();

}  // namespace quorbix
