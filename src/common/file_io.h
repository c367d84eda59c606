// Small file helpers shared by the subsystems. Every file the launcher writes
// lies under /tmp/quorbix, in a directory it has checked; none of these
// helpers ever follows a symbolic link in a file's place.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

#include "common/unique_fd.h"

namespace quorbix {

// Opens path for writing with flags (O_WRONLY, or O_RDWR | O_APPEND) and
// creation mode `mode` before the umask, so that nothing planted there
// redirects or blocks the write: a symbolic link, FIFO, socket, device, hard
// link or another user's file at path is unlinked and a new file made in its
// place with O_EXCL; so is a file of the launcher's own that others could
// write (and so may hold open), whose contents an appended file keeps.
// Whatever the umask, the file is left writable by its owner alone, and it is
// emptied when truncate is set. Returns a blocking descriptor, or -1 with
// errno set.
int open_for_writing(const char* path, int flags, mode_t mode, bool truncate);

// Removes whatever is at path as "rm -rf" would, never following a symbolic
// link; what cannot be removed is renamed aside to "PATH.stale-PID-N".
// Returns true when nothing is left at path.
bool clear_path(const char* path);

// Appends text to the file at path (opened for reading and appending, created
// if absent, as mode "a+" does, through open_for_writing) and closes it again.
// Returns 0, or the errno of the open or write that kept the text from the
// file (EFBIG past the file-size limit, ENOSPC on a full disk).
int file_append_text(const char* path, std::string_view text);

// Writes one file whole or not at all: bytes are streamed into it chunk by
// chunk, and unless commit() succeeds the file is removed again, so that a
// partial file never passes for a whole one.
class FileWriter {
  public:
    FileWriter() = default;
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    ~FileWriter();

    // Opens path, which must outlive the writer, through open_for_writing
    // (emptied), or, with create_new, only where nothing is there at all.
    // The file gets `mode` before the umask, or exactly `mode` when
    // exact_mode is set. Returns false, leaving nothing at path, when it
    // cannot.
    bool open(const char* path, mode_t mode, bool exact_mode, bool create_new = false);

    // Appends count bytes; a failure is remembered and makes commit() fail.
    void write(const void* bytes, std::size_t count);

    // Closes the file and returns true when every byte reached it; otherwise
    // removes it and returns false.
    bool commit();

    // The errno of the first failure to open, write or close; 0 when none.
    [[nodiscard]] int error() const { return error_; }

  private:
    UniqueFd fd_;
    const char* path_ = nullptr;
    bool failed_ = false;
    int error_ = 0;
};

// Writes count bytes to path (created or truncated) with creation mode `mode`
// before the umask, or exactly `mode` when `exact_mode` is set; returns true
// when the whole file was written and closed, and removes the file otherwise,
// so that a failed write never leaves a partial file behind.
bool file_write_bytes(const char* path, const void* bytes, std::size_t count, mode_t mode = 0666,
                      bool exact_mode = false);

}  // namespace quorbix
