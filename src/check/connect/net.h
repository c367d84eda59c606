// The socket side of a connection attempt: a deadline on the monotonic
// clock, name lookup, a non-blocking TCP connect, and sends and receives
// that wait with poll until the deadline.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"

namespace quorbix {

// A point on the monotonic clock, in milliseconds.
struct Deadline {
    std::int64_t at_ms = 0;
};

// Returns the monotonic clock in milliseconds.
std::int64_t monotonic_ms();

// Returns the deadline timeout_ms from now.
Deadline deadline_in(int timeout_ms);

// Returns the milliseconds left before the deadline, 0 when it has passed.
int remaining_ms(Deadline deadline);

// One address of the host, as connect takes it and as a message shows it.
struct NetAddress {
    sockaddr_storage storage{};
    socklen_t size = 0;
    std::string text;  // "127.0.0.1:1883", "[::1]:1883"
};

// The addresses of a host, in the resolver's order, or why there are none.
struct Resolved {
    std::vector<NetAddress> addresses;
    std::string error;  // the resolver's reason; empty on success
};

// Looks the host up for TCP on the port (getaddrinfo, bounded by the
// resolver's own settings).
Resolved resolve_host(const std::string& host, std::uint16_t port);

// Whether host is an IPv4 or IPv6 address rather than a name.
bool is_ip_literal(const std::string& host);

// How a socket operation ended.
enum class NetStatus { kOk, kClosed, kTimedOut, kError };

// A non-blocking TCP connection, or the error that prevented it.
struct TcpConnection {
    UniqueFd fd;
    NetStatus status = NetStatus::kError;
    int error = 0;  // errno when status is kError
};

// Connects to the address, waiting with poll until the deadline.
TcpConnection tcp_connect(const NetAddress& address, Deadline deadline);

// The result of a send or receive: how it ended and errno for kError.
struct NetResult {
    NetStatus status = NetStatus::kOk;
    int error = 0;
};

// Sends every byte, waiting with poll until the deadline; never raises SIGPIPE.
NetResult send_all(int fd, std::string_view bytes, Deadline deadline);

// Receives what the peer has sent, at least one byte, appending it to out;
// kClosed at the end of the stream.
NetResult receive_some(int fd, std::string& out, Deadline deadline);

// Returns the system's text for errno e.
std::string errno_text(int e);

}  // namespace quorbix
