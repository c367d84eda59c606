#include "rig.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifndef QUORBIX_LAUNCHER_PATH
#error "QUORBIX_LAUNCHER_PATH must name the launcher binary under test"
#endif

namespace quorbix::e2e {

namespace {

constexpr const char kRigDir[] = "/opt/e2e";
constexpr const char kRealShell[] = "/opt/e2e/sh";
constexpr const char kCommandsLog[] = "/opt/e2e/commands";
constexpr const char kDaemonLog[] = "/opt/e2e/daemon.calls";
constexpr const char kTokenLog[] = "/opt/e2e/token.calls";
constexpr const char kStderrLog[] = "/opt/e2e/stderr";
constexpr const char kLauncherMount[] = "/opt/e2e/quorbix-launcher";

// The shell of system() and popen() is /bin/sh; this one records each "-c"
// command (NUL-terminated) and hands over to the real shell.
constexpr const char kShellWrapper[] =
    "#!/opt/e2e/sh\n"
    "if [ \"$1\" = \"-c\" ]; then printf '%s\\0' \"$2\" >> /opt/e2e/commands; fi\n"
    "exec /opt/e2e/sh \"$@\"\n";

// Stand-ins record their arguments as one record per call: a count, then
// each argument, all NUL-terminated.
constexpr const char kRecordArgs[] = "printf '%s\\0' \"$#\" \"$@\" >> ";

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "e2e rig: %s: %s\n", what, std::strerror(errno));
    std::_Exit(120);
}

std::string read_file(const char* path) {
    std::string out;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return out;
    }
    char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

void write_file(const std::string& path, std::string_view content, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        die(path.c_str());
    }
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            die(path.c_str());
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (::chmod(path.c_str(), mode) != 0) {
        die(path.c_str());
    }
}

void write_mapping(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t n = ::write(fd, text.data(), text.size());
        static_cast<void>(n);
        ::close(fd);
    }
}

// Enters a private mount namespace; returns the reason when it cannot.
std::string enter_namespace() {
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        }
    } else {
        uid_t uid = ::geteuid();
        gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return std::string("unshare(CLONE_NEWUSER|CLONE_NEWNS): ") + std::strerror(errno);
        }
        write_mapping("/proc/self/setgroups", "deny");
        write_mapping("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write_mapping("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("making / private: ") + std::strerror(errno);
    }
    return {};
}

std::vector<std::string> split_nul(const std::string& log) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\0', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        items.push_back(log.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::vector<std::vector<std::string>> parse_calls(const std::string& log) {
    const std::vector<std::string> fields = split_nul(log);
    std::vector<std::vector<std::string>> calls;
    for (std::size_t i = 0; i < fields.size();) {
        std::size_t count = std::strtoul(fields[i].c_str(), nullptr, 10);
        ++i;
        std::vector<std::string> args;
        for (std::size_t k = 0; k < count && i < fields.size(); ++k, ++i) {
            args.push_back(fields[i]);
        }
        calls.push_back(std::move(args));
    }
    return calls;
}

// Serialised results: records of a tag byte and length-prefixed fields.
void put(std::string& out, std::string_view field) {
    std::uint64_t n = field.size();
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    out.append(field);
}

bool take(std::string_view& in, std::string* field) {
    std::uint64_t n = 0;
    if (in.size() < sizeof n) {
        return false;
    }
    std::memcpy(&n, in.data(), sizeof n);
    in.remove_prefix(sizeof n);
    if (in.size() < n) {
        return false;
    }
    field->assign(in.substr(0, static_cast<std::size_t>(n)));
    in.remove_prefix(static_cast<std::size_t>(n));
    return true;
}

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
        put(out, std::to_string(is_dir ? 1 : 0));
        put(out, std::to_string(st.st_mode & 07777));
        put(out, is_dir || !S_ISREG(st.st_mode) ? std::string() : read_file(path.c_str()));
        if (is_dir) {
            snapshot_tree(path, out);
        }
    }
}

// Waits for pid up to `seconds`; kills it when it overstays. Returns the exit
// status (0..255), 128 + signal, or -1 when it had to be killed for hanging.
int wait_bounded(pid_t pid, int seconds) {
    const timespec tick{0, 5 * 1000 * 1000};
    for (long waited = 0; waited < seconds * 200L; ++waited) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0 && errno != EINTR) {
            return -3;
        }
        ::nanosleep(&tick, nullptr);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return -1;
}

