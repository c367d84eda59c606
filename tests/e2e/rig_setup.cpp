// The namespace side's set-up: the namespace itself, the stand-ins, the
// files and directories a hook puts in place, and the surroundings a case
// gives the launcher (read-only paths, its search path, limits, signal state
// and a pids cgroup).
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rig.h"
#include "rig_internal.h"

namespace quorbix::e2e {

namespace {

constexpr const char kRealShell[] = "/opt/e2e/sh";
constexpr const char kShellWrapper[] = "/opt/e2e/sh-wrapper";

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

// The daemon stand-in also keeps the signal lines of its own status
// (SigBlk, SigIgn and the like) from its last start, with shell built-ins
// alone.
constexpr const char kRecordSignals[] =
    "while IFS= read -r l; do case $l in Sig*) printf '%s\\n' \"$l\";; esac; done"
    " < /proc/$$/status > ";

void write_mapping(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        static_cast<void>(write_all(fd, text));
        ::close(fd);
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

// Writes text to the file at path (a cgroup's control file); returns 0 or
// the errno of the failure.
int write_text(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const bool written = write_all(fd, text);
    const int error = written ? 0 : errno;
    return ::close(fd) != 0 && error == 0 ? errno : error;
}

// The first directory of the rig's own search path that holds an
// executable tool, joined with it; empty when none does.
std::string find_on_path(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string candidate = std::string(dirs.substr(0, colon)) + "/" + tool;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
    }
    return {};
}

}  // namespace

int g_report_fd = -1;

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
        std::string daemon = std::string("#!/opt/e2e/sh\n") + kRecordArgs + kDaemonLog + "\n" +
                             kRecordSignals + kDaemonSignals + "\n";
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

void apply_mounts_and_path(const Case& c) {
    for (const std::string& path : c.read_only) {
        if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) !=
                0) {
            fail_errno("making " + path + " read-only");
        }
    }
    if (c.path_tools.empty()) {
        return;
    }
    put_dir(kPathDir);
    for (const std::string& tool : c.path_tools) {
        const std::string target = find_on_path(tool);
        if (target.empty()) {
            rig_fail("no " + tool + " on the search path");
        }
        const std::string link = std::string(kPathDir) + "/" + tool;
        if (::symlink(target.c_str(), link.c_str()) != 0) {
            fail_errno("linking " + link);
        }
    }
}

std::string make_pids_cgroup(int pids_max, std::string* why) {
    // cgroup v1 has a hierarchy of its own for the pids controller; v2 has
    // one hierarchy (or "unified" beside v1) that must offer it.
    std::string base;
    if (::access("/sys/fs/cgroup/pids/cgroup.procs", W_OK) == 0) {
        base = "/sys/fs/cgroup/pids";
    } else {
        for (const char* v2 : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
            const std::string controllers =
                read_file((std::string(v2) + "/cgroup.controllers").c_str());
            if (controllers.find("pids") != std::string::npos) {
                base = v2;
                static_cast<void>(write_text(base + "/cgroup.subtree_control", "+pids"));
                break;
            }
        }
    }
    if (base.empty()) {
        *why = "no pids cgroup controller under /sys/fs/cgroup";
        return {};
    }
    const std::string dir = base + "/quorbix-e2e-" + std::to_string(::getpid());
    if (::mkdir(dir.c_str(), 0755) != 0) {
        *why = "making " + dir + ": " + std::strerror(errno);
        return {};
    }
    const int error = write_text(dir + "/pids.max", std::to_string(pids_max));
    if (error != 0) {
        *why = "setting " + dir + "/pids.max: " + std::strerror(error);
        ::rmdir(dir.c_str());
        return {};
    }
    return dir + "/cgroup.procs";
}

void remove_pids_cgroup(const std::string& procs) {
    const std::string dir = procs.substr(0, procs.rfind('/'));
    // A task that has just been killed leaves the cgroup a moment later.
    for (int attempt = 0; attempt < 400; ++attempt) {
        const std::string pids = read_file(procs.c_str());
        for (std::size_t at = 0; at < pids.size();) {
            const std::size_t end = pids.find('\n', at);
            const long pid = std::strtol(pids.substr(at, end - at).c_str(), nullptr, 10);
            if (pid > 1) {
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            }
            at = end == std::string::npos ? pids.size() : end + 1;
        }
        if (::rmdir(dir.c_str()) == 0 || errno == ENOENT) {
            return;
        }
        const timespec tick{0, 5 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
}

void enter_surroundings(const Case& c, const std::string& procs) {
    for (const auto& [resource, value] : c.rlimits) {
        const rlimit limit{value, value};
        if (::setrlimit(static_cast<__rlimit_resource_t>(resource), &limit) != 0) {
            fail_errno("setrlimit " + std::to_string(resource));
        }
    }
    for (int sig : c.ignored_signals) {
        ::signal(sig, SIG_IGN);
    }
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int sig : c.blocked_signals) {
        sigaddset(&blocked, sig);
    }
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    // Last: from here on this process cannot fork.
    if (!procs.empty()) {
        const int error = write_text(procs, std::to_string(::getpid()));
        if (error != 0) {
            errno = error;
            fail_errno("entering the cgroup " + procs);
        }
    }
}

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

}  // namespace quorbix::e2e
