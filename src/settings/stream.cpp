#include "settings/stream.h"

#include <unistd.h>

#include <cerrno>
#include <new>

#include "settings/settings_file.h"

namespace quorbix {

namespace {

// Reads up to size bytes at offset; returns how many arrived before the end
// of the file or a read error, which ends the file like its end.
std::size_t pread_full(int fd, char* data, std::size_t size, std::uint64_t offset) {
    std::size_t total = 0;
    while (total < size) {
        ssize_t n = ::pread(fd, data + total, size - total, static_cast<off_t>(offset + total));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

}  // namespace

std::string_view stream_view_at(SettingsStream& s, std::uint64_t offset, std::size_t n,
                                char* spill) {
    if (offset >= s.base && offset - s.base <= s.len) {
        const auto at = static_cast<std::size_t>(offset - s.base);
        const std::size_t avail = s.len - at;
        if (avail >= n || s.whole || s.window_at_end) {
            return {s.data + at, avail < n ? avail : n};
        }
    }
    if (s.whole) {
        return {};  // beyond the end of the file
    }
    if (n > kReadWindow) {
        return {spill, pread_full(s.fd.get(), spill, n, offset)};
    }
    s.base = offset;
    s.len = pread_full(s.fd.get(), s.storage.get(), kReadWindow, offset);
    s.window_at_end = s.len < kReadWindow;
    return {s.data, s.len < n ? s.len : n};
}

std::string_view stream_view_from(SettingsStream& s, std::uint64_t offset) {
    if (offset >= s.base && offset - s.base < s.len) {
        const auto at = static_cast<std::size_t>(offset - s.base);
        return {s.data + at, s.len - at};
    }
    if (s.whole || (offset == s.base + s.len && s.window_at_end)) {
        return {};
    }
    return stream_view_at(s, offset, kReadWindow, nullptr);
}

bool stream_next_line(SettingsStream& s, SettingsLineCursor& cursor, SettingsLineInfo* line) {
    std::uint64_t end = cursor.offset;
    for (;;) {
        const std::string_view chunk = stream_view_from(s, end);
        if (chunk.empty()) {
            break;  // the file ends without a line feed
        }
        const char* next = next_line_start(chunk.data(), chunk.data() + chunk.size());
        if (next != nullptr) {
            end += static_cast<std::uint64_t>(next - chunk.data());
            break;
        }
        end += chunk.size();
    }
    if (end == cursor.offset) {
        return false;
    }
    *line = SettingsLineInfo{cursor.offset, end - cursor.offset, cursor.number};
    cursor.offset = end;
    ++cursor.number;
    return true;
}

std::string_view stream_line_piece(SettingsStream& s, const SettingsLineInfo& line,
                                   std::size_t capacity, char* spill) {
    const std::uint64_t limit = capacity - 1;
    const auto n = static_cast<std::size_t>(line.length < limit ? line.length : limit);
    return stream_view_at(s, line.offset, n, spill);
}

SettingsStreamPtr stream_open(const char* path, std::size_t in_memory_limit, SettingsFile* unread) {
    SettingsFile file = settings_file_open(path);
    if (!file.fd) {
        if (unread != nullptr) {
            *unread = std::move(file);
        }
        return nullptr;
    }
    // Without memory for its reading state nothing can be read: that is said
    // as running out of memory (std::bad_alloc), never as an absent file.
    SettingsStreamPtr s(new SettingsStream);
    s->path = path;
    s->fd = std::move(file.fd);
    // A file that fits is read once, and every lookup is served from memory;
    // otherwise, or when its memory cannot be had, through the window.
    const std::uint64_t size = file.size;
    if (size <= in_memory_limit) {
        s->storage.reset(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]);
    }
    if (s->storage) {
        s->len = pread_full(s->fd.get(), s->storage.get(), static_cast<std::size_t>(size), 0);
        s->whole = true;
    } else {
        s->storage.reset(new char[kReadWindow]);
    }
    s->data = s->storage.get();
    return s;
}

}  // namespace quorbix
