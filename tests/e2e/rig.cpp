// The namespace side of the rig: runs the launcher and the checker in the
// namespace a case describes and reports what they did to the test side.
#include "rig.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rig_internal.h"

#ifndef QUORBIX_LAUNCHER_PATH
#error "QUORBIX_LAUNCHER_PATH must name the launcher binary under test"
#endif
#ifndef QUORBIX_CHECK_PATH
#error "QUORBIX_CHECK_PATH must name the checker binary under test"
#endif

extern char** environ;

namespace quorbix::e2e {

namespace {

// Descendants get at most this long to end after the launcher exited.
constexpr int kReapSeconds = 10;

void snapshot_tree(const std::string& dir, std::string& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(d);
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        bool is_dir = S_ISDIR(st.st_mode);
        out.push_back('F');
        put(out, path);
        put(out, is_dir ? "1" : S_ISLNK(st.st_mode) ? "2" : "0");
        put(out, std::to_string(st.st_mode & 07777));
        put(out, S_ISREG(st.st_mode) ? read_file(path.c_str()) : std::string());
        if (is_dir) {
            snapshot_tree(path, out);
        }
    }
}

double now_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void nap() {
    const timespec tick{0, 5 * 1000 * 1000};
    ::nanosleep(&tick, nullptr);
}

// Kills every child of this subreaper that is still running, with the
// process group it leads: what a killed launcher left behind (a token tool
// runs in a group of its own).
void kill_orphans() {
    const std::string path = "/proc/self/task/" + std::to_string(::getpid()) + "/children";
    const std::string children = read_file(path.c_str());
    for (std::size_t at = 0; at < children.size();) {
        const std::size_t end = children.find(' ', at);
        const long pid = std::strtol(children.substr(at, end - at).c_str(), nullptr, 10);
        if (pid > 1) {
            ::kill(static_cast<pid_t>(-pid), SIGKILL);
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        at = end == std::string::npos ? children.size() : end + 1;
    }
}

// Waits for the launcher up to `seconds`; when it overstays, kills its whole
// process group, and then what it left behind (a hung token tool with it).
// Returns the exit status (0..255), 128 + signal, or -1 when it had to be
// killed for hanging.
int wait_bounded(pid_t pid, int seconds) {
    const double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0 && errno != EINTR) {
            fail_errno("waiting for the launcher");
        }
        nap();
    }
    ::killpg(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    kill_orphans();
    return -1;
}

// Waits until every process of the launcher's group has ended (the daemon
// started in the background among them), and every child of this subreaper
// too (a process group of its own, such as the token tool's, that the
// launcher left), reaping them. Returns false when some were still running
// after `seconds` and were killed.
bool reap_descendants(pid_t group, int seconds) {
    if (group <= 1) {
        return true;  // never signal beyond the launcher's own group
    }
    bool in_time = true;
    double deadline = now_seconds() + seconds;
    for (;;) {
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = ::waitpid(-1, &status, WNOHANG)) > 0) {
        }
        const bool no_children = reaped < 0 && errno == ECHILD;
        if (no_children && ::kill(-group, 0) != 0 && errno == ESRCH) {
            return in_time;
        }
        if (now_seconds() >= deadline) {
            if (!in_time) {
                return false;  // killed, and still not gone
            }
            in_time = false;
            ::killpg(group, SIGKILL);
            kill_orphans();
            deadline = now_seconds() + 2;
        }
        nap();
    }
}

// The launcher's environment: its search path, a home and a TMPDIR for a
// wrapper that keeps files of its own (valgrind; /tmp may be read-only or
// full in a case), and what the sanitizers and the emulator are told.
std::vector<std::string> launcher_environment(const Case& c) {
    const std::string path = c.path_tools.empty() ? c.path : kPathDir;
    std::vector<std::string> env = {"PATH=" + path, "HOME=/opt/e2e", "TMPDIR=/opt/e2e"};
    env.insert(env.end(), c.environment.begin(), c.environment.end());
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view var = *e;
        std::string_view name = var.substr(0, var.find('='));
        bool sanitizer = name.size() > 11 && name.substr(name.size() - 11) == "SAN_OPTIONS";
        if (sanitizer || name.substr(0, 5) == "QEMU_") {
            env.emplace_back(var);
        }
    }
    return env;
}

// One program to start: its words (a wrapper's first), where its standard
// output and error go, and how it is started.
struct Program {
    std::vector<std::string> words;
    const char* out_path;
    const char* err_path;
    int open_flags;  // O_APPEND or O_TRUNC for the two files
    bool launcher;   // the launcher: it gets the case's surroundings
};

