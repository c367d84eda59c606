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
// Returns false only when a write failed.
bool stage_file(const char* path, std::string_view base64, mode_t mode = 0666,
                bool exact_mode = false);

// Stages the CSV configuration file, CA certificate, client certificate and
// client key into "/tmp/quorbix/etc", whatever enable and mqtt_tls hold.
void stage_uploaded_files(const GatewaySettings& s);

// Removes the scripts of earlier runs and stages the ten direct-method
// scripts as "/tmp/quorbix/script-N.sh", each made executable.
void stage_scripts(const GatewaySettings& s);

}  // namespace quorbix
