#include "staging/staging.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    bool StagedFiles::*csv;          // where the record keeps it: the CSV file,
    bool TlsFilesPresent::*present;  // or one of the TLS files
};

// In staging order: the CSV file, then the TLS files. The private key is kept
// from other users whatever the umask; the daemon runs as the launcher's user
// and still reads it.
constexpr UploadedFile kUploadedFiles[] = {
    {&GatewaySettings::csv_data, paths::kCsv, 0666, false, &StagedFiles::csv, nullptr},
    {kTlsFiles[0].data, kTlsFiles[0].path, 0666, false, nullptr, kTlsFiles[0].present},
    {kTlsFiles[1].data, kTlsFiles[1].path, 0666, false, nullptr, kTlsFiles[1].present},
    {kTlsFiles[2].data, kTlsFiles[2].path, 0600, true, nullptr, kTlsFiles[2].present},
};

// Leaves nothing at path that an earlier run put there: the shell's rm has
// normally removed it already, but it may not have run, and nothing removes a
// file on a read-only file system or a mount point. Returns 0, or the errno
// of the removal that failed; the gates take what stays for missing.
int remove_stale(const char* path) {
    if (::unlink(path) == 0 || errno == ENOENT) {
        return 0;
    }
    // A read-only file system refuses even where nothing is there.
    const int error = errno;
    struct stat st {};
    return ::lstat(path, &st) != 0 && errno == ENOENT ? 0 : error;
}

// The creation mode that "chmod +x" gives a new file: 0777 less the umask.
mode_t executable_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0777 & ~mask;
}

}  // namespace

StagedFile stage_file(const char* path, std::string_view base64, mode_t mode, bool exact_mode) {
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
                const int error = file.error();
                return {false, error, remove_stale(path)};
            }
            opened = true;
        }
        // Every decoded byte is written, NUL bytes included: DER
        // certificates and keys are binary.
        file.write(decoded, n);
    }
    if (opened && file.commit()) {
        return {true, 0, 0};
    }
    // A failure is never taken for success, even one that left no errno.
    const int error = !opened ? 0 : file.error() != 0 ? file.error() : EIO;
    return {false, error, remove_stale(path)};
}

void report_staging(const char* path, const StagedFile& result) {
    if (result.error != 0) {
        static_cast<void>(
            std::fprintf(stderr, kNotStagedFormat, path, std::strerror(result.error)));
    }
    if (result.stale_error != 0) {
        static_cast<void>(
            std::fprintf(stderr, kStaleFormat, path, std::strerror(result.stale_error)));
    }
}

StagedFiles stage_uploaded_files(const GatewaySettings& s) {
    StagedFiles staged;
    for (const UploadedFile& file : kUploadedFiles) {
        const StagedFile result = stage_file(file.path, s.*file.source, file.mode, file.exact_mode);
        // The gates decide what a missing file means; the reason is said
        // here, where it is known.
        report_staging(file.path, result);
        (file.csv != nullptr ? staged.*file.csv : staged.tls.*file.present) = result.written;
    }
    return staged;
}

unsigned stage_scripts(const GatewaySettings& s) {
    shell_run("rm -rf /tmp/quorbix/*.sh");
    for (unsigned n = 1; n <= kDirectMethodSlots; ++n) {
        char path[32];
        static_cast<void>(std::snprintf(path, sizeof path, paths::kScriptTemplate, n));
        const StagedFile script =
            stage_file(path, s.direct_methods[n - 1].script, executable_mode(), true);
        report_staging(path, script);
        // chmod follows a symbolic link at the path. That is safe here only
        // because nobody but the launcher's own user can write in
        // /tmp/quorbix (checked and repaired before anything ran), and the
        // shell's rm has just cleared every script name in it.
        char command[1024];
        static_cast<void>(std::snprintf(command, sizeof command, "chmod +x %s", path));
        shell_run(command);
        if (script.error != 0) {
            return n;
        }
    }
    return 0;
}

}  // namespace quorbix