// The cgroup.procs of the case's pids cgroup while it runs, else empty.
std::string g_cgroup_procs;

// Starts the program in its own process group, waits for it up to the
// case's timeout; returns its status and its pid, which names the process
// group of everything it started.
std::pair<int, pid_t> run_program(const Case& c, Program p, const std::vector<int>& closed_fds) {
    std::vector<std::string> env = launcher_environment(c);
    std::vector<char*> argv;
    for (std::string& w : p.words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        fail_errno("fork");
    }
    if (pid == 0) {
        // Its own process group, so that a hung run is killed whole.
        ::setpgid(0, 0);
        const std::pair<const char*, int> logs[] = {{p.out_path, 1}, {p.err_path, 2}};
        for (const auto& [path, target] : logs) {
            int fd = ::open(path, O_WRONLY | O_CREAT | p.open_flags, 0644);
            if (fd >= 0) {
                ::dup2(fd, target);
                ::close(fd);
            }
        }
        for (int fd : closed_fds) {
            ::close(fd);
        }
        ::umask(c.umask);
        if (p.launcher) {
            enter_surroundings(c, g_cgroup_procs);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::execvpe(argv[0], argv.data(), envp.data());
        std::_Exit(127);
    }
    ::setpgid(pid, pid);
    return {wait_bounded(pid, c.timeout_seconds), pid};
}

// Runs the launcher once with the case's arguments.
std::pair<int, pid_t> run_once(const Case& c, std::vector<std::string> words) {
    words.emplace_back(kLauncherMount);
    words.insert(words.end(), c.args.begin(), c.args.end());
    return run_program(c, Program{std::move(words), kStdoutLog, kStderrLog, O_APPEND, true},
                       c.closed_fds);
}

// Asks the checker what the launcher will do with the settings now in
// place, with the configuration, and the stand-in's token where the default
// token tool would be asked; returns the checker's exit status.
int run_checker(const Case& c, std::vector<std::string> words) {
    words.insert(words.end(), {kCheckMount, "--json", "--config"});
    if (c.token_tool_body && *c.token_tool_body == kDefaultTokenBody) {
        words.insert(words.end(), {"--token", "sas-token-1\n"});
    }
    const auto [status, group] =
        run_program(c, Program{std::move(words), kCheckOutput, kCheckErrors, O_TRUNC, false}, {});
    static_cast<void>(reap_descendants(group, kReapSeconds));
    return status;
}

std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    const char* env = std::getenv("QUORBIX_E2E_WRAPPER");
    std::string_view text = env != nullptr ? env : "";
    while (!text.empty()) {
        std::size_t end = text.find(' ');
        if (end != 0) {
            words.emplace_back(text.substr(0, end));
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return words;
}

// The files that QUORBIX_E2E_LIBRARIES names (paths separated by ":"), by
// their base names, with their bytes; a path that cannot be read fails the
// case.
std::vector<std::pair<std::string, std::string>> wrapper_libraries() {
    std::vector<std::pair<std::string, std::string>> libraries;
    const char* env = std::getenv("QUORBIX_E2E_LIBRARIES");
    std::string_view list = env != nullptr ? env : "";
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(':'), list.size());
        const std::string path(list.substr(0, end));
        list.remove_prefix(std::min(end + 1, list.size()));
        if (path.empty()) {
            continue;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            fail_errno("reading the library " + path);
        }
        libraries.emplace_back(path.substr(path.rfind('/') + 1), read_file(path.c_str()));
    }
    return libraries;
}

