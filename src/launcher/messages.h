// What the launcher says on standard error about its run. The refusals of
// its directories are in private_dir.cpp, the files that could not be staged
// in staging/staging.h, and the token tool's trouble in daemon_config/token.h
// (said here with kTroubleFormat).
#pragma once

namespace quorbix {

// A log line that could not be appended, said instead: the log's path, the
// reason, then the line without its line feed (a length and the text).
inline constexpr const char kAppendFailedFormat[] =
    "quorbix-launcher: cannot append to %s: %s: %.*s\n";

// A settings file that is there but could not be read: its path and the
// reason (the run goes on as with no settings file).
inline constexpr const char kSettingsUnreadFormat[] = "quorbix-launcher: cannot read %s: %s\n";
inline constexpr const char kNotRegularReason[] = "not a regular file";

// Why the daemon was not started: what failed ("fork", "/bin/sh", or the
// daemon's path) and the reason.
inline constexpr const char kDaemonNotStartedFormat[] =
    "quorbix-launcher: cannot start the daemon: %s: %s\n";
// The shell that was to start it ended otherwise: its exit status, or the
// signal's number and name.
inline constexpr const char kShellExitFormat[] =
    "quorbix-launcher: cannot start the daemon: the shell exited with status %d\n";
inline constexpr const char kShellSignalFormat[] =
    "quorbix-launcher: cannot start the daemon: the shell was ended by signal %d (%s)\n";

// One sentence of trouble from another part (the token tool's).
inline constexpr const char kTroubleFormat[] = "quorbix-launcher: %s\n";

}  // namespace quorbix