// Reaps every descendant left behind (the daemon started in the background),
// for at most a few seconds.
void reap_descendants() {
    const timespec tick{0, 5 * 1000 * 1000};
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        pid_t r = ::waitpid(-1, &status, WNOHANG);
        if (r < 0 && errno == ECHILD) {
            return;
        }
        if (r == 0) {
            ::nanosleep(&tick, nullptr);
        }
    }
}

void install_stand_ins(const Case& c, int launcher_fd) {
    if (::mkdir(kRigDir, 0755) != 0 || ::mkdir("/opt/quorbix", 0755) != 0 ||
        ::mkdir("/opt/quorbix/bin", 0755) != 0 || ::mkdir("/opt/quorbix/etc", 0755) != 0) {
        die("mkdir /opt");
    }
    write_file(kRealShell, read_file("/bin/sh"), 0755);
    write_file("/opt/e2e/sh-wrapper", kShellWrapper, 0755);
    if (::mount("/opt/e2e/sh-wrapper", "/bin/sh", nullptr, MS_BIND, nullptr) != 0) {
        die("bind /bin/sh");
    }
    write_file(kLauncherMount, "", 0755);
    std::string fd_path = "/proc/self/fd/" + std::to_string(launcher_fd);
    if (::mount(fd_path.c_str(), kLauncherMount, nullptr, MS_BIND, nullptr) != 0) {
        die("bind launcher");
    }
    if (c.daemon != Case::Daemon::kMissing) {
        std::string daemon = std::string("#!/opt/e2e/sh\n") + kRecordArgs + kDaemonLog + "\n";
        write_file("/opt/quorbix/bin/quorbix", daemon,
                   c.daemon == Case::Daemon::kPresent ? 0755 : 0644);
    }
    if (c.token_tool_body) {
        std::string tool =
            std::string("#!/opt/e2e/sh\n") + kRecordArgs + kTokenLog + "\n" + *c.token_tool_body;
        write_file("/opt/quorbix/bin/create-sas", tool, 0755);
    }
    if (c.settings) {
        write_file("/opt/quorbix/etc/settings", *c.settings, 0644);
    }
}

int run_once(const Case& c, const std::vector<std::string>& wrapper) {
    pid_t pid = ::fork();
    if (pid < 0) {
        die("fork");
    }
    if (pid == 0) {
        int err = ::open(kStderrLog, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) {
            ::dup2(err, 2);
            ::close(err);
        }
        for (int fd : c.closed_fds) {
            ::close(fd);
        }
        ::umask(c.umask);
        std::vector<std::string> words = wrapper;
        words.emplace_back(kLauncherMount);
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        std::string path = "PATH=" + c.path;
        std::string home = "HOME=/opt/e2e";
        // For a wrapper that keeps files of its own (valgrind): /tmp may be
        // read-only or full in a case.
        std::string tmpdir = "TMPDIR=/opt/e2e";
        char* envp[] = {path.data(), home.data(), tmpdir.data(), nullptr};
        ::execve(argv[0], argv.data(), envp);
        ::execvpe(argv[0], argv.data(), envp);
        std::_Exit(127);
    }
    return wait_bounded(pid, c.timeout_seconds);
}

std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    const char* env = std::getenv("QUORBIX_E2E_WRAPPER");
    if (env == nullptr) {
        return words;
    }
    std::string text = env;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            words.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return words;
}

