// The files one run of quorbix-check reads: its arguments, with each folder
// replaced by the regular files under it; and how each is read, bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorbix {

struct Input {
    std::string path;   // as given, or the folder's path joined with the file's
    std::string error;  // why a folder under a given one could not be listed; empty if it could
};

// Each argument as it is, but a folder (a link to one given as an argument
// is followed) becomes every regular file under it, sorted by path in byte
// order, but the configuration files (kRcFileName); links under it are not
// followed, and other kinds of files are passed over. Each folder under which
// nothing is found, not even a folder that cannot be listed, is added to
// *empty.
std::vector<Input> expand_inputs(const std::vector<std::string>& arguments,
                                 std::vector<std::string>* empty);

// The most bytes of one settings file the checker holds, on every build (a
// 32-bit device has about 3 GB of address space in all).
inline constexpr std::uint64_t kMaxSettingsBytes = std::uint64_t{512} << 20;

// Reads what fd holds into *bytes: with `size_at_open` (a regular file's size
// when it was opened) no more than that, for what it grows by since is not
// read, but to its end when it shrank; without it (a pipe), to its end. False
// with the reason in *why when a read fails or more than `bound` bytes would
// be held. Throws std::bad_alloc when no memory is left for them.
bool read_bounded(int fd, std::optional<std::uint64_t> size_at_open, std::uint64_t bound,
                  std::string* bytes, std::string* why);

// Reads the settings file at path (standard input for "-") whole, bounded by
// kMaxSettingsBytes; a named pipe is read like standard input unless
// `as_launcher`, for the launcher reads regular files only. False with the
// reason, which also says how the launcher takes such a file, when it cannot
// be read or held.
bool read_input(const std::string& path, bool as_launcher, std::string* bytes, std::string* why);

// Why a file of `size` bytes, read whole, could not be checked: no memory was
// left to hold and check it.
std::string no_memory_for(std::uint64_t size);

}  // namespace quorbix
