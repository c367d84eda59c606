#include "staging/staging.h"

#include <unistd.h>

#include <cstdio>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "staging/base64.h"

namespace quorbix {

namespace {

struct UploadedFile {
    std::string GatewaySettings::*source;
    const char* path;
    mode_t mode;
    bool exact_mode;
};

// In staging order. The private key is kept from other users whatever the
// umask; the daemon runs as the launcher's user and still reads it.
const UploadedFile kUploadedFiles[] = {
    {&GatewaySettings::csv_data, paths::kCsv, 0666, false},
    {&GatewaySettings::ca_data, paths::kCaCert, 0666, false},
    {&GatewaySettings::local_cert_data, paths::kLocalCert, 0666, false},
    {&GatewaySettings::local_key_data, paths::kLocalKey, 0600, true},
};

}  // namespace

bool stage_file(const char* path, const std::string& base64, mode_t mode, bool exact_mode) {
    DecodedBytes decoded = base64_decode_dup(base64.c_str());
    if (!decoded.data) {
        return false;
    }
    // Every decoded byte is written, NUL bytes included: DER certificates and
    // keys are binary.
    if (decoded.size != 0) {
        file_write_bytes(path, decoded.data.get(), decoded.size, mode, exact_mode);
    } else {
        // Normally the shell's rm has removed it already; when it could not
        // run, a file from an earlier run must not pass for this run's.
        ::unlink(path);
    }
    return true;
}

void stage_uploaded_files(const GatewaySettings& s) {
    for (const UploadedFile& file : kUploadedFiles) {
        stage_file(file.path, s.*file.source, file.mode, file.exact_mode);
    }
}

void stage_scripts(const GatewaySettings& s) {
    shell_run("rm -rf /tmp/quorbix/*.sh");
    for (unsigned n = 1; n <= kDirectMethodSlots; ++n) {
        char path[32];
        static_cast<void>(std::snprintf(path, sizeof path, paths::kScriptTemplate, n));
        if (stage_file(path, s.direct_methods[n - 1].script)) {
            char command[1024];
            static_cast<void>(std::snprintf(command, sizeof command, "chmod +x %s", path));
            shell_run(command);
        }
    }
}

}  // namespace quorbix
