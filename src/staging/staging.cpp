#include "staging/staging.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "staging/base64.h"
#include "staging/gates.h"

namespace quorbix {

namespace {

struct UploadedFile {
    std::string GatewaySettings::*source;
    const char* path;
    mode_t mode;
    bool exact_mode;
};

// In staging order: the CSV file, then the TLS files. The private key is kept
// from other users whatever the umask; the daemon runs as the launcher's user
// and still reads it.
constexpr UploadedFile kUploadedFiles[] = {
    {&GatewaySettings::csv_data, paths::kCsv, 0666, false},
    {kTlsFiles[0].data, kTlsFiles[0].path, 0666, false},
    {kTlsFiles[1].data, kTlsFiles[1].path, 0666, false},
    {kTlsFiles[2].data, kTlsFiles[2].path, 0600, true},
};

}  // namespace

int stage_file(const char* path, std::string_view base64, mode_t mode, bool exact_mode) {
    // The text is decoded a chunk at a time into this buffer and written out
    // at once: no buffer ever holds the whole decoded file.
    constexpr std::size_t kChunk = 16384;
    unsigned char decoded[base64_chunk_bound(kChunk)];
    Base64Decoder decoder;
    FileWriter file;
    bool opened = false;
    while (!base64.empty()) {
        const std::size_t take = base64.size() < kChunk ? base64.size() : kChunk;
        const std::size_t n = base64_decode_chunk(decoder, base64.data(), take, decoded);
        base64.remove_prefix(take);
        if (n == 0) {
            continue;
        }
        // The file is made at the first decoded byte, so that a text of no
        // symbols makes none.
        if (!opened) {
            if (!file.open(path, mode, exact_mode)) {
                return file.error();
            }
            opened = true;
        }
        // Every decoded byte is written, NUL bytes included: DER
        // certificates and keys are binary.
        file.write(decoded, n);
    }
    if (opened) {
        return file.commit() ? 0 : file.error();
    }
    // Normally the shell's rm has removed it already; when it could not run,
    // a file from an earlier run must not pass for this run's.
    ::unlink(path);
    return 0;
}

void stage_uploaded_files(const GatewaySettings& s) {
    for (const UploadedFile& file : kUploadedFiles) {
        const int error = stage_file(file.path, s.*file.source, file.mode, file.exact_mode);
        // The gates decide what a missing file means; the reason is said
        // here, where it is known.
        if (error != 0) {
            static_cast<void>(
                std::fprintf(stderr, kNotStagedFormat, file.path, std::strerror(error)));
        }
    }
}

unsigned stage_scripts(const GatewaySettings& s) {
    shell_run("rm -rf /tmp/quorbix/*.sh");
    for (unsigned n = 1; n <= kDirectMethodSlots; ++n) {
        char path[32];
        static_cast<void>(std::snprintf(path, sizeof path, paths::kScriptTemplate, n));
        const int error = stage_file(path, s.direct_methods[n - 1].script);
        // chmod follows a symbolic link at the path. That is safe here only
        // because nobody but the launcher's own user can write in
        // /tmp/quorbix (checked and repaired before anything ran), and the
        // shell's rm has just cleared every script name in it.
        char command[1024];
        static_cast<void>(std::snprintf(command, sizeof command, "chmod +x %s", path));
        shell_run(command);
        if (error != 0) {
            return n;
        }
    }
    return 0;
}

}  // namespace quorbix
