// Shared by the fuzz targets: the input written to one private file, opened
// as the settings stream.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/scanner.h"

namespace quorbix::fuzz {

// Replaces the private settings file's content with data and opens it.
inline SettingsStreamPtr open_as_settings(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char dir[] = "/tmp/quorbix-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr) {
            ::abort();
        }
        return std::string(dir) + "/settings";
    }();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        ::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return settings_open_path(path.c_str());
}

// Stops the fuzzer with a crash that names the broken property.
#define QUORBIX_FUZZ_CHECK(cond) \
    do {                         \
        if (!(cond)) {           \
            __builtin_trap();    \
        }                        \
    } while (0)

}  // namespace quorbix::fuzz
