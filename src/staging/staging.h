// Turns the Base64 texts of the settings into the files the daemon and the
// gates of the start-up sequence expect.
#pragma once

#include <sys/types.h>

#include <string_view>

#include "settings/gateway_settings.h"
#include "staging/gates.h"

namespace quorbix {

// What staging one file came to: whether this call wrote it whole, the errno
// of the failure that kept it from being written whole, and the errno of the
// removal that failed to clear the path when it was not (0 when none).
struct StagedFile {
    bool written = false;
    int error = 0;
    int stale_error = 0;
};

// Decodes base64 chunk by chunk straight into the file at path (mode before
// the umask, or exactly `mode` when exact_mode is set), every decoded byte
// included. A text that decodes to no bytes leaves no file at path (a stale
// one is removed); a file that cannot be written whole is removed too.
StagedFile stage_file(const char* path, std::string_view base64, mode_t mode = 0666,
                      bool exact_mode = false);

// Says on standard error why the file at path was not staged, when it was
// not: the write that failed, and a stale file that could not be removed.
void report_staging(const char* path, const StagedFile& result);

// Said on standard error for an uploaded file that could not be written
// whole; "%s" are its path and the reason.
inline constexpr const char kNotStagedFormat[] = "quorbix-launcher: cannot write %s: %s\n";

// Said on standard error for a file of an earlier run that stays at a path
// this run leaves without a file of its own; "%s" are the path and the reason.
inline constexpr const char kStaleFormat[] = "quorbix-launcher: cannot remove stale %s: %s\n";

// Which uploaded files this run wrote whole. A file at one of these paths
// that this run did not write (one an earlier run left and nothing could
// remove) is not counted: the gates take it for missing.
struct StagedFiles {
    bool csv = false;
    TlsFilesPresent tls;
};

// Stages the CSV configuration file, CA certificate, client certificate and
// client key into "/tmp/quorbix/etc", whatever enable and mqtt_tls hold; a
// file that cannot be written whole is named on standard error, and the gates
// then find it missing. Returns which files were written whole.
StagedFiles stage_uploaded_files(const GatewaySettings& s);

// Removes the scripts of earlier runs and stages the ten direct-method
// scripts as "/tmp/quorbix/script-N.sh", each made with mode 0777 less the
// umask (what "chmod +x" then gives it too), so that it is executable even
// where chmod cannot run. Stops at the first script that cannot be written
// whole and returns its slot number; returns 0 when every script was staged.
unsigned stage_scripts(const GatewaySettings& s);

}  // namespace quorbix
