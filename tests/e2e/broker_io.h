// Small file and process helpers shared by the broker harness's two files.
#pragma once

#include <string>
#include <string_view>

namespace quorbix::e2e {

// Where Debian puts the broker.
inline constexpr char kMosquitto[] = "/usr/sbin/mosquitto";

// Writes every byte to fd; false when it cannot.
bool write_all(int fd, std::string_view bytes);

// Reads fd to its end.
std::string read_fd(int fd);

// Returns the bytes of the file at path, empty when it cannot be read.
std::string read_path(const std::string& path);

// Creates or replaces the file at path (mode 0644) with bytes; false when it cannot.
bool write_path(const std::string& path, std::string_view bytes);

// Returns "what: " and the text of errno.
std::string errno_reason(const std::string& what);

// Sleeps ms milliseconds.
void nap_ms(long ms);

}  // namespace quorbix::e2e
