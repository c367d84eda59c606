#include "daemon_config/token.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/paths.h"
#include "common/shell.h"
#include "common/unique_fd.h"

namespace quorbix {

namespace {

// What joins the host and the client id in the token tool's resource.
constexpr std::string_view kResourceJoin = "/devices/";

// Longest pause between two looks at a tool that has not ended yet.
constexpr int kLongestTickMs = 50;

long long now_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Milliseconds left until deadline, at most cap and at least 0.
int left_ms(long long deadline, int cap) {
    const long long left = deadline - now_ms();
    return left <= 0 ? 0 : left < cap ? static_cast<int>(left) : cap;
}

// Starts "/bin/sh -c command" as popen() would, with its standard output on
// out_fd, in a process group of its own (so that the whole tool can be
// killed). Returns 0, or the error number of the call that failed.
int spawn_shell(const std::string& command, int out_fd, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    int error = ::posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        return error;
    }
    error = ::posix_spawnattr_init(&attr);
    if (error == 0) {
        error = ::posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
        if (error == 0) {
            error = ::posix_spawnattr_setpgroup(&attr, 0);
        }
        if (error == 0) {
            error = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        }
        if (error == 0) {
            char sh[] = "sh";
            char dash_c[] = "-c";
            std::string text = command;
            char* argv[] = {sh, dash_c, text.data(), nullptr};
            error = ::posix_spawn(pid, "/bin/sh", &actions, &attr, argv, environ);
        }
        ::posix_spawnattr_destroy(&attr);
    }
    ::posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Reads the first line as fgets into kTokenLineSize bytes would: until a
// line feed, kTokenLineSize - 1 bytes, or the end of the output. Returns
// false when the deadline came first, or a read failed (fgets then gives no
// line either).
bool read_first_line(int fd, long long deadline, char* line, std::size_t* have, bool* at_end) {
    constexpr std::size_t kRoom = kTokenLineSize - 1;
    while (*have < kRoom && std::memchr(line, '\n', *have) == nullptr) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left_ms(deadline, 1 << 30));
        if (ready == 0) {
            return false;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        const ssize_t n = ::read(fd, line + *have, kRoom - *have);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n < 0) {
            *have = 0;
            *at_end = true;
            return true;
        }
        if (n == 0) {
            *at_end = true;
            return true;
        }
        *have += static_cast<std::size_t>(n);
    }
    return true;
}

// How waiting for the tool ended.
enum class ToolEnd { kEnded, kGone, kTimedOut };

// Waits for the tool to end until the deadline, reading and discarding what
// it still prints so that it never blocks on a full pipe; *more_came tells
// whether it printed more. An ended tool is left to reap (WNOWAIT): until
// then its process group cannot be taken by another.
ToolEnd wait_for_tool(pid_t pid, int fd, long long deadline, bool at_end, bool* more_came) {
    int tick = 1;
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            if (info.si_pid == pid) {
                return ToolEnd::kEnded;
            }
        } else if (errno != EINTR) {
            return ToolEnd::kGone;  // reaped elsewhere (ECHILD): nothing is known of it
        }
        const int pause = left_ms(deadline, tick);
        if (pause == 0) {
            return ToolEnd::kTimedOut;
        }
        tick = tick * 2 < kLongestTickMs ? tick * 2 : kLongestTickMs;
        if (at_end) {
            const timespec t{0, static_cast<long>(pause) * 1000000};
            ::nanosleep(&t, nullptr);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, pause) > 0) {
            char sink[4096];
            const ssize_t n = ::read(fd, sink, sizeof sink);
            if (n > 0) {
                *more_came = true;
                tick = 1;
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                at_end = true;
            }
        }
    }
}

