#include "common/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
            if (n == 0) {
                errno = ENOSPC;  // nothing taken: as good as a full disk
            }
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// Flags of every open here: no link followed, no wait on a FIFO that
// someone holds open (it is replaced, see open_for_writing), and nothing
// handed to the shells.
constexpr int kGuardFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// A regular file of the launcher's own user with no other name.
bool own_single_file(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// True when an existing file is one the launcher may write through: its own,
// with no other name, and writable by nobody else. A FIFO would block, a
// device or socket is no file at all, and through a hard link, another user's
// file or one that others could write (and so may hold open for writing) the
// bytes would land where someone else reads or changes them.
bool writable_in_place(const struct stat& st) {
    return own_single_file(st) && (st.st_mode & 022) == 0;
}

// Copies what the file open as from holds to the end of the file open as
// to, as far as it can: the lines of a log kept from a file that had to be
// replaced.
void copy_contents(int from, int to) {
    unsigned char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
        if (n <= 0 || !write_all(to, buffer, static_cast<std::size_t>(n))) {
            return;
        }
        at += n;
    }
}

// Deeper trees than this at a path the launcher clears are left in place:
// each level holds a descriptor while its entries are removed.
constexpr int kMaxTreeDepth = 64;

// Removes every entry of the directory open as dir_fd, the way "rm -rf"
// does, never following a symbolic link; closes dir_fd. Returns false when
// something could not be removed.
bool remove_entries(int dir_fd, int depth) {
    DIR* dir = ::fdopendir(dir_fd);
    if (dir == nullptr) {
        ::close(dir_fd);
        return false;
    }
    bool removed_all = true;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if (::unlinkat(dir_fd, name, 0) == 0) {
            continue;
        }
        // unlink refuses a directory (EISDIR, or EPERM on some systems).
        const int sub = ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0 || depth >= kMaxTreeDepth) {
            if (sub >= 0) {
                ::close(sub);
            }
            removed_all = false;
        } else if (!remove_entries(sub, depth + 1) || ::unlinkat(dir_fd, name, AT_REMOVEDIR) != 0) {
            removed_all = false;
        }
    }
    ::closedir(dir);
    return removed_all;
}

// Makes a new file at path after clearing whatever stands there, with O_EXCL
// so that nothing planted between the two steps is opened instead.
int replace_with_new_file(const char* path, int flags, mode_t mode) {
    if (!clear_path(path)) {
        return -1;
    }
    return ::open(path, flags | O_CREAT | O_EXCL | kGuardFlags, mode);
}

// Opens the file at path that is already there, replacing it when it may
// not be written through (see writable_in_place). An appended file of the
// launcher's own keeps its contents in the new file.
int open_existing(const char* path, int flags, mode_t mode) {
    UniqueFd old(::open(path, flags | kGuardFlags));
    struct stat st {};
    if (old && ::fstat(old.get(), &st) != 0) {
        return -1;
    }
    if (old && writable_in_place(st)) {
        return old.release();
    }
    // ELOOP: a symbolic link; ENXIO: a FIFO with no reader, or a socket;
    // EISDIR: a directory.
    if (!old && errno != ELOOP && errno != ENXIO && errno != EISDIR) {
        return -1;
    }
    UniqueFd fd(replace_with_new_file(path, flags, mode));
    if (fd && old && (flags & O_APPEND) != 0 && own_single_file(st)) {
        copy_contents(old.get(), fd.get());
    }
    return fd.release();
}

}  // namespace

int open_for_writing(const char* path, int flags, mode_t mode, bool truncate) {
    // A new file is known to be this call's; anything already there is
    // examined first, and never emptied (no O_TRUNC) before that.
    UniqueFd fd(::open(path, flags | O_CREAT | O_EXCL | kGuardFlags, mode));
    if (!fd && errno == EEXIST) {
        fd.reset(open_existing(path, flags, mode));
    }
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        return -1;
    }
    // Made under a loose umask: nobody but its owner may write it.
    if ((st.st_mode & 022) != 0 && ::fchmod(fd.get(), st.st_mode & 07777 & ~mode_t{022}) != 0) {
        return -1;
    }
    if (truncate && ::ftruncate(fd.get(), 0) != 0) {
        return -1;
    }
    const int status_flags = ::fcntl(fd.get(), F_GETFL);
    if (status_flags < 0 || ::fcntl(fd.get(), F_SETFL, status_flags & ~O_NONBLOCK) != 0) {
        return -1;
    }
    return fd.release();
}

bool clear_path(const char* path) {
    if (::unlink(path) == 0 || errno == ENOENT) {
        return true;
    }
    const int dir_fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir_fd >= 0 && remove_entries(dir_fd, 1) && ::rmdir(path) == 0) {
        return true;
    }
    // What cannot be removed (a tree deeper than kMaxTreeDepth, or one that
    // another user keeps filling) is put aside under a name nothing uses.
    char aside[256];
    for (unsigned n = 0; n < 100; ++n) {
        const int length = std::snprintf(aside, sizeof aside, "%s.stale-%ld-%u", path,
                                         static_cast<long>(::getpid()), n);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof aside) {
            return false;
        }
        if (::renameat2(AT_FDCWD, path, AT_FDCWD, aside, RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

int file_append_text(const char* path, std::string_view text) {
    UniqueFd fd(open_for_writing(path, O_RDWR | O_APPEND, 0666, false));
    if (!fd) {
        return errno;
    }
    if (!write_all(fd.get(), reinterpret_cast<const unsigned char*>(text.data()), text.size())) {
        return errno;
    }
    // A file system may report a lost write only when the file is closed.
    return fd.reset() == 0 ? 0 : errno;
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
    error_ = 0;
    if (create_new) {
        fd_.reset(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    } else {
        fd_.reset(open_for_writing(path, O_WRONLY, mode, true));
    }
    // An earlier file at this path keeps its old permissions through O_TRUNC;
    // a file that must stay private is set explicitly before any byte lands.
    if (fd_ && exact_mode && ::fchmod(fd_.get(), mode) != 0) {
        fd_.reset();
    }
    if (!fd_) {
        error_ = errno;
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
        if (failed_) {
            error_ = errno;
        }
    }
}

bool FileWriter::commit() {
    if (!fd_) {
        return false;
    }
    const bool closed = fd_.reset() == 0;
    if (!closed && !failed_) {
        error_ = errno;
    }
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

}  // namespace quorbix
