#include "settings/scanner.h"

#include <sys/stat.h>

#include <new>

#include "common/paths.h"
#include "settings/key_index.h"
#include "settings/stream.h"

namespace quorbix {

namespace {

std::size_t g_in_memory_limit = kDefaultInMemoryLimit;

// The process-wide line buffers, which only a stream read from a file
// through its window fills: lookups on such streams are not re-entrant. A
// stream over bytes held whole (settings_open_view) serves its lines where
// they lie and writes none of them, so that threads may each read their own.
char g_bounded_area[kBoundedLineSize];
char g_fallback_area[kBoundedLineSize];

struct LargeBuffer {
    std::unique_ptr<char[]> owned;
    char* data = nullptr;
    std::size_t size = 0;
};
LargeBuffer g_large;
// The last large lookup's capacity, written by every large lookup: one per
// thread (a plain word, with neither constructor nor destructor).
thread_local std::size_t g_large_capacity = 0;

// The value of the key of the record at `position`, read as a scanner with a
// line buffer of `capacity` bytes reads its first line.
bool value_at(SettingsStream& s, int position, std::size_t capacity, char* spill,
              std::string_view* value) {
    if (capacity < 2) {
        return false;  // no room for a single byte of a line
    }
    key_index_until(s, position);
    const SettingsLineInfo& line = s.first[static_cast<std::size_t>(position)];
    if (line.number == 0) {
        return false;
    }
    const std::string_view piece = stream_line_piece(s, line, capacity, spill);
    if (!s.whole) {
        // Read from the file again, which may have changed since the pass
        // read it: the line must still be the key's.
        return settings_match_line(piece, settings_key_at(position), value);
    }
    // The bytes the pass read: the line's first "=" follows the key, and no
    // cut of the grammar falls before it (key_index.cpp).
    *value = settings_read_line(piece).value;
    return true;
}

// The first line whose key is `key`, read as a scanner with a line buffer of
// `capacity` bytes reads it: found through the index for a key of the record,
// by a walk over the lines for any other.
bool find_value(SettingsStream& s, const char* key, std::size_t capacity, char* spill,
                std::string_view* value) {
    const std::string_view wanted(key);
    const int position = settings_key_position(wanted);
    if (position >= 0) {
        return value_at(s, position, capacity, spill, value);
    }
    if (capacity < 2) {
        return false;
    }
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    while (stream_next_line(s, cursor, &line)) {
        if (settings_match_line(stream_line_piece(s, line, capacity, spill), wanted, value)) {
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

// The large scanner's line capacity for one lookup, and the buffer that a
// line read from the file goes into (none for a file held whole).
struct LargeReading {
    std::size_t capacity = 0;
    char* spill = nullptr;
};

LargeReading large_reading(const SettingsStream& s) {
    const std::size_t wanted = wanted_large_size(s);
    if (s.whole) {
        // Lines are read where they lie; the large buffer would only hold a
        // copy of them, so only its size is kept.
        g_large_capacity = wanted;
        return {wanted, nullptr};
    }
    large_buffer_reserve(wanted);
    g_large_capacity = g_large.size;
    return {g_large.size, g_large.data};
}

}  // namespace

void SettingsStreamDeleter::operator()(SettingsStream* stream) const {
    delete stream;
}

SettingsStreamPtr settings_open(SettingsFile* unread) {
    return stream_open(paths::kSettings, g_in_memory_limit, unread);
}

SettingsStreamPtr settings_open_path(const char* path) {
    return stream_open(path, g_in_memory_limit);
}

SettingsStreamPtr settings_open_view(std::string_view bytes) {
    SettingsStreamPtr s(new SettingsStream);
    s->data = bytes.data();
    s->len = bytes.size();
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
    return copy_text(settings_get_large_view(stream, key));
}

std::string_view settings_get_large_view(SettingsStream* stream, const char* key) {
    std::string_view value;
    if (stream == nullptr) {
        return value;
    }
    const LargeReading large = large_reading(*stream);
    if (!find_value(*stream, key, large.capacity, large.spill, &value)) {
        return {};
    }
    return value;
}

std::string settings_get_text_at(SettingsStream* stream, int position) {
    std::string_view value;
    if (stream == nullptr ||
        !value_at(*stream, position, kBoundedLineSize, g_bounded_area, &value)) {
        return std::string();
    }
    return copy_text(value);
}

std::uint32_t settings_get_uint_at(SettingsStream* stream, int position) {
    std::string_view value;
    if (stream == nullptr ||
        !value_at(*stream, position, kBoundedLineSize, g_bounded_area, &value)) {
        return 0;
    }
    return parse_uint32(value);
}

std::string settings_get_large_text_at(SettingsStream* stream, int position) {
    std::string_view value;
    if (stream == nullptr) {
        return std::string();
    }
    const LargeReading large = large_reading(*stream);
    if (!value_at(*stream, position, large.capacity, large.spill, &value)) {
        return std::string();
    }
    return copy_text(value);
}

bool settings_next_line(SettingsStream* stream, SettingsLineCursor& cursor,
                        SettingsLineInfo* line) {
    return stream != nullptr && stream_next_line(*stream, cursor, line);
}

SettingsLineInfo settings_key_line(SettingsStream* stream, const char* key) {
    if (stream == nullptr) {
        return {};
    }
    const int position = settings_key_position(key);
    if (position >= 0) {
        key_index_until(*stream, position);
        return stream->first[static_cast<std::size_t>(position)];
    }
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    std::string_view value;
    while (stream_next_line(*stream, cursor, &line)) {
        if (settings_match_line(stream_line_piece(*stream, line, kBoundedLineSize, nullptr), key,
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