// Whether anything is left to read in the pipe, looked at without waiting:
// the rest of the output of a tool that ended before it was read on.
bool more_left(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return false;
    }
    char byte = 0;
    ssize_t n = 0;
    while ((n = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

}  // namespace

std::string token_resource(std::string_view host, std::string_view client_id) {
    return std::string(host).append(kResourceJoin).append(client_id);
}

std::string token_command(std::string_view host, std::string_view client_id, std::string_view key) {
    // "/opt/quorbix/bin/create-sas %s/devices/%s %s  2>/dev/null", each %s a
    // settings text quoted for the shell: the resource reaches the tool as
    // token_resource forms it.
    std::string command;
    command.append(paths::kTokenTool)
        .append(" ")
        .append(shell_quote(host))
        .append(kResourceJoin)
        .append(shell_quote(client_id))
        .append(" ")
        .append(shell_quote(key))
        .append("  2>/dev/null");
    if (command.size() >= kMaxTokenCommand) {
        // A command cut short would run with a truncated key or argument;
        // not running the tool gives the empty password instead.
        return std::string();
    }
    return command;
}

std::string token_first_line(std::string_view output) {
    std::string_view line = output.substr(0, kTokenLineSize - 1);
    const std::size_t nl = line.find('\n');
    if (nl != std::string_view::npos) {
        line = line.substr(0, nl + 1);
    }
    return std::string(line.substr(0, line.find('\0')));
}

TokenRun token_run(const std::string& command, int timeout_seconds) {
    TokenRun run;
    const long long deadline = now_ms() + timeout_seconds * 1000LL;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        run.failed_call = "pipe";
        run.start_error = errno;
        return run;
    }
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    pid_t pid = 0;
    const int error = spawn_shell(command, write_end.get(), &pid);
    write_end.reset();
    if (error != 0) {
        run.failed_call = shell_start_failure(error);
        run.start_error = error;
        return run;
    }

    char line[kTokenLineSize - 1] = {};
    std::size_t have = 0;
    bool at_end = false;
    const bool whole = read_first_line(read_end.get(), deadline, line, &have, &at_end);
    bool more_came = false;
    const ToolEnd end = wait_for_tool(pid, read_end.get(), deadline, at_end, &more_came);
    if (end != ToolEnd::kGone) {
        // The tool at its bound, or what it left running once it ended: all
        // of it is in the tool's own process group, and goes with it.
        ::killpg(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (end == ToolEnd::kTimedOut) {
            run.timed_out_after = timeout_seconds;
        } else if (WIFSIGNALED(status)) {
            run.signal = WTERMSIG(status);
        } else if (WIFEXITED(status)) {
            run.exit_status = WEXITSTATUS(status);
        }
    }
    more_came = more_came || more_left(read_end.get());
    if (whole) {
        const std::string_view read(line, have);
        run.line = token_first_line(read);
        run.line_cut =
            have == sizeof line && read.find('\n') == std::string_view::npos && more_came;
        run.carriage_return = run.line.find('\r') != std::string::npos;
    }
    return run;
}

TokenRun token_request(std::string_view host, std::string_view client_id, std::string_view key) {
    const std::string command = token_command(host, client_id, key);
    if (command.empty()) {
        return TokenRun{};
    }
    return token_run(command);
}

std::vector<std::string> token_trouble(const TokenRun& run) {
    std::vector<std::string> trouble;
    char text[160];
    auto add = [&trouble, &text](int length) {
        if (length > 0) {
            trouble.emplace_back(text, static_cast<std::size_t>(length) < sizeof text
                                           ? static_cast<std::size_t>(length)
                                           : sizeof text - 1);
        }
    };
    if (run.failed_call != nullptr) {
        add(std::snprintf(text, sizeof text, kTokenNotStartedFormat, run.failed_call,
                          std::strerror(run.start_error)));
    }
    if (run.timed_out_after != 0) {
        add(std::snprintf(text, sizeof text, kTokenTimedOutFormat, run.timed_out_after));
    }
    if (run.signal != 0) {
        const char* name = ::strsignal(run.signal);
        add(std::snprintf(text, sizeof text, kTokenSignalFormat, run.signal,
                          name != nullptr ? name : "?"));
    }
    if (run.exit_status != 0) {
        add(std::snprintf(text, sizeof text, kTokenExitFormat, run.exit_status));
    }
    if (run.line_cut) {
        trouble.emplace_back(kTokenLineCutText);
    }
    if (run.carriage_return) {
        trouble.emplace_back(kTokenCarriageReturnText);
    }
    return trouble;
}

}  // namespace quorbix
