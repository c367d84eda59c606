// The record's keys by position, and the index of the first line of each in
// a settings file: the one pass over the file that every lookup of a record
// key goes through.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorbix {

struct SettingsStream;

// The number of fields of the record, and so of its keys: counted from the
// key table (settings_for_each_field).
std::size_t settings_field_count();

// Position (from 0, in record order) of the field whose key is `key`, letter
// case aside; -1 when the record has no such key.
int settings_key_position(std::string_view key);

// The key at `position` (from 0, in record order), lower-cased.
std::string_view settings_key_at(int position);

// Carries the stream's one pass on until key position `wanted` has its first
// line or the file ends (wanted < 0: to the end). The pass steps over the
// lines that the stream holds with one search for each line feed; a line
// whose first byte begins no key costs nothing more, and one that may be a
// key line one search for its "=" in its first bytes and one comparison with
// the key after the last one found (files are written in record order), or
// else one hash lookup. Only a line that runs past what the stream holds is
// stepped over by stream_next_line.
void key_index_until(SettingsStream& s, int wanted);

}  // namespace quorbix
