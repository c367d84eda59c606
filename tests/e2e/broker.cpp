// The broker in its namespaces: the namespaces, the process and a run.
#include "broker.h"

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "broker_io.h"

namespace quorbix::e2e {

namespace {

constexpr const char kBrokerDir[] = "/tmp/broker";
// How long the body and the broker together may take before the run is killed.
constexpr int kRunSeconds = 120;

// Enters fresh network and mount namespaces (with a user namespace that
// maps the caller's own ids when not root); returns the reason when it cannot.
std::string enter_namespaces() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const int flags = CLONE_NEWNET | CLONE_NEWNS | (uid == 0 ? 0 : CLONE_NEWUSER);
    if (::unshare(flags) != 0) {
        return errno_reason(uid == 0 ? "unshare(CLONE_NEWNET|CLONE_NEWNS)"
                                     : "unshare(CLONE_NEWUSER|CLONE_NEWNET|CLONE_NEWNS)");
    }
    if (uid != 0) {
        static_cast<void>(write_path("/proc/self/setgroups", "deny"));
        const std::string u = std::to_string(uid);
        const std::string g = std::to_string(gid);
        if (!write_path("/proc/self/uid_map", u + " " + u + " 1") ||
            !write_path("/proc/self/gid_map", g + " " + g + " 1")) {
            return errno_reason("mapping the user namespace's ids");
        }
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return errno_reason("making / private");
    }
    return {};
}

// Whether something accepts a TCP connection at 127.0.0.1:port now.
bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Records of the pipe from the namespace side: a tag byte, a 64-bit length
// and the bytes.
void put(std::string& out, char tag, std::string_view field) {
    const std::uint64_t n = field.size();
    out.push_back(tag);
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    out.append(field);
}

// The namespace side of run_with_broker: everything after the fork.
[[noreturn]] void broker_side(const std::function<std::string(const BrokerPki&)>& body, int fd) {
    std::string out;
    std::string reason = enter_namespaces();
    if (!reason.empty()) {
        put(out, 'N', reason);
        std::_Exit(write_all(fd, out) ? 0 : 121);
    }
    BrokerPki pki;
    if (::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
        reason = errno_reason("mounting a tmpfs over /tmp");
    } else if (::mkdir(kBrokerDir, 0755) != 0) {
        reason = errno_reason("making the broker's folder");
    } else if (reason = loopback_up(); reason.empty()) {
        reason = make_broker_pki(kBrokerDir, pki);
    }
    if (!reason.empty()) {
        put(out, 'X', reason);
        std::_Exit(write_all(fd, out) ? 0 : 121);
    }
    std::string output;
    std::string log;
    {
        Broker broker;
        reason = broker.start(pki);
        if (reason.empty()) {
            output = body(pki);
        }
        broker.stop();
        log = broker.log();
    }
    put(out, reason.empty() ? 'O' : 'X', reason.empty() ? output : reason);
    put(out, 'L', log);
    std::_Exit(write_all(fd, out) ? 0 : 121);
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string read_fd(int fd) {
    std::string out;
    std::array<char, 65536> buf{};
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0) {
            out.append(buf.data(), static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return out;
        }
    }
}

std::string read_path(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string out = read_fd(fd);
    ::close(fd);
    return out;
}

bool write_path(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = write_all(fd, bytes);
    return ::close(fd) == 0 && written;
}

std::string errno_reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void nap_ms(long ms) {
    const timespec t{ms / 1000, (ms % 1000) * 1000000};
    ::nanosleep(&t, nullptr);
}

bool wait_for_broker_log(const BrokerPki& pki, const std::string& text, int timeout_ms) {
    for (int waited = 0; read_path(pki.dir + "/broker.log").find(text) == std::string::npos;
         waited += 10) {
        if (waited >= timeout_ms) {
            return false;
        }
        nap_ms(10);
    }
    return true;
}

std::string loopback_up() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno_reason("a socket to bring lo up");
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    std::string reason;
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        reason = errno_reason("SIOCGIFFLAGS lo");
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            reason = errno_reason("SIOCSIFFLAGS lo up");
        }
    }
    ::close(fd);
    return reason;
}