// The namespace side: everything between unshare and the serialised result.
[[noreturn]] void run_in_namespace(const Case& c, int out_fd) {
    g_report_fd = out_fd;
    std::string out;
    const char* launcher = std::getenv("QUORBIX_E2E_LAUNCHER");
    if (launcher == nullptr || *launcher == '\0') {
        launcher = QUORBIX_LAUNCHER_PATH;
    }
    const char* check = std::getenv("QUORBIX_E2E_CHECK");
    if (check == nullptr || *check == '\0') {
        check = QUORBIX_CHECK_PATH;
    }
    if (!c.launcher.empty()) {
        launcher = c.launcher.c_str();
    }
    std::string reason = enter_namespace();
    if (!reason.empty()) {
        out.push_back('N');
        put(out, reason);
        std::_Exit(write_all(out_fd, out) ? 0 : 121);
    }
    // Opened inside the new namespace (a bind mount takes its source from
    // the caller's own) but before /tmp is covered: the build may lie there.
    int launcher_fd = ::open(launcher, O_PATH | O_CLOEXEC);
    if (launcher_fd < 0) {
        fail_errno(std::string("opening the launcher ") + launcher);
    }
    int check_fd = ::open(check, O_PATH | O_CLOEXEC);
    if (check_fd < 0) {
        fail_errno(std::string("opening the checker ") + check);
    }
    // Libraries a wrapper needs inside the namespace (the cross builds' own
    // OpenSSL, for qemu-user), read while the build is still in sight and
    // put in /opt/e2e/lib below.
    const std::vector<std::pair<std::string, std::string>> libraries = wrapper_libraries();
    std::string tmp_options = "mode=1777";
    if (!c.tmp_options.empty()) {
        tmp_options += "," + c.tmp_options;
    }
    if (::mount("tmpfs", "/tmp", "tmpfs", 0, tmp_options.c_str()) != 0 ||
        ::mount("tmpfs", "/opt", "tmpfs", 0, "mode=755") != 0) {
        fail_errno("mounting tmpfs over /tmp and /opt");
    }
    install_stand_ins(c, launcher_fd, check_fd);
    for (const auto& [name, bytes] : libraries) {
        put_file(std::string(kLibraryDir) + "/" + name, bytes, 0755);
    }
    if (c.setup) {
        c.setup();
    }
    apply_mounts_and_path(c);
    if (c.tmp_read_only &&
        ::mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        fail_errno("remounting /tmp read-only");
    }
    if (c.pids_max != 0) {
        std::string why;
        g_cgroup_procs = make_pids_cgroup(c.pids_max, &why);
        if (g_cgroup_procs.empty()) {
            out.push_back('G');
            put(out, why);
            std::_Exit(write_all(out_fd, out) ? 0 : 121);
        }
    }
    const std::vector<std::string> wrapper = wrapper_words();
    for (int i = 0; i < c.runs; ++i) {
        if (c.before_run) {
            c.before_run(i);
        }
        if (i + 1 == c.runs) {
            // What the checker predicts for the last run, from the same file.
            out.push_back('K');
            put(out, std::to_string(run_checker(c, wrapper)));
            out.push_back('J');
            put(out, read_file(kCheckOutput));
        }
        const std::string log_before = read_file(kLog);
        const auto [status, group] = run_once(c, wrapper);
        out.push_back('S');
        put(out, std::to_string(status));
        const std::string log_after = read_file(kLog);
        out.push_back('L');
        put(out, log_after.compare(0, log_before.size(), log_before) == 0
                     ? log_after.substr(log_before.size())
                     : log_after);
        if (!reap_descendants(group, std::min(c.timeout_seconds, kReapSeconds))) {
            out.push_back('X');
            put(out, "run " + std::to_string(i) + " left processes running past the timeout");
        }
    }
    if (!g_cgroup_procs.empty()) {
        remove_pids_cgroup(g_cgroup_procs);
    }
    snapshot_tree("/tmp", out);
    const std::pair<char, const char*> logs[] = {{'C', kCommandsLog},   {'D', kDaemonLog},
                                                 {'Q', kDaemonSignals}, {'T', kTokenLog},
                                                 {'O', kStdoutLog},     {'E', kStderrLog}};
    for (const auto& [tag, path] : logs) {
        out.push_back(tag);
        put(out, read_file(path));
    }
    std::_Exit(write_all(out_fd, out) ? 0 : 121);
}

}  // namespace

std::string checker_command() {
    std::string command;
    for (const std::string& word : wrapper_words()) {
        command += word + " ";
    }
    return command + kCheckMount;
}

RunResult run_launcher(const Case& c) {
    RunResult r;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        r.rig_error = std::string("pipe: ") + std::strerror(errno);
        return r;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        // The daemon is started in the background and outlives the launcher;
        // as subreaper this process reaps it before taking the snapshot.
        static_cast<void>(::prctl(PR_SET_CHILD_SUBREAPER, 1));
        run_in_namespace(c, fds[1]);
    }
    ::close(fds[1]);
    if (pid < 0) {
        r.rig_error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        return r;
    }
    std::string data;
    char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            data.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    decode_report(data, r);
    if (r.no_namespace.empty() && r.rig_error.empty() &&
        (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        r.rig_error = "the namespace side ended with wait status " + std::to_string(status);
    }
    return r;
}

}  // namespace quorbix::e2e
