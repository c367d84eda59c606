#include "settings/scanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/paths.h"
#include "common/unique_fd.h"

namespace quorbix {

namespace {

// Files up to this size are read into memory once at open, and every rescan
// then walks that copy in place: a rescan costs a pass over memory instead of
// a re-read of the file. Larger files are streamed through a read window and
// the scanners' own line buffers, exactly as the line grammar describes.
constexpr std::size_t kInMemoryLimit = std::size_t{64} << 20;
constexpr std::size_t kReadWindow = std::size_t{64} << 10;

}  // namespace

struct SettingsStream {
    UniqueFd fd;
    std::string path;

    // In-memory mode: the file's bytes; `pos` is the next line's start.
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t pos = 0;
    bool in_memory = false;

    // Streaming mode: a window of the file read at the current offset.
    std::unique_ptr<char[]> window;
    std::size_t win_len = 0;
    std::size_t win_pos = 0;
    bool at_end = false;
};

void SettingsStreamDeleter::operator()(SettingsStream* stream) const {
    delete stream;
}

namespace {

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

// Reads up to size bytes; returns how many arrived before the end of the file
// or a read error, which ends the file like its end.
std::size_t read_whole(int fd, char* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        ssize_t n = ::read(fd, data + total, size - total);
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

// Length of the text at start up to and including its first line feed,
// looking at no more than span bytes; sets *found when a line feed ended it.
std::size_t line_length(const char* start, std::size_t span, bool* found) {
    const void* nl = std::memchr(start, '\n', span);
    *found = nl != nullptr;
    return *found ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) + 1 : span;
}

void stream_rewind(SettingsStream& s) {
    s.pos = 0;
    if (!s.in_memory) {
        s.win_len = 0;
        s.win_pos = 0;
        s.at_end = ::lseek(s.fd.get(), 0, SEEK_SET) != 0;
    }
}

bool window_refill(SettingsStream& s) {
    if (s.at_end) {
        return false;
    }
    for (;;) {
        ssize_t n = ::read(s.fd.get(), s.window.get(), kReadWindow);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            s.at_end = true;
            return false;
        }
        s.win_len = static_cast<std::size_t>(n);
        s.win_pos = 0;
        return true;
    }
}

// Reads the next piece of at most capacity - 1 bytes, stopping after a line
// feed, like a bounded line read into a buffer of `capacity` bytes. Sets
// *line_ended when the piece finishes its line (line feed or end of file).
// Returns false at the end of the file.
bool read_piece(SettingsStream& s, std::size_t capacity, char* buffer, std::string_view* piece,
                bool* line_ended) {
    const std::size_t limit = capacity - 1;
    if (s.in_memory) {
        if (s.pos >= s.size) {
            return false;
        }
        const char* start = s.data.get() + s.pos;
        std::size_t avail = s.size - s.pos;
        std::size_t span = avail < limit ? avail : limit;
        bool found_nl = false;
        std::size_t len = line_length(start, span, &found_nl);
        *piece = std::string_view(start, len);
        *line_ended = found_nl || len == avail;
        s.pos += len;
        return true;
    }
    std::size_t len = 0;
    bool found_nl = false;
    while (len < limit && !found_nl) {
        if (s.win_pos == s.win_len && !window_refill(s)) {
            break;
        }
        const char* start = s.window.get() + s.win_pos;
        std::size_t avail = s.win_len - s.win_pos;
        std::size_t span = avail < limit - len ? avail : limit - len;
        std::size_t take = line_length(start, span, &found_nl);
        std::memcpy(buffer + len, start, take);
        len += take;
        s.win_pos += take;
    }
    if (len == 0) {
        return false;
    }
    *piece = std::string_view(buffer, len);
    *line_ended = found_nl || s.at_end;
    return true;
}

// Moves past the rest of the current line (up to and including its line feed).
void skip_line(SettingsStream& s) {
    bool found_nl = false;
    if (s.in_memory) {
        s.pos += line_length(s.data.get() + s.pos, s.size - s.pos, &found_nl);
        return;
    }
    while (!found_nl) {
        if (s.win_pos == s.win_len && !window_refill(s)) {
            return;
        }
        s.win_pos += line_length(s.window.get() + s.win_pos, s.win_len - s.win_pos, &found_nl);
    }
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Scans the file from its first line for key, reading pieces of at most
// capacity - 1 bytes. Only the first piece of a line is taken for a key line:
// text deep inside a long value must never be read as a setting.
bool scan(SettingsStream& s, const char* key, std::size_t capacity, char* buffer,
          std::string_view* value) {
    if (capacity < 2) {
        return false;  // no room for a single byte of a line
    }
    const std::string_view wanted(key);
    stream_rewind(s);
    std::string_view piece;
    bool line_ended = false;
    while (read_piece(s, capacity, buffer, &piece, &line_ended)) {
        if (settings_match_line(piece, wanted, value)) {
            return true;
        }
        if (!line_ended) {
            skip_line(s);
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
    struct stat st {};
    if (::stat(s.path.c_str(), &st) != 0 || st.st_size < 0) {
        return kBoundedLineSize;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
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
    SettingsStreamPtr s(new (std::nothrow) SettingsStream);
    if (!s) {
        return nullptr;
    }
    s->path = path;
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (size <= kInMemoryLimit) {
        s->data.reset(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]);
    }
    if (s->data) {
        s->size = read_whole(fd.get(), s->data.get(), static_cast<std::size_t>(size));
        s->in_memory = true;
    } else {
        s->window.reset(new (std::nothrow) char[kReadWindow]);
        if (!s->window) {
            return nullptr;
        }
    }
    s->fd = std::move(fd);
    return s;
}

}  // namespace

SettingsStreamPtr settings_open() {
    return open_stream(paths::kSettings);
}

SettingsStreamPtr settings_open_path(const char* path) {
    return open_stream(path);
}

void settings_close(SettingsStreamPtr stream) {
    stream.reset();
}

bool settings_match_line(std::string_view line, std::string_view key, std::string_view* value) {
    const std::size_t klen = key.size();
    // Quick rejection on the key alone, before looking at the rest of a
    // possibly very long line.
    if (line.size() <= klen || line[klen] != '=' || !ascii_iequal(line.substr(0, klen), key)) {
        return false;
    }
    // The text ends at its first NUL, carriage return or line feed...
    std::size_t end = line.find_first_of(std::string_view("\0\r\n", 3));
    std::string_view text = line.substr(0, end);
    // ...and is cut at its last double quote.
    std::size_t quote = text.rfind('"');
    if (quote != std::string_view::npos) {
        text = text.substr(0, quote);
    }
    // The key is what stands before the first "=".
    std::size_t eq = text.find('=');
    if (eq != klen) {
        return false;
    }
    std::string_view v = text.substr(klen + 1);
    if (!v.empty() && v.front() == '"') {
        v.remove_prefix(1);
    }
    *value = v;
    return true;
}

std::uint32_t parse_uint32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t magnitude = 0;
    bool any_digit = false;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        any_digit = true;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > UINT32_MAX) {
            overflow = true;
            magnitude = std::uint64_t{UINT32_MAX} + 1;  // keeps the product in range
        }
    }
    if (!any_digit) {
        return 0;
    }
    if (overflow) {
        return UINT32_MAX;
    }
    auto result = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::string settings_get_text(SettingsStream* stream, const char* key) {
    std::string_view value;
    if (stream == nullptr || !scan(*stream, key, kBoundedLineSize, g_bounded_area, &value)) {
        return std::string();
    }
    return copy_text(value);
}

std::uint32_t settings_get_uint(SettingsStream* stream, const char* key) {
    std::string_view value;
    if (stream == nullptr || !scan(*stream, key, kBoundedLineSize, g_bounded_area, &value)) {
        return 0;
    }
    return parse_uint32(value);
}

std::string settings_get_large_text(SettingsStream* stream, const char* key) {
    if (stream == nullptr) {
        return std::string();
    }
    std::size_t wanted = wanted_large_size(*stream);
    char* buffer = nullptr;
    if (stream->in_memory) {
        // Lines are scanned where they lie; the large buffer would only hold
        // a copy of them, so only its size is kept.
        g_large_capacity = wanted;
    } else {
        large_buffer_reserve(wanted);
        g_large_capacity = g_large.size;
        buffer = g_large.data;
    }
    std::string_view value;
    if (!scan(*stream, key, g_large_capacity, buffer, &value)) {
        return std::string();
    }
    return copy_text(value);
}

std::size_t settings_large_capacity() {
    return g_large_capacity;
}

}  // namespace quorbix
