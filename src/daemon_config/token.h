// The token tool "/opt/quorbix/bin/create-sas", asked for the MQTT password
// when the settings call for a generated token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorbix {

// Longest command handed to the shell: "sh -c" takes its command as one
// argument, which the kernel bounds at 128 KiB.
inline constexpr std::size_t kMaxTokenCommand = std::size_t{128} << 10;

// Size of the buffer the tool's first output line is read into.
inline constexpr std::size_t kTokenLineSize = 1024;

// The resource the token tool is asked for: host, then "/devices/", then
// client_id.
std::string token_resource(std::string_view host, std::string_view client_id);

// Forms the token command "/opt/quorbix/bin/create-sas %s/devices/%s %s
// 2>/dev/null" with each text quoted for the shell, so that the tool receives
// exactly two arguments whatever the texts hold; the empty text when the
// command would be too long for the shell to be given it.
std::string token_command(std::string_view host, std::string_view client_id, std::string_view key);

// The first line of the token tool's output as the launcher reads it: at most
// kTokenLineSize - 1 bytes, up to and including the first line feed, and up
// to the first NUL within them.
std::string token_first_line(std::string_view output);

// Runs the token command and returns the first line of the tool's standard
// output as read (line feed included, at most 1023 bytes, up to a NUL); the
// empty text when the tool cannot be run or prints nothing.
std::string token_request(std::string_view host, std::string_view client_id, std::string_view key);

}  // namespace quorbix
