#include "settings/scanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/paths.h"
#include "common/unique_fd.h"
#include "settings/gateway_settings.h"

namespace quorbix {

struct SettingsStream {
    UniqueFd fd;       // closed for a stream made from bytes
    std::string path;  // the large scanner sizes its buffer from this file

    // The whole file, or a window of it: data[0, len) are the file's bytes
    // from `base` on. A window that came back short reached the file's end.
    const char* data = nullptr;
    std::uint64_t base = 0;
    std::size_t len = 0;
    bool whole = false;
    bool window_at_end = false;
    std::unique_ptr<char[]> storage;  // what data points into, when read here
    // cppcheck-suppress unusedStructMember ; owns what data points into
    std::string given;  // ...or when handed over as bytes

    // The index: the first key line of each key of the record, by its
    // position in record order (number 0: not seen yet), and how far the one
    // pass that fills it has come.
    std::array<SettingsLineInfo, kSettingsFieldCount> first{};
    SettingsLineCursor indexed;
    bool index_complete = false;
};

void SettingsStreamDeleter::operator()(SettingsStream* stream) const {
    delete stream;
}

namespace {

std::size_t g_in_memory_limit = kDefaultInMemoryLimit;

// The process-wide line buffers. Lookups are not re-entrant.
char g_bounded_area[kBoundedLineSize];
char g_fallback_area[kBoundedLineSize];

struct LargeBuffer {
    std::unique_ptr<char[]> owned;
    char* data = nullptr;
    std::size_t size = 0;
};
LargeBuffer g_large;
std::size_t g_large_capacity = 0;

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

// Up to n bytes of the file at offset, fewer only where the file ends. A
// stream that holds the whole file gives a view of it; otherwise the view is
// of the window, refilled at offset when it does not hold the bytes asked
// for, or, for n over kReadWindow, of `spill`, which must hold n bytes. The
// view lasts until the next call on the stream.
std::string_view view_at(SettingsStream& s, std::uint64_t offset, std::size_t n, char* spill) {
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

// The bytes from offset on that the stream holds without reading: the rest
// of the file, or of the window, which is refilled at offset when it does not
// hold offset; empty at the end of the file.
std::string_view view_from(SettingsStream& s, std::uint64_t offset) {
    if (offset >= s.base && offset - s.base < s.len) {
        const auto at = static_cast<std::size_t>(offset - s.base);
        return {s.data + at, s.len - at};
    }
    if (s.whole || (offset == s.base + s.len && s.window_at_end)) {
        return {};
    }
    return view_at(s, offset, kReadWindow, nullptr);
}

bool next_line(SettingsStream& s, SettingsLineCursor& cursor, SettingsLineInfo* line) {
    std::uint64_t end = cursor.offset;
    for (;;) {
        const std::string_view chunk = view_from(s, end);
        if (chunk.empty()) {
            break;  // the file ends without a line feed
        }
        const void* nl = std::memchr(chunk.data(), '\n', chunk.size());
        if (nl != nullptr) {
            end += static_cast<std::uint64_t>(static_cast<const char*>(nl) - chunk.data()) + 1;
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

// The first piece of a line as a scanner with a line buffer of `capacity`
// bytes reads it: at most capacity - 1 bytes.
std::string_view line_piece(SettingsStream& s, const SettingsLineInfo& line, std::size_t capacity,
                            char* spill) {
    const std::uint64_t limit = capacity - 1;
    const auto n = static_cast<std::size_t>(line.length < limit ? line.length : limit);
    return view_at(s, line.offset, n, spill);
}

// Carries the one pass on until key position `wanted` has its first line or
// the file ends (wanted < 0: to the end).
void index_until(SettingsStream& s, int wanted) {
    SettingsLineInfo line;
    while (!s.index_complete &&
           (wanted < 0 || s.first[static_cast<std::size_t>(wanted)].number == 0)) {
        if (!next_line(s, s.indexed, &line)) {
            s.index_complete = true;
            break;
        }
        // Keys of the record hold no double quote, so whether a line is one
        // of theirs is the same in the bounded and the large reading.
        const SettingsLine read =
            settings_read_line(line_piece(s, line, kBoundedLineSize, nullptr));
        if (!read.has_key) {
            continue;
        }
        const int position = settings_key_position(read.key);
        if (position >= 0 && s.first[static_cast<std::size_t>(position)].number == 0) {
            s.first[static_cast<std::size_t>(position)] = line;
        }
    }
}

// The first line whose key is `key`, read as a scanner with a line buffer of
// `capacity` bytes reads it: found through the index for a key of the record,
// by a walk over the lines for any other.
bool find_value(SettingsStream& s, const char* key, std::size_t capacity, char* spill,
                std::string_view* value) {
    if (capacity < 2) {
        return false;  // no room for a single byte of a line
    }
    const std::string_view wanted(key);
    const int position = settings_key_position(wanted);
    if (position >= 0) {
        index_until(s, position);
        const SettingsLineInfo& line = s.first[static_cast<std::size_t>(position)];
        if (line.number == 0) {
            return false;
        }
        return settings_match_line(line_piece(s, line, capacity, spill), wanted, value);
    }
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    while (next_line(s, cursor, &line)) {
        if (settings_match_line(line_piece(s, line, capacity, spill), wanted, value)) {
            return true;
        }
    }
    return false;
}

std::string copy_text(std::string_view value) {
    // Running out of memory for one value leaves that value empty rather
    // than ending the run: the gates then judge what could be staged.
    try {
        return std::string(value);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::size_t wanted_large_size(const SettingsStream& s) {
    std::uint64_t size = 0;
    if (s.whole) {
        // A file held whole is read as it was when opened: its size then.
        size = s.len;
    } else {
        struct stat st {};
        if (::stat(s.path.c_str(), &st) != 0 || st.st_size < 0) {
            return kBoundedLineSize;
        }
        size = static_cast<std::uint64_t>(st.st_size);
    }
    // One byte more than the file, so that a file of one single line with no
    // final line feed is read whole.
    if (size >= SIZE_MAX) {
        return SIZE_MAX;
    }
    return static_cast<std::size_t>(size) + 1;
}

// Makes the large buffer at least `wanted` bytes; on allocation failure the
// fixed fallback area takes its place.
void large_buffer_reserve(std::size_t wanted) {
    if (g_large.data != nullptr && g_large.size >= wanted) {
        return;
    }
    g_large.owned.reset();
    g_large.owned.reset(new (std::nothrow) char[wanted]);
    if (g_large.owned) {
        g_large.data = g_large.owned.get();
        g_large.size = wanted;
    } else {
        g_large.data = g_fallback_area;
        g_large.size = sizeof g_fallback_area;
    }
}

SettingsStreamPtr open_stream(const char* path) {
    // O_NONBLOCK: a FIFO with no writer must not hang the start of the
    // service; only regular files are accepted as settings.
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return nullptr;
    }
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    // Without memory for its reading state nothing can be read: that is said
    // as running out of memory (std::bad_alloc), never as an absent file.
    SettingsStreamPtr s(new SettingsStream);
    s->path = path;
    s->fd = std::move(fd);
    // A file that fits is read once, and every lookup is served from memory;
    // otherwise, or when its memory cannot be had, through the window.
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size <= g_in_memory_limit) {
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

}  // namespace

SettingsStreamPtr settings_open() {
    return open_stream(paths::kSettings);
}

SettingsStreamPtr settings_open_path(const char* path) {
    return open_stream(path);
}

SettingsStreamPtr settings_open_bytes(std::string bytes) {
    SettingsStreamPtr s(new SettingsStream);
    s->given = std::move(bytes);
    s->data = s->given.data();
    s->len = s->given.size();
    s->whole = true;
    return s;
}

void settings_close(SettingsStreamPtr stream) {
    stream.reset();
}

std::string settings_get_text(SettingsStream* stream, const char* key) {
    std::string_view value;
    if (stream == nullptr || !find_value(*stream, key, kBoundedLineSize, g_bounded_area, &value)) {
        return std::string();
    }
    return copy_text(value);
}

std::uint32_t settings_get_uint(SettingsStream* stream, const char* key) {
    std::string_view value;
    if (stream == nullptr || !find_value(*stream, key, kBoundedLineSize, g_bounded_area, &value)) {
        return 0;
    }
    return parse_uint32(value);
}

std::string settings_get_large_text(SettingsStream* stream, const char* key) {
    if (stream == nullptr) {
        return std::string();
    }
    const std::size_t wanted = wanted_large_size(*stream);
    char* spill = nullptr;
    if (stream->whole) {
        // Lines are read where they lie; the large buffer would only hold a
        // copy of them, so only its size is kept.
        g_large_capacity = wanted;
    } else {
        large_buffer_reserve(wanted);
        g_large_capacity = g_large.size;
        spill = g_large.data;
    }
    std::string_view value;
    if (!find_value(*stream, key, g_large_capacity, spill, &value)) {
        return std::string();
    }
    return copy_text(value);
}

bool settings_next_line(SettingsStream* stream, SettingsLineCursor& cursor,
                        SettingsLineInfo* line) {
    return stream != nullptr && next_line(*stream, cursor, line);
}

SettingsLineInfo settings_key_line(SettingsStream* stream, const char* key) {
    if (stream == nullptr) {
        return {};
    }
    const int position = settings_key_position(key);
    if (position >= 0) {
        index_until(*stream, position);
        return stream->first[static_cast<std::size_t>(position)];
    }
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    std::string_view value;
    while (next_line(*stream, cursor, &line)) {
        if (settings_match_line(line_piece(*stream, line, kBoundedLineSize, nullptr), key,
                                &value)) {
            return line;
        }
    }
    return {};
}

std::size_t settings_large_capacity() {
    return g_large_capacity;
}

std::string_view settings_whole_bytes(const SettingsStream* stream) {
    if (stream == nullptr || !stream->whole) {
        return {};
    }
    return {stream->data, stream->len};
}

bool settings_holds_whole_file(const SettingsStream* stream) {
    return stream != nullptr && stream->whole;
}

std::size_t settings_set_in_memory_limit(std::size_t bytes) {
    const std::size_t previous = g_in_memory_limit;
    g_in_memory_limit = bytes;
    return previous;
}

}  // namespace quorbix
