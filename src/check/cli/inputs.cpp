#include "check/cli/inputs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "check/cli/rcfile.h"
#include "check/connect/net.h"
#include "common/unique_fd.h"
#include "settings/scanner.h"
#include "settings/settings_file.h"

namespace quorbix {

namespace {

// How the launcher reads a file larger than it holds whole, as every file
// over the checker's bound is.
constexpr char kLauncherWindow[] = "; the launcher reads so large a file through a window";
static_assert(kMaxSettingsBytes > kDefaultInMemoryLimit);

// Why a file over `limit` bytes is not checked; its size when it is known.
std::string over_bound(std::optional<std::uint64_t> size, std::uint64_t limit) {
    const std::string bound = std::to_string(limit);
    const std::string what = size ? "the file is " + std::to_string(*size) +
                                        " bytes, more than the " + bound + " the checker reads"
                                  : "more than the " + bound + " bytes the checker reads";
    return "too large to check: " + what + kLauncherWindow;
}

// Opens a named pipe for reading like standard input, waiting for a writer
// (without one yet a pipe reads as ended); invalid when path is no pipe.
UniqueFd open_pipe(const char* path) {
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    pollfd writer{fd.get(), POLLIN, 0};
    while (::poll(&writer, 1, -1) < 0 && errno == EINTR) {
    }
    return fd;
}

namespace fs = std::filesystem;

// Adds every regular file under `folder` to *out, and every folder that
// cannot be listed with its reason; follows no link.
void walk(const fs::path& folder, std::vector<Input>* out) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    const fs::directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec) {
            break;
        }
        if (fs::is_directory(status)) {
            walk(it->path(), out);
        } else if (fs::is_regular_file(status) && it->path().filename() != kRcFileName) {
            out->push_back(Input{it->path().string(), ""});
        }
    }
    if (ec) {
        out->push_back(
            Input{folder.string(), ec.message() + "; no file under the folder is checked"});
    }
}

}  // namespace

std::vector<Input> expand_inputs(const std::vector<std::string>& arguments,
                                 std::vector<std::string>* empty) {
    std::vector<Input> inputs;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (argument == "-" || !fs::is_directory(argument, ec)) {
            inputs.push_back(Input{argument, ""});
            continue;
        }
        std::vector<Input> found;
        walk(argument, &found);
        if (found.empty()) {
            empty->push_back(argument);
        }
        std::sort(found.begin(), found.end(),
                  [](const Input& a, const Input& b) { return a.path < b.path; });
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    return inputs;
}

bool read_bounded(int fd, std::optional<std::uint64_t> size_at_open, std::uint64_t bound,
                  std::string* bytes, std::string* why) {
    if (size_at_open && *size_at_open > bound) {
        *why = over_bound(size_at_open, bound);
        return false;
    }
    // One allocation of the file's size, not a doubling one: the file is
    // the largest thing a check holds.
    const std::uint64_t limit = size_at_open ? *size_at_open : bound;
    if (size_at_open) {
        bytes->reserve(static_cast<std::size_t>(*size_at_open) + 1);
    }
    char buf[65536];
    for (;;) {
        // A pipe is read one byte past the bound, to tell a full one from more.
        const std::uint64_t left = limit - bytes->size() + (size_at_open ? 0 : 1);
        if (left == 0) {
            return true;
        }
        const ssize_t n =
            ::read(fd, buf, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buf)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *why = errno_text(errno);  // strerror's own text, safe on any thread
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!size_at_open && bytes->size() + static_cast<std::size_t>(n) > bound) {
            *why = over_bound(std::nullopt, bound);
            return false;
        }
        bytes->append(buf, static_cast<std::size_t>(n));
    }
}

bool read_input(const std::string& path, bool as_launcher, std::string* bytes, std::string* why) {
    SettingsFile file;
    int fd = STDIN_FILENO;
    std::optional<std::uint64_t> size;
    if (path != "-") {
        file = settings_file_open(path.c_str());
        if (file.error != 0) {
            *why = errno_text(file.error) + "; the launcher would take it as no settings file";
            return false;
        }
        if (file.not_regular && !as_launcher) {
            file.fd = open_pipe(path.c_str());
        } else {
            size = file.size;
        }
        if (!file.fd) {
            *why = "not a regular file; the launcher would take it as no settings file";
            return false;
        }
        fd = file.fd.get();
    }
    try {
        return read_bounded(fd, size, kMaxSettingsBytes, bytes, why);
    } catch (const std::bad_alloc&) {
        const std::uint64_t held = bytes->size();
        std::string().swap(*bytes);
        *why = size ? no_memory_for(*size)
                    : "too large to check: no memory is left to hold more than its first " +
                          std::to_string(held) + " bytes";
        return false;
    }
}

std::string no_memory_for(std::uint64_t size) {
    return "too large to check: no memory is left to hold and check its " + std::to_string(size) +
           " bytes" + (size > kDefaultInMemoryLimit ? kLauncherWindow : "");
}

}  // namespace quorbix
