// Small file helpers shared by the subsystems.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace quorbix {

// Appends text to the file at path (opened with mode "a+", created if absent)
// and closes it again; a file that cannot be opened is passed over silently.
void file_append_text(const char* path, std::string_view text);

// Writes count bytes to path (created or truncated) with creation mode `mode`
// before the umask, or exactly `mode` when `exact_mode` is set; returns true
// when the whole file was written and closed, and removes the file otherwise,
// so that a failed write never leaves a partial file behind.
bool file_write_bytes(const char* path, const void* bytes, std::size_t count, mode_t mode = 0666,
                      bool exact_mode = false);

// True when something exists at path (the access test with F_OK).
bool file_exists(const char* path);

}  // namespace quorbix
