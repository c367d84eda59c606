// How a settings file is opened, by the launcher and by the checker alike.
#pragma once

#include <cstdint>

#include "common/unique_fd.h"

namespace quorbix {

// An opened settings file, or why it is not one.
struct SettingsFile {
    UniqueFd fd;               // open for blocking reads; invalid when the file is not taken
    std::uint64_t size = 0;    // its size when opened
    int error = 0;             // errno of a failed open; 0 when it opened
    bool not_regular = false;  // it opened but is no regular file (or cannot be examined)
};

// Opens path for reading as a settings file: only a regular file is taken,
// and it is opened without waiting, so that a FIFO with no writer never
// hangs the caller; its reads then block as usual.
SettingsFile settings_file_open(const char* path);

}  // namespace quorbix
