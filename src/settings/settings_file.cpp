#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace quorbix {

SettingsFile settings_file_open(const char* path) {
    SettingsFile file;
    file.fd.reset(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.fd) {
        file.error = errno;
        return file;
    }
    struct stat st {};
    if (::fstat(file.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        file.fd.reset();
        file.not_regular = true;
        return file;
    }
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    file.size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

}  // namespace quorbix
