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
#include <nlohmann/json.hpp>

#ifndef QUORBIX_LAUNCHER_PATH
#error "QUORBIX_LAUNCHER_PATH must name the launcher binary under test"
#endif
#ifndef QUORBIX_CHECK_PATH
#error "QUORBIX_CHECK_PATH must name the checker binary under test"
#endif
#ifndef QUORBIX_TEST_DATA_DIR
#error "QUORBIX_TEST_DATA_DIR must name the shared test data directory"
#endif

extern char** environ;

namespace quorbix::e2e {

namespace {

constexpr const char kRigDir[] = "/opt/e2e";
constexpr const char kRealShell[] = "/opt/e2e/sh";
constexpr const char kShellWrapper[] = "/opt/e2e/sh-wrapper";
constexpr const char kCommandsLog[] = "/opt/e2e/commands";
constexpr const char kDaemonLog[] = "/opt/e2e/daemon.calls";
constexpr const char kTokenLog[] = "/opt/e2e/token.calls";
constexpr const char kStdoutLog[] = "/opt/e2e/stdout";
constexpr const char kStderrLog[] = "/opt/e2e/stderr";
constexpr const char kLauncherMount[] = "/opt/e2e/quorbix-launcher";
constexpr const char kCheckMount[] = "/opt/e2e/quorbix-check";
constexpr const char kCheckOutput[] = "/opt/e2e/check.json";
constexpr const char kCheckErrors[] = "/opt/e2e/check.err";
// Where the libraries named by QUORBIX_E2E_LIBRARIES are put.
constexpr const char kLibraryDir[] = "/opt/e2e/lib";
constexpr const char kLog[] = "/tmp/quorbix/quorbix.log";

// The shell of system() and popen() is /bin/sh; this one records each "-c"
// command (NUL-terminated) and hands over to the real shell. A C library
// that passes "--" before the command is recorded the same.
constexpr const char kShellWrapperText[] =
    "#!/opt/e2e/sh\n"
    "if [ \"$1\" = -c ]; then\n"
    "  if [ \"$2\" = -- ]; then c=$3; else c=$2; fi\n"
    "  printf '%s\\0' \"$c\" >> /opt/e2e/commands\n"
    "fi\n"
    "exec /opt/e2e/sh \"$@\"\n";

// Stand-ins record their arguments as one record per call: a count, then
// each argument, all NUL-terminated.
constexpr const char kRecordArgs[] = "printf '%s\\0' \"$#\" \"$@\" >> ";

// Descendants get at most this long to end after the launcher exited.
constexpr int kReapSeconds = 10;

// The pipe to the test process while on the namespace side, else -1.
int g_report_fd = -1;

// Records of the pipe: a tag byte and length-prefixed fields.
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

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
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

[[noreturn]] void fail_errno(const std::string& what) {
    rig_fail(what + ": " + std::strerror(errno));
}

std::string read_file(const char* path) {
    std::string out;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

void write_mapping(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        static_cast<void>(write_all(fd, text));
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

// Waits for the launcher up to `seconds`; when it overstays, kills its whole
// process group (a hung token tool with it). Returns the exit status
// (0..255), 128 + signal, or -1 when it had to be killed for hanging.
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
    return -1;
}

// Waits until every process of the launcher's group has ended (the daemon
// started in the background among them), reaping those that became children
// of this subreaper. The group, not the children, tells when all are gone:
// qemu-user refuses PR_SET_CHILD_SUBREAPER, and orphans then go to init.
// Returns false when some were still running after `seconds` and were killed.
bool reap_descendants(pid_t group, int seconds) {
    if (group <= 1) {
        return true;  // never signal beyond the launcher's own group
    }
    bool in_time = true;
    double deadline = now_seconds() + seconds;
    for (;;) {
        int status = 0;
        while (::waitpid(-1, &status, WNOHANG) > 0) {
        }
        if (::kill(-group, 0) != 0 && errno == ESRCH) {
            return in_time;
        }
        if (now_seconds() >= deadline) {
            if (!in_time) {
                return false;  // killed, and still not gone
            }
            in_time = false;
            ::killpg(group, SIGKILL);
            deadline = now_seconds() + 2;
        }
        nap();
    }
}

// Bind-mounts the binary open as fd (O_PATH) at mount_point.
void mount_binary(int fd, const char* mount_point) {
    put_file(mount_point, "", 0755);
    std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
    if (::mount(fd_path.c_str(), mount_point, nullptr, MS_BIND, nullptr) != 0) {
        fail_errno(std::string("bind-mounting ") + mount_point);
    }
    ::close(fd);
}

void install_stand_ins(const Case& c, int launcher_fd, int check_fd) {
    put_dir(kRigDir);
    put_dir("/opt/quorbix/bin");
    put_dir("/opt/quorbix/etc");
    put_file(kRealShell, read_file("/bin/sh"), 0755);
    put_file(kShellWrapper, kShellWrapperText, 0755);
    if (::mount(kShellWrapper, "/bin/sh", nullptr, MS_BIND, nullptr) != 0) {
        fail_errno("bind-mounting the recording shell over /bin/sh");
    }
    mount_binary(launcher_fd, kLauncherMount);
    mount_binary(check_fd, kCheckMount);
    if (c.daemon != Case::Daemon::kMissing) {
        std::string daemon = std::string("#!/opt/e2e/sh\n") + kRecordArgs + kDaemonLog + "\n";
        put_file("/opt/quorbix/bin/quorbix", daemon,
                 c.daemon == Case::Daemon::kPresent ? 0755 : 0644);
    }
    if (c.token_tool_body) {
        std::string tool =
            std::string("#!/opt/e2e/sh\n") + kRecordArgs + kTokenLog + "\n" + *c.token_tool_body;
        put_file("/opt/quorbix/bin/create-sas", tool, 0755);
    }
    if (c.settings) {
        put_file("/opt/quorbix/etc/settings", *c.settings);
    }
}

// The launcher's environment: its search path, a home and a TMPDIR for a
// wrapper that keeps files of its own (valgrind; /tmp may be read-only or
// full in a case), and what the sanitizers and the emulator are told.
std::vector<std::string> launcher_environment(const Case& c) {
    std::vector<std::string> env = {"PATH=" + c.path, "HOME=/opt/e2e", "TMPDIR=/opt/e2e"};
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
};

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
    return run_program(c, Program{std::move(words), kStdoutLog, kStderrLog, O_APPEND},
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
        run_program(c, Program{std::move(words), kCheckOutput, kCheckErrors, O_TRUNC}, {});
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
    if (c.tmp_read_only &&
        ::mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        fail_errno("remounting /tmp read-only");
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
    snapshot_tree("/tmp", out);
    const std::pair<char, const char*> logs[] = {{'C', kCommandsLog},
                                                 {'D', kDaemonLog},
                                                 {'T', kTokenLog},
                                                 {'O', kStdoutLog},
                                                 {'E', kStderrLog}};
    for (const auto& [tag, path] : logs) {
        out.push_back(tag);
        put(out, read_file(path));
    }
    std::_Exit(write_all(out_fd, out) ? 0 : 121);
}

}  // namespace

void rig_fail(const std::string& what) {
    if (g_report_fd < 0) {
        // Called from the test process itself, outside any hook.
        std::fprintf(stderr, "e2e rig: %s (outside a hook)\n", what.c_str());
        std::abort();
    }
    std::string record(1, 'X');
    put(record, what);
    static_cast<void>(write_all(g_report_fd, record));
    std::_Exit(120);
}

void put_dir(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        struct stat st {};
        if (::mkdir(prefix.c_str(), mode) != 0 &&
            !(errno == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            fail_errno("making the directory " + prefix);
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

void put_file(const std::string& path, std::string_view content, mode_t mode) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        put_dir(path.substr(0, slash));
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        fail_errno("creating " + path);
    }
    bool written = write_all(fd, content) && ::fchmod(fd, mode) == 0;
    if (::close(fd) != 0 || !written) {
        fail_errno("writing " + path);
    }
}

std::string test_data(const std::string& name) {
    return read_file((std::string(QUORBIX_TEST_DATA_DIR) + "/" + name).c_str());
}

void expect_prediction(const RunResult& r) {
    SCOPED_TRACE("the checker's prediction for the same settings");
    ASSERT_TRUE(r.check_status >= 0 && r.check_status <= 2)
        << "the checker exited " << r.check_status << ":\n"
        << r.check_json;
    const nlohmann::json doc = nlohmann::json::parse(r.check_json, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << "the checker's report is no JSON:\n" << r.check_json;
    ASSERT_TRUE(doc.contains("files") && doc["files"].size() == 1) << r.check_json;
    const nlohmann::json& file = doc["files"][0];
    if (file.contains("error")) {
        // No settings the checker could read; it says the launcher takes
        // that as no settings file, which ends at the CSV gate.
        EXPECT_EQ(r.check_status, 2);
        EXPECT_EQ(r.status(), 255) << file["error"];
        EXPECT_EQ(r.log_added, "Can't find CSV config file in Appcapsule\n") << file["error"];
        return;
    }
    const nlohmann::json& outcome = file["outcome"];
    EXPECT_EQ(outcome["exit_status"].get<int>(), r.status()) << outcome["summary"];
    EXPECT_EQ(outcome["log_line"].get<std::string>(), r.log_added) << outcome["summary"];
    if (!outcome["config_written"].get<bool>()) {
        return;
    }
    // A placeholder stands for a token the checker was not given, and bytes
    // that are not UTF-8 reach the report as U+FFFD: neither can be compared.
    const std::string config = file["config"].get<std::string>();
    if (config.find("<token of /opt/quorbix/bin/create-sas>") == std::string::npos &&
        config.find("\xef\xbf\xbd") == std::string::npos) {
        EXPECT_EQ(config, r.file("/tmp/quorbix/config"));
    }
}

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

std::string RunResult::config_lines(const std::string& first, const std::string& next) const {
    const std::string config = file("/tmp/quorbix/config");
    std::size_t at = config.find(first + "=");
    std::size_t end = config.find(next + "=");
    if (at == std::string::npos || end == std::string::npos) {
        return "<" + first + " .. " + next + " not in the configuration>";
    }
    return config.substr(at, end - at);
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

    std::string_view in = data;
    std::string a;
    while (!in.empty()) {
        char tag = in.front();
        in.remove_prefix(1);
        if (!take(in, &a)) {
            r.rig_error = "the namespace side's report was cut short";
            break;
        }
        switch (tag) {
            case 'N':
                r.no_namespace = a;
                break;
            case 'X':
                r.rig_error += (r.rig_error.empty() ? "" : "; ") + a;
                break;
            case 'S':
                r.statuses.push_back(std::atoi(a.c_str()));
                break;
            case 'F': {
                std::string kind;  // "1" directory, "2" symbolic link, "0" anything else
                std::string mode;
                std::string content;
                if (!take(in, &kind) || !take(in, &mode) || !take(in, &content)) {
                    r.rig_error = "the namespace side's report was cut short";
                    in = {};
                    break;
                }
                r.files[a] = FileEntry{kind == "1", kind == "2",
                                       static_cast<mode_t>(std::strtoul(mode.c_str(), nullptr, 10)),
                                       std::move(content)};
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
            case 'O':
                r.stdout_text = a;
                break;
            case 'K':
                r.check_status = std::atoi(a.c_str());
                break;
            case 'J':
                r.check_json = a;
                break;
            case 'L':
                r.log_added = a;
                break;
            case 'E':
                r.stderr_text = a;
                break;
            default:
                break;
        }
    }
    if (r.no_namespace.empty() && r.rig_error.empty() &&
        (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        r.rig_error = "the namespace side ended with wait status " + std::to_string(status);
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
