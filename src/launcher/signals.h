// The signal state the launcher runs in, and hands to every shell, the token
// tool and the daemon.
#pragma once

namespace quorbix {

// Clears the signal mask and sets every ignored signal back to its default,
// so that the shells, the token tool and the daemon start clean whatever the
// service manager handed down. SIGPIPE alone keeps its disposition: service
// managers ignore it on purpose, and a daemon may rely on that. SIGXFSZ gets
// a handler that does nothing (not SIG_IGN, which children would inherit):
// a write past the file-size limit then fails with EFBIG, as any failed
// write, instead of ending the run.
void reset_signal_state();

}  // namespace quorbix
