#include "common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/unique_fd.h"

namespace quorbix {

void file_append_text(const char* path, std::string_view text) {
    UniqueFile file(std::fopen(path, "a+e"));
    if (!file) {
        return;
    }
    if (!text.empty()) {
        static_cast<void>(std::fwrite(text.data(), 1, text.size(), file.get()));
    }
}

namespace {

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool write_file(const char* path, const void* bytes, std::size_t count, mode_t mode,
                bool exact_mode) {
    UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!fd) {
        return false;
    }
    // An earlier file at this path keeps its old permissions through O_TRUNC;
    // a file that must stay private is set explicitly before any byte lands.
    if (exact_mode && ::fchmod(fd.get(), mode) != 0) {
        return false;
    }
    if (!write_all(fd.get(), static_cast<const unsigned char*>(bytes), count)) {
        return false;
    }
    return fd.reset() == 0;
}

}  // namespace

bool file_write_bytes(const char* path, const void* bytes, std::size_t count, mode_t mode,
                      bool exact_mode) {
    if (write_file(path, bytes, count, mode, exact_mode)) {
        return true;
    }
    // A partial (or stale) file would pass the existence gates and reach the
    // daemon; without it the gates report the file missing instead.
    ::unlink(path);
    return false;
}

bool file_exists(const char* path) {
    return ::access(path, F_OK) == 0;
}

}  // namespace quorbix