std::string Broker::start(const BrokerPki& pki) {
    log_path_ = pki.dir + "/broker.log";
    const int log_fd = ::open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log_fd < 0) {
        return errno_reason("opening " + log_path_);
    }
    // As root, the broker is started as its own unprivileged user (nobody
    // when Debian's package made none), so that it never changes its ids
    // itself and the parent-death signal stays set.
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const passwd* user = ::getpwnam("mosquitto");
        if (user == nullptr) {
            user = ::getpwnam("nobody");
        }
        uid = user != nullptr ? user->pw_uid : 65534;
        gid = user != nullptr ? user->pw_gid : 65534;
    }
    const std::string config = pki.dir + "/mosquitto.conf";
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            std::_Exit(126);
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            std::_Exit(125);
        }
        ::execl(kMosquitto, "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(log_fd);
    if (pid_ < 0) {
        return errno_reason("fork");
    }
    const int ports[] = {kBrokerPlainPort,      kBrokerTlsPort,     kBrokerOtherNamePort,
                         kBrokerClientCertPort, kBrokerExpiredPort, kBrokerClientCertPasswordPort};
    for (const int port : ports) {
        for (int tries = 0; !accepts(port); ++tries) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return "the broker ended (wait status " + std::to_string(status) +
                       ") before listening on " + std::to_string(port) + ": " + log();
            }
            if (tries == 1000) {
                return "the broker does not listen on " + std::to_string(port) +
                       " after 10 seconds: " + log();
            }
            nap_ms(10);
        }
    }
    return {};
}

void Broker::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    for (int tries = 0; tries < 500; ++tries) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        nap_ms(10);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string Broker::log() const {
    return log_path_.empty() ? std::string() : read_path(log_path_);
}

BrokerRun run_with_broker(const std::function<std::string(const BrokerPki&)>& body) {
    BrokerRun run;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        run.error = errno_reason("pipe");
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        broker_side(body, fds[1]);
    }
    ::close(fds[1]);
    if (pid < 0) {
        run.error = errno_reason("fork");
        ::close(fds[0]);
        return run;
    }
    // Bounded: a body that hangs is killed, and the broker with it.
    std::string data;
    const std::time_t until = std::time(nullptr) + kRunSeconds;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (std::time(nullptr) > until) {
            ::kill(pid, SIGKILL);
            run.error = "the run took over " + std::to_string(kRunSeconds) + " seconds";
            break;
        }
        if (::poll(&p, 1, 1000) <= 0) {
            continue;
        }
        std::array<char, 65536> buf{};
        const ssize_t n = ::read(fds[0], buf.data(), buf.size());
        if (n > 0) {
            data.append(buf.data(), static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::string_view in = data;
    while (in.size() >= 1 + sizeof(std::uint64_t)) {
        const char tag = in[0];
        std::uint64_t n = 0;
        std::memcpy(&n, in.data() + 1, sizeof n);
        in.remove_prefix(1 + sizeof n);
        if (in.size() < n) {
            break;
        }
        const std::string field(in.substr(0, static_cast<std::size_t>(n)));
        in.remove_prefix(static_cast<std::size_t>(n));
        switch (tag) {
            case 'N':
                run.no_namespace = field;
                break;
            case 'X':
                run.error += field;
                break;
            case 'O':
                run.output = field;
                break;
            case 'L':
                run.broker_log = field;
                break;
            default:
                break;
        }
    }
    if (run.no_namespace.empty() && run.error.empty() &&
        (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        run.error = "the namespace side ended with wait status " + std::to_string(status);
    }
    return run;
}

}  // namespace quorbix::e2e
