#include "check/connect/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

namespace quorbix {

namespace {

struct AddrinfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrinfoPtr = std::unique_ptr<addrinfo, AddrinfoFree>;

// Returns the address as "HOST:PORT", an IPv6 host in brackets.
std::string address_text(const sockaddr* sa) {
    std::array<char, INET6_ADDRSTRLEN> host{};
    std::uint16_t port = 0;
    if (sa->sa_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, sa, sizeof in6);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, host.data(), host.size());
        port = ntohs(in6.sin6_port);
        return "[" + std::string(host.data()) + "]:" + std::to_string(port);
    }
    sockaddr_in in4{};
    std::memcpy(&in4, sa, sizeof in4);
    ::inet_ntop(AF_INET, &in4.sin_addr, host.data(), host.size());
    port = ntohs(in4.sin_port);
    return std::string(host.data()) + ":" + std::to_string(port);
}

// Waits until fd is ready for events or the deadline passes; EINTR is waited through.
NetResult wait_for(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, remaining_ms(deadline));
        if (n > 0) {
            return {};
        }
        if (n == 0) {
            return {NetStatus::kTimedOut, 0};
        }
        if (errno != EINTR) {
            return {NetStatus::kError, errno};
        }
    }
}

}  // namespace

std::int64_t monotonic_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

Deadline deadline_in(int timeout_ms) {
    return Deadline{monotonic_ms() + (timeout_ms > 0 ? timeout_ms : 0)};
}

int remaining_ms(Deadline deadline) {
    const std::int64_t left = deadline.at_ms - monotonic_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

Resolved resolve_host(const std::string& host, std::uint16_t port) {
    Resolved resolved;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* raw = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw);
    const AddrinfoPtr list(raw);
    if (rc != 0) {
        resolved.error = rc == EAI_SYSTEM ? errno_text(errno) : ::gai_strerror(rc);
        return resolved;
    }
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
            ai->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        NetAddress address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.size = ai->ai_addrlen;
        address.text = address_text(ai->ai_addr);
        resolved.addresses.push_back(address);
    }
    if (resolved.addresses.empty()) {
        resolved.error = "no IPv4 or IPv6 address";
    }
    return resolved;
}

bool is_ip_literal(const std::string& host) {
    std::array<unsigned char, sizeof(in6_addr)> buf{};
    return ::inet_pton(AF_INET, host.c_str(), buf.data()) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf.data()) == 1;
}

TcpConnection tcp_connect(const NetAddress& address, Deadline deadline) {
    TcpConnection c;
    c.fd.reset(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!c.fd) {
        c.error = errno;
        return c;
    }
    const auto* sa = reinterpret_cast<const sockaddr*>(&address.storage);
    if (::connect(c.fd.get(), sa, address.size) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            c.error = errno;
            return c;
        }
        const NetResult waited = wait_for(c.fd.get(), POLLOUT, deadline);
        if (waited.status != NetStatus::kOk) {
            c.status = waited.status;
            c.error = waited.error;
            return c;
        }
        socklen_t size = sizeof c.error;
        if (::getsockopt(c.fd.get(), SOL_SOCKET, SO_ERROR, &c.error, &size) != 0) {
            c.error = errno;
        }
        if (c.error != 0) {
            return c;
        }
    }
    c.status = NetStatus::kOk;
    // Each packet goes out at once, without waiting for the broker's
    // delayed acknowledgement of the one before.
    const int on = 1;
    static_cast<void>(::setsockopt(c.fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
    return c;
}

NetResult send_all(int fd, std::string_view bytes, Deadline deadline) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const NetResult waited = wait_for(fd, POLLOUT, deadline);
            if (waited.status != NetStatus::kOk) {
                return waited;
            }
            continue;
        }
        return {NetStatus::kError, n < 0 ? errno : EPIPE};
    }
    return {};
}

NetResult receive_some(int fd, std::string& out, Deadline deadline) {
    std::array<char, 16384> buf{};
    for (;;) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n > 0) {
            out.append(buf.data(), static_cast<std::size_t>(n));
            return {};
        }
        if (n == 0) {
            return {NetStatus::kClosed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return {NetStatus::kError, errno};
        }
        const NetResult waited = wait_for(fd, POLLIN, deadline);
        if (waited.status != NetStatus::kOk) {
            return waited;
        }
    }
}

std::string errno_text(int e) {
    std::array<char, 256> buf{};
    // The GNU strerror_r returns its text, which need not be in buf.
    return ::strerror_r(e, buf.data(), buf.size());
}

}  // namespace quorbix
