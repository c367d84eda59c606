// Turns the Base64 texts of the settings into the files the daemon and the
// gates of the start-up sequence expect.
#pragma once

#include <sys/types.h>

#include <string_view>

#include "settings/gateway_settings.h"

namespace quorbix {

// Decodes base64 chunk by chunk straight into the file at path (mode before
// the umask, or exactly `mode` when exact_mode is set), every decoded byte
// included. A text that decodes to no bytes leaves no file at path (a stale
// one is removed); a file that cannot be written whole is removed too.
// Returns 0, or the errno of the failure that kept the file from being
// written whole.
int stage_file(const char* path, std::string_view base64, mode_t mode = 0666,
               bool exact_mode = false);

// Said on standard error for an uploaded file that could not be written
// whole; "%s" are its path and the reason.
inline constexpr const char kNotStagedFormat[] = "quorbix-launcher: cannot write %s: %s\n";

// Stages the CSV configuration file, CA certificate, client certificate and
// client key into "/tmp/quorbix/etc", whatever enable and mqtt_tls hold; a
// file that cannot be written whole is named on standard error, and the gates
// then find it missing.
void stage_uploaded_files(const GatewaySettings& s);

// Removes the scripts of earlier runs and stages the ten direct-method
// scripts as "/tmp/quorbix/script-N.sh", each made executable. Stops at the
// first script that cannot be written whole and returns its slot number;
// returns 0 when every script was staged.
unsigned stage_scripts(const GatewaySettings& s);

}  // namespace quorbix