// The namespace side: everything between unshare and the serialised result.
[[noreturn]] void run_in_namespace(const Case& c, int out_fd) {
    std::string out;
    const char* launcher = std::getenv("QUORBIX_E2E_LAUNCHER");
    if (launcher == nullptr || *launcher == '\0') {
        launcher = QUORBIX_LAUNCHER_PATH;
    }
    std::vector<std::string> wrapper = wrapper_words();
    std::string reason = enter_namespace();
    // Opened inside the new namespace (a bind mount takes its source from the
    // caller's own) but before /tmp is covered: the build may lie under /tmp.
    int launcher_fd = reason.empty() ? ::open(launcher, O_PATH | O_CLOEXEC) : -1;
    if (reason.empty() && launcher_fd < 0) {
        reason = std::string("cannot open ") + launcher;
    }
    if (!reason.empty()) {
        out.push_back('N');
        put(out, reason);
    } else {
        std::string tmp_options = "mode=1777";
        if (!c.tmp_options.empty()) {
            tmp_options += "," + c.tmp_options;
        }
        if (::mount("tmpfs", "/tmp", "tmpfs", 0, tmp_options.c_str()) != 0 ||
            ::mount("tmpfs", "/opt", "tmpfs", 0, "mode=755") != 0) {
            die("mount tmpfs");
        }
        install_stand_ins(c, launcher_fd);
        if (c.setup) {
            c.setup();
        }
        if (c.tmp_read_only &&
            ::mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            die("remount /tmp read-only");
        }
        for (int i = 0; i < c.runs; ++i) {
            int status = run_once(c, wrapper);
            reap_descendants();
            out.push_back('S');
            put(out, std::to_string(status));
        }
        snapshot_tree("/tmp", out);
        out.push_back('C');
        put(out, read_file(kCommandsLog));
        out.push_back('D');
        put(out, read_file(kDaemonLog));
        out.push_back('T');
        put(out, read_file(kTokenLog));
        out.push_back('E');
        put(out, read_file(kStderrLog));
    }
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(out_fd, out.data() + done, out.size() - done);
        if (n <= 0) {
            std::_Exit(121);
        }
        done += static_cast<std::size_t>(n);
    }
    std::_Exit(0);
}

}  // namespace

bool wrapped_by(const char* program) {
    const char* wrapper = std::getenv("QUORBIX_E2E_WRAPPER");
    return wrapper != nullptr && std::strstr(wrapper, program) != nullptr;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

std::string RunResult::file(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? std::string() : it->second.content;
}

mode_t RunResult::mode(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? 0 : it->second.mode;
}

RunResult run_launcher(const Case& c) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        die("pipe");
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        die("fork");
    }
    if (pid == 0) {
        ::close(fds[0]);
        // The daemon is started in the background and outlives the launcher;
        // as subreaper this process collects it before taking the snapshot.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        run_in_namespace(c, fds[1]);
    }
    ::close(fds[1]);
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

    RunResult r;
    std::string_view in = data;
    while (!in.empty()) {
        char tag = in.front();
        in.remove_prefix(1);
        std::string a;
        if (!take(in, &a)) {
            break;
        }
        switch (tag) {
            case 'N':
                r.no_namespace = a;
                break;
            case 'S':
                r.statuses.push_back(std::atoi(a.c_str()));
                break;
            case 'F': {
                std::string is_dir;
                std::string mode;
                std::string content;
                take(in, &is_dir);
                take(in, &mode);
                take(in, &content);
                r.files[a] = FileEntry{is_dir == "1",
                                       static_cast<mode_t>(std::strtoul(mode.c_str(), nullptr, 10)),
                                       content};
                break;
            }
            case 'C':
                r.commands = split_nul(a);
                break;
            case 'D':
                r.daemon_calls = parse_calls(a);
                break;
            case 'T':
                r.token_calls = parse_calls(a);
                break;
            case 'E':
                r.stderr_text = a;
                break;
            default:
                break;
        }
    }
    if (r.no_namespace.empty() && r.statuses.empty()) {
        r.no_namespace =
            "the rig's namespace process failed (status " + std::to_string(status) + ")";
        // A rig failure is not a missing namespace: report it as a failure.
        r.statuses.push_back(-4);
        r.no_namespace.clear();
    }
    return r;
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto byte = [&bytes](std::size_t i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kAlphabet[v & 63] : '=');
    }
    return out;
}

std::string settings_file(const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string text;
    for (const auto& [key, value] : lines) {
        text.append(key).append("=").append(value).append("\n");
    }
    return text;
}

std::vector<std::string> passing_run_commands() {
    std::vector<std::string> commands = {
        "mkdir -p /tmp/quorbix/etc",
        "rm -rf /tmp/quorbix/etc/*.*",
        "rm -f /tmp/quorbix/config",
        "rm -rf /tmp/quorbix/*.sh",
    };
    for (int n = 1; n <= 10; ++n) {
        commands.push_back("chmod +x /tmp/quorbix/script-" + std::to_string(n) + ".sh");
    }
    commands.emplace_back("/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &");
    return commands;
}

}  // namespace quorbix::e2e
