// Shared by the fuzz targets: the input written to one private file, opened
// as the settings stream.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/unique_fd.h"
#include "settings/scanner.h"

namespace quorbix::fuzz {

// The private directory that holds the settings file, removed when the
// program ends normally (a crash leaves it for inspection).
struct PrivateDir {
    std::string dir;
    std::string file;
    PrivateDir() {
        char tmpl[] = "/tmp/quorbix-fuzz-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            ::abort();
        }
        dir = tmpl;
        file = dir + "/settings";
    }
    ~PrivateDir() {
        ::unlink(file.c_str());
        ::rmdir(dir.c_str());
    }
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;
};

// The private settings file that open_as_settings writes.
inline const std::string& settings_path() {
    static const PrivateDir place;
    return place.file;
}

// Replaces the private settings file's content with data and opens it.
inline SettingsStreamPtr open_as_settings(const std::uint8_t* data, std::size_t size) {
    const std::string& path = settings_path();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) {
        ::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd.get(), data + done, size - done);
        if (n <= 0) {
            ::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd.reset() != 0) {
        ::abort();
    }
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
