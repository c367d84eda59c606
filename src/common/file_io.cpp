#include "common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorbix {

namespace {

// Writes every byte or returns false. A write() that takes nothing is a
// failure too: retrying it could go on for ever.
bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// Opens path with O_NOFOLLOW added to flags. A symbolic link at path (which
// O_NOFOLLOW refuses with ELOOP) is removed and a new file is made in its
// place with O_EXCL, so that a write never lands where a link points.
int open_no_follow(const char* path, int flags, mode_t mode) {
    int fd = ::open(path, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != ELOOP || (flags & O_CREAT) == 0) {
        return fd;
    }
    struct stat st {};
    if (::lstat(path, &st) != 0 || !S_ISLNK(st.st_mode) || ::unlink(path) != 0) {
        return -1;
    }
    return ::open(path, flags | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

}  // namespace

void file_append_text(const char* path, std::string_view text) {
    UniqueFd fd(open_no_follow(path, O_RDWR | O_APPEND | O_CREAT, 0666));
    if (!fd || text.empty()) {
        return;
    }
    static_cast<void>(
        write_all(fd.get(), reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

FileWriter::~FileWriter() {
    if (fd_) {
        fd_.reset();
        ::unlink(path_);
    }
}

bool FileWriter::open(const char* path, mode_t mode, bool exact_mode, bool create_new) {
    path_ = path;
    failed_ = false;
    const int flags = O_WRONLY | O_CREAT | (create_new ? O_EXCL : O_TRUNC);
    fd_.reset(open_no_follow(path, flags, mode));
    // An earlier file at this path keeps its old permissions through O_TRUNC;
    // a file that must stay private is set explicitly before any byte lands.
    if (fd_ && exact_mode && ::fchmod(fd_.get(), mode) != 0) {
        fd_.reset();
    }
    if (!fd_) {
        // A stale file that could not be rewritten must not pass for this
        // run's either.
        ::unlink(path);
        return false;
    }
    return true;
}

void FileWriter::write(const void* bytes, std::size_t count) {
    if (!failed_ && fd_) {
        failed_ = !write_all(fd_.get(), static_cast<const unsigned char*>(bytes), count);
    }
}

bool FileWriter::commit() {
    if (!fd_) {
        return false;
    }
    const bool closed = fd_.reset() == 0;
    if (failed_ || !closed) {
        ::unlink(path_);
        return false;
    }
    return true;
}

bool file_write_bytes(const char* path, const void* bytes, std::size_t count, mode_t mode,
                      bool exact_mode) {
    FileWriter writer;
    if (!writer.open(path, mode, exact_mode)) {
        return false;
    }
    writer.write(bytes, count);
    return writer.commit();
}

bool file_exists(const char* path) {
    return ::access(path, F_OK) == 0;
}

}  // namespace quorbix
