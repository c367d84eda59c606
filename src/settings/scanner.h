// Reads single values out of the settings file by key, by the line grammar
// of line_grammar.h. Only the first piece of a line is ever taken for a key line, and the first
// line whose key matches wins.
//
// One pass over the file indexes the first line of every key of the record
// (on demand: a lookup reads on only as far as its key's first line, and an
// absent key finishes the pass); lookups then go straight to that line. The
// index holds offsets, not bytes: a file small enough is read into memory
// once, a larger one is read through a window and each value's line is read
// when it is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "settings/line_grammar.h"

namespace quorbix {

// The bounded scanner's line buffer, and the large scanner's fallback area.
inline constexpr std::size_t kBoundedLineSize = 16384;

// Files up to this size are held in memory whole (unless the test hook below
// lowers it); larger ones are read through a window of kReadWindow bytes.
inline constexpr std::size_t kDefaultInMemoryLimit = std::size_t{64} << 20;
inline constexpr std::size_t kReadWindow = std::size_t{64} << 10;

struct SettingsStream;

struct SettingsStreamDeleter {
    void operator()(SettingsStream* stream) const;
};
using SettingsStreamPtr = std::unique_ptr<SettingsStream, SettingsStreamDeleter>;

struct SettingsFile;

// Opens "/opt/quorbix/etc/settings" for reading; null when it cannot be
// opened or is not a regular file, and then *unread, when given, says why.
// Throws std::bad_alloc when no memory is left for its reading state (a file
// too large for memory is read through a window instead, which needs 64 KiB).
SettingsStreamPtr settings_open(SettingsFile* unread = nullptr);

// Opens the settings file at path (tests and tools), as above.
SettingsStreamPtr settings_open_path(const char* path);

// Takes bytes that the caller keeps, unchanged, for as long as the stream
// lives, as a settings file: nothing is copied.
SettingsStreamPtr settings_open_view(std::string_view bytes);

// Bounded scanner: the value of key, or the empty text for a null stream or
// an absent key.
std::string settings_get_text(SettingsStream* stream, const char* key);

// Bounded scanner: the value of key converted by the "%u" rules on a 32-bit
// quantity; 0 for a null stream, an absent key or a value with no digits.
std::uint32_t settings_get_uint(SettingsStream* stream, const char* key);

// Large-value scanner: the value of key read in one piece as long as the
// settings file; the empty text for a null stream or an absent key.
std::string settings_get_large_text(SettingsStream* stream, const char* key);

// The same value, not copied: a view of the file held whole, or of the large
// scanner's buffer; it lasts until the stream closes or the next lookup.
std::string_view settings_get_large_view(SettingsStream* stream, const char* key);

// The lookups above for the key of the record at `position` (from 0, in
// record order, below settings_field_count()), as the loader makes them.
std::string settings_get_text_at(SettingsStream* stream, int position);
std::uint32_t settings_get_uint_at(SettingsStream* stream, int position);
std::string settings_get_large_text_at(SettingsStream* stream, int position);

// Closes a stream; does nothing for null.
void settings_close(SettingsStreamPtr stream);

// Where a line lies in the file: offset and length (its line feed included)
// in bytes, and its number counted from 1; number 0 stands for no line.
struct SettingsLineInfo {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t number = 0;
};

// The next line to step to.
struct SettingsLineCursor {
    std::uint64_t offset = 0;
    std::uint64_t number = 1;
};

// Steps to the line at the cursor and moves the cursor past it; false at the
// end of the file or for a null stream.
bool settings_next_line(SettingsStream* stream, SettingsLineCursor& cursor, SettingsLineInfo* line);

// The first line whose key is `key` as the lookups find it, or a line with
// number 0 when there is none.
SettingsLineInfo settings_key_line(SettingsStream* stream, const char* key);

// The large-value scanner's current line capacity (its buffer size), for
// tests and diagnostics; 0 before the first large lookup. Of the calling
// thread's lookups.
std::size_t settings_large_capacity();

// The file's bytes when the stream holds the whole file, else the empty view.
std::string_view settings_whole_bytes(const SettingsStream* stream);

// True when the stream holds the whole file in memory (tests).
bool settings_holds_whole_file(const SettingsStream* stream);

// Sets the size up to which files are held in memory whole (tests force the
// windowed reading with a small limit); returns the previous limit.
std::size_t settings_set_in_memory_limit(std::size_t bytes);

}  // namespace quorbix
