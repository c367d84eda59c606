#include "check_run.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

#include "broker_io.h"

#ifndef QUORBIX_CHECK_PATH
#error "QUORBIX_CHECK_PATH must name the checker binary under test"
#endif

extern char** environ;

namespace quorbix::e2e {

namespace {

constexpr char kCheckBinary[] = "/opt/e2e/quorbix-check";
constexpr char kLibraryDir[] = "/opt/e2e/lib";
constexpr char kTokenTool[] = "/opt/quorbix/bin/create-sas";
constexpr char kOut[] = "/tmp/check/out";
constexpr char kErr[] = "/tmp/check/err";
constexpr int kRunSeconds = 120;

std::int64_t now_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Writes a file with mode, making its folder; false when it cannot.
bool put(const std::string& path, const std::string& bytes, mode_t mode) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        if (::mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return write_path(path, bytes) && ::chmod(path.c_str(), mode) == 0;
}

// The checker's environment: a search path, a home and a TMPDIR for a
// wrapper that keeps files of its own, and what the sanitizers and the
// emulator are told.
std::vector<std::string> check_environment() {
    std::vector<std::string> env = {"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
                                    "HOME=/opt/e2e", "TMPDIR=/tmp"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view var = *e;
        const std::string_view name = var.substr(0, var.find('='));
        const bool sanitizer = name.size() > 11 && name.substr(name.size() - 11) == "SAN_OPTIONS";
        if (sanitizer || name.substr(0, 5) == "QEMU_") {
            env.emplace_back(var);
        }
    }
    return env;
}

}  // namespace

CheckBinary read_check_binary() {
    CheckBinary b;
    const char* check = std::getenv("QUORBIX_E2E_CHECK");
    const std::string path = check != nullptr && *check != '\0' ? check : QUORBIX_CHECK_PATH;
    b.bytes = read_path(path);
    if (b.bytes.empty()) {
        b.error = "cannot read the checker " + path;
        return b;
    }
    const char* libraries = std::getenv("QUORBIX_E2E_LIBRARIES");
    std::stringstream list(libraries != nullptr ? libraries : "");
    for (std::string lib; std::getline(list, lib, ':');) {
        if (lib.empty()) {
            continue;
        }
        std::string bytes = read_path(lib);
        if (bytes.empty()) {
            b.error = "cannot read the library " + lib;
            return b;
        }
        b.libraries.emplace_back(lib.substr(lib.rfind('/') + 1), std::move(bytes));
    }
    const char* wrapper = std::getenv("QUORBIX_E2E_WRAPPER");
    std::stringstream words(wrapper != nullptr ? wrapper : "");
    for (std::string word; words >> word;) {
        b.wrapper.push_back(word);
    }
    return b;
}

std::string install_check(const CheckBinary& binary, const std::string& settings,
                          const std::string& token_line) {
    if (::mount("tmpfs", "/opt", "tmpfs", 0, "mode=755") != 0) {
        return errno_reason("mounting a tmpfs over /opt");
    }
    bool ok = put(kCheckBinary, binary.bytes, 0755) && put(kCheckSettings, settings, 0644) &&
              put(kTokenTool,
                  "#!/bin/sh\necho \"$@\" > " + std::string(kTokenToolArgs) + "\nprintf '%s\\n' '" +
                      token_line + "'\n",
                  0755);
    for (const auto& [name, bytes] : binary.libraries) {
        ok = ok && put(std::string(kLibraryDir) + "/" + name, bytes, 0755);
    }
    return ok ? std::string() : errno_reason("installing the checker in the namespace");
}

CheckOutput run_check_binary(const CheckBinary& binary, const std::vector<std::string>& prefix,
                             const std::vector<std::string>& args) {
    std::vector<std::string> words = prefix;
    words.insert(words.end(), binary.wrapper.begin(), binary.wrapper.end());
    words.emplace_back(kCheckBinary);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> env = check_environment();
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    CheckOutput o;
    const std::int64_t start = now_ms();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int out = ::open(kOut, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(kErr, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvpe(argv[0], argv.data(), envp.data());
        std::_Exit(127);
    }
    if (pid < 0) {
        o.err = errno_reason("fork");
        return o;
    }
    ::setpgid(pid, pid);
    for (int status = 0;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (now_ms() - start > kRunSeconds * 1000) {
            ::killpg(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        nap_ms(5);
    }
    o.milliseconds = static_cast<long>(now_ms() - start);
    o.out = read_path(kOut);
    o.err = read_path(kErr);
    o.token_args = read_path(kTokenToolArgs);
    o.trace = read_path(kTraceFile);
    return o;
}

std::string encode_outputs(const std::vector<CheckOutput>& outputs) {
    nlohmann::json list = nlohmann::json::array();
    for (const CheckOutput& o : outputs) {
        list.push_back({{"status", o.status},
                        {"milliseconds", o.milliseconds},
                        {"out", o.out},
                        {"err", o.err},
                        {"token_args", o.token_args},
                        {"trace", o.trace}});
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<CheckOutput> decode_outputs(const std::string& text) {
    std::vector<CheckOutput> outputs;
    const nlohmann::json list = nlohmann::json::parse(text, nullptr, false);
    if (!list.is_array()) {
        CheckOutput o;
        o.err = "the namespace side said: " + text;
        return {o};
    }
    for (const nlohmann::json& j : list) {
        CheckOutput o;
        o.status = j.value("status", -1);
        o.milliseconds = j.value("milliseconds", 0L);
        o.out = j.value("out", "");
        o.err = j.value("err", "");
        o.token_args = j.value("token_args", "");
        o.trace = j.value("trace", "");
        outputs.push_back(std::move(o));
    }
    return outputs;
}

bool check_in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

}  // namespace quorbix::e2e
