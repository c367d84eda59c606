// The settings file as a stream of bytes and lines: the whole file in
// memory, or a window over it, and the index the one pass fills. Internal to
// the settings reader: the key index and the lookups share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "settings/gateway_settings.h"
#include "settings/scanner.h"

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

    // The index: the first key line of each key of the record, by its
    // position in record order (number 0: not seen yet), and how far the one
    // pass that fills it has come. The pass tries the key after the last one
    // it found first (next_key): files are mostly written in record order.
    std::vector<SettingsLineInfo> first = std::vector<SettingsLineInfo>(settings_field_count());
    SettingsLineCursor indexed;
    bool index_complete = false;
    int next_key = 0;
};

// Up to n bytes of the file at offset, fewer only where the file ends. A
// stream that holds the whole file gives a view of it; otherwise the view is
// of the window, refilled at offset when it does not hold the bytes asked
// for, or, for n over kReadWindow, of `spill`, which must hold n bytes. The
// view lasts until the next call on the stream.
std::string_view stream_view_at(SettingsStream& s, std::uint64_t offset, std::size_t n,
                                char* spill);

// The bytes from offset on that the stream holds without reading: the rest
// of the file, or of the window, which is refilled at offset when it does not
// hold offset; empty at the end of the file.
std::string_view stream_view_from(SettingsStream& s, std::uint64_t offset);

// Steps to the line at the cursor and moves the cursor past it; false at the
// end of the file.
bool stream_next_line(SettingsStream& s, SettingsLineCursor& cursor, SettingsLineInfo* line);

// The first piece of a line as a scanner with a line buffer of `capacity`
// bytes reads it: at most capacity - 1 bytes.
std::string_view stream_line_piece(SettingsStream& s, const SettingsLineInfo& line,
                                   std::size_t capacity, char* spill);

// Opens the settings file at path into a stream, held in memory whole when
// it is no larger than `in_memory_limit` bytes; null when it cannot be opened
// or is not a regular file, and then *unread, when given, says why.
SettingsStreamPtr stream_open(const char* path, std::size_t in_memory_limit,
                              SettingsFile* unread = nullptr);

}  // namespace quorbix
