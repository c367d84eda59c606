// The launcher under hostile or unlucky surroundings, end to end: stale files
// it cannot remove, no process to be had, a daemon that is not there, no
// chmod, file-size limits, an inherited signal state, a misbehaving token
// tool and a /tmp out of inodes. Each row holds the exit status, the log,
// what the launcher said on standard error, and what was started.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsvText = "a,b\n1,2\n";
const std::string kCsv = base64(kCsvText);
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";
const std::string kStartLine = kStart + "\n";
const std::string kNoCsvLog = "Can't find CSV config file in Appcapsule\n";
const std::string kNoCaLog = "Can't find CA Certificate file in Appcapsule\n";
const std::string kMapCleanup = "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";
const std::string kSay = "quorbix-launcher: ";
const std::string kEtc = "/tmp/quorbix/etc";

// The lines the launcher itself wrote on standard error, in order; the
// shells' complaints and a wrapper's lines are left out.
std::vector<std::string> launcher_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(at, end - at);
        if (line.rfind(kSay, 0) == 0) {
            lines.push_back(line);
        }
        at = end + 1;
    }
    return lines;
}

std::string passing(std::vector<std::pair<std::string, std::string>> more = {}) {
    more.insert(more.begin(), {{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    return settings_file(more);
}

// Settings that ask the token tool for the password.
std::string with_token() {
    return passing({{"QUORBIX_MQTT_SASGEN", "1"}, {"QUORBIX_MQTT_PWD", "key"}});
}

// The commands of a run that passes every gate and is then refused before
// its start: the map cleanup in place of the start command.
std::vector<std::string> refused_before_start() {
    std::vector<std::string> commands = passing_run_commands();
    commands.back() = kMapCleanup;
    return commands;
}

std::string password_line(const RunResult& r) {
    return r.config_lines("mqtt_password", "mqtt_ssltls");
}

// The bits of a /proc/PID/status signal mask line ("SigIgn:\t0000...").
std::uint64_t mask_of(const std::string& status, const std::string& name) {
    const std::size_t at = status.find(name + ":\t");
    if (at == std::string::npos) {
        return ~std::uint64_t{0};
    }
    return std::strtoull(status.c_str() + at + name.size() + 2, nullptr, 16);
}

std::uint64_t bit(int signal) {
    return std::uint64_t{1} << (signal - 1);
}

struct Row {
    const char* name;
    std::function<void(Case&)> surround;
    int status;
    std::string log;                             // what the run appended to the log
    std::vector<std::string> said;               // the launcher's lines on standard error
    bool daemon_started;                         // and the token tool called, when asked
    std::function<void(const RunResult&)> also;  // what else the row holds
};

void check_row(const Row& row) {
    SCOPED_TRACE(row.name);
    Case c;
    c.settings = passing();
    row.surround(c);
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), row.status);
    EXPECT_EQ(r.log_added, row.log);
    EXPECT_EQ(launcher_lines(r.stderr_text), row.said) << r.stderr_text;
    EXPECT_EQ(r.daemon_calls.size(), row.daemon_started ? 1u : 0u);
    if (row.also) {
        row.also(r);
    }
}

void put_stale_csv_and_ca() {
    put_file(kEtc + "/config.csv", "stale,csv\n");
    put_file(kEtc + "/ca.crt", "stale ca");
}

TEST(Surroundings, EachConditionEndsAsItShouldAndSaysWhy) {
    const std::string read_only = "Read-only file system";
    const std::string stale_csv =
        kSay + "cannot remove stale " + kEtc + "/config.csv: " + read_only;
    const std::string stale_ca = kSay + "cannot remove stale " + kEtc + "/ca.crt: " + read_only;
    const Row rows[] = {
        {"a read-only etc holding an earlier run's CSV and CA, no CSV in the settings",
         [](Case& c) {
             c.settings = settings_file({{"QUORBIX_ENABLE", "1"}});
             c.setup = put_stale_csv_and_ca;
             c.read_only = {kEtc};
         },
         255,
         kNoCsvLog,
         {stale_csv, stale_ca},
         false,
         [](const RunResult& r) {
             EXPECT_EQ(r.commands.back(), kMapCleanup);
             EXPECT_EQ(r.file(kEtc + "/config.csv"), "stale,csv\n");
         }},
        {"a read-only etc holding an earlier run's CSV and CA, TLS 1 without a CA",
         [](Case& c) {
             c.unforeseeable = "a read-only /tmp/quorbix/etc";
             c.settings = passing({{"QUORBIX_MQTT_TLS", "1"}});
             c.setup = put_stale_csv_and_ca;
             c.read_only = {kEtc};
         },
         255,
         kNoCsvLog,
         {kSay + "cannot write " + kEtc + "/config.csv: " + read_only, stale_csv, stale_ca},
         false,
         nullptr},
        {"an earlier run's CA that cannot be removed (a mount point), TLS 1 without a CA",
         [](Case& c) {
             c.settings = passing({{"QUORBIX_MQTT_TLS", "1"}});
             c.setup = [] { put_file(kEtc + "/ca.crt", "stale ca"); };
             c.read_only = {kEtc + "/ca.crt"};
         },
         255,
         kNoCaLog,
         {kSay + "cannot remove stale " + kEtc + "/ca.crt: Device or resource busy"},
         false,
         [](const RunResult& r) {
             EXPECT_EQ(r.config_lines("mqtt_ssltls", "mb_interval"),
                       "mqtt_ssltls=1\nmqtt_cafile=\n");
         }},
        {"the daemon missing",
         [](Case& c) {
             c.unforeseeable = "a daemon missing from /opt/quorbix/bin";
             c.daemon = Case::Daemon::kMissing;
         },
         255,
         "Can't start quorbix: /opt/quorbix/bin/quorbix is missing or not executable\n",
         {kSay + "cannot start the daemon: /opt/quorbix/bin/quorbix: No such file or directory"},
         false,
         [](const RunResult& r) { EXPECT_EQ(r.commands, refused_before_start()); }},
        {"the daemon not executable",
         [](Case& c) {
             c.unforeseeable = "a daemon that is not executable";
             c.daemon = Case::Daemon::kNotExecutable;
         },
         255,
         "Can't start quorbix: /opt/quorbix/bin/quorbix is missing or not executable\n",
         {kSay + "cannot start the daemon: /opt/quorbix/bin/quorbix: Permission denied"},
         false,
         [](const RunResult& r) { EXPECT_EQ(r.commands, refused_before_start()); }},
        {"no chmod on the search path",
         [](Case& c) {
             c.settings = passing({{"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
             c.path_tools = {"mkdir", "rm"};
         },
         0,
         kStartLine,
         {},
         true,
         [](const RunResult& r) {
             EXPECT_EQ(r.mode("/tmp/quorbix/script-1.sh"), 0755u);
             EXPECT_EQ(r.commands, passing_run_commands());
         }},
        {"no chmod on the search path, umask 077",
         [](Case& c) {
             c.settings = passing({{"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
             c.path_tools = {"mkdir", "rm"};
             c.umask = 077;
         },
         0,
         kStartLine,
         {},
         true,
         [](const RunResult& r) { EXPECT_EQ(r.mode("/tmp/quorbix/script-1.sh"), 0700u); }},
        {"a file-size limit below the CSV",
         [](Case& c) {
             c.unforeseeable = "a file-size limit";
             c.settings = settings_file(
                 {{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", base64(std::string(20000, 'c'))}});
             c.rlimits = {{RLIMIT_FSIZE, 8192}};
         },
         255,
         kNoCsvLog,
         {kSay + "cannot write " + kEtc + "/config.csv: File too large"},
         false,
         [](const RunResult& r) { EXPECT_FALSE(r.has(kEtc + "/config.csv")); }},
        {"a log already over the file-size limit",
         [](Case& c) {
             c.unforeseeable = "a log over the file-size limit";
             c.setup = [] { put_file("/tmp/quorbix/quorbix.log", std::string(10000, 'l')); };
             c.rlimits = {{RLIMIT_FSIZE, 8192}};
         },
         0,
         "",
         {kSay + "cannot append to /tmp/quorbix/quorbix.log: File too large: " + kStart},
         true,
         [](const RunResult& r) {
             EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), std::string(10000, 'l'));
         }},
        {"an inherited ignored and blocked signal state",
         [](Case& c) {
             c.ignored_signals = {SIGHUP, SIGPIPE, SIGTERM};
             c.blocked_signals = {SIGTERM, SIGUSR1, SIGUSR2};
         },
         0,
         kStartLine,
         {},
         true,
         [](const RunResult& r) {
             // The shell ignores INT and QUIT in a background job of its
             // own; of what the launcher was given, only PIPE stays. Under
             // qemu-user it cannot: the emulator catches every signal that
             // is fatal by default with a handler of its own, so what an
             // emulated launcher starts never inherits one ignored.
             const std::uint64_t kept = wrapped_by("qemu") ? 0 : bit(SIGPIPE);
             const std::uint64_t ignored = mask_of(r.daemon_signals, "SigIgn");
             EXPECT_EQ(ignored & (bit(SIGHUP) | bit(SIGPIPE) | bit(SIGTERM)), kept)
                 << r.daemon_signals;
             EXPECT_EQ(mask_of(r.daemon_signals, "SigBlk"), 0u) << r.daemon_signals;
         }},
        {"a token tool that exits 3 after printing its error",
         [](Case& c) {
             c.settings = with_token();
             c.token_tool_body = "printf 'error: key vault unreachable\\n'\nexit 3\n";
         },
         0,
         kStartLine,
         {kSay + "the token tool exited with status 3"},
         true,
         [](const RunResult& r) {
             EXPECT_EQ(r.token_calls.size(), 1u);
             EXPECT_EQ(password_line(r), "mqtt_password=error: key vault unreachable\n\n");
         }},
        {"a token tool that prints CR LF",
         [](Case& c) {
             c.settings = with_token();
             c.token_tool_body = "printf 'sas-token-1\\r\\n'\n";
         },
         0,
         kStartLine,
         {kSay + "the token tool's first line holds a carriage return"},
         true,
         [](const RunResult& r) {
             EXPECT_EQ(r.token_calls.size(), 1u);
             EXPECT_EQ(password_line(r), "mqtt_password=sas-token-1\r\n\n");
         }},
        {"a settings file that cannot be opened",
         [](Case& c) {
             c.settings.reset();
             c.setup = [] {
                 if (::symlink("settings", "/opt/quorbix/etc/settings") != 0) {
                     rig_fail("linking the settings to themselves");
                 }
             };
         },
         255,
         kNoCsvLog,
         {kSay + "cannot read /opt/quorbix/etc/settings: Too many levels of symbolic links"},
         false,
         nullptr},
        {"a /tmp with inodes for the directories alone",
         [](Case& c) {
             c.unforeseeable = "a /tmp out of inodes";
             c.tmp_options = "nr_inodes=3";
         },
         255,
         "",
         {kSay + "cannot write " + kEtc + "/config.csv: No space left on device",
          kSay + "cannot append to /tmp/quorbix/quorbix.log: No space left on device: " +
              kNoCsvLog.substr(0, kNoCsvLog.size() - 1)},
         false,
         nullptr},
        {"a /tmp with inodes for all but the log",
         [](Case& c) {
             c.unforeseeable = "a /tmp out of inodes";
             c.tmp_options = "nr_inodes=5";
         },
         0,
         "",
         {kSay + "cannot append to /tmp/quorbix/quorbix.log: No space left on device: " + kStart},
         true,
         [](const RunResult& r) { EXPECT_EQ(r.file(kEtc + "/config.csv"), kCsvText); }},
    };
    for (const Row& row : rows) {
        check_row(row);
    }
}

TEST(Surroundings, NoProcessToBeHadIsARefusal) {
    if (wrapped_by("qemu")) {
        // qemu-user starts a thread of its own before the launcher runs,
        // which a pids.max of 1 forbids.
        GTEST_SKIP() << "the emulator cannot start under pids.max=1";
    }
    if (wrapped_by("valgrind")) {
        // valgrind 3.19 itself dies of SIGSEGV a little after a fork has
        // failed (the launcher of before these checks as well); this case
        // runs natively and under the sanitizers.
        GTEST_SKIP() << "valgrind crashes after a failed fork";
    }
    // Nothing can be forked: no shell, no token tool, no daemon. The run
    // still stages its files (the scripts executable without chmod) and
    // writes its configuration, then says that the start did not happen.
    check_row({"pids.max=1",
               [](Case& c) {
                   c.unforeseeable = "no process can be made";
                   c.settings =
                       with_token() +
                       settings_file({{"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
                   c.pids_max = 1;
                   // LeakSanitizer (a sanitizer build) checks at exit from a
                   // task of its own, which pids.max=1 forbids; nothing else
                   // reads this.
                   c.environment = {"LSAN_OPTIONS=detect_leaks=0"};
               },
               255,
               kStartLine + "Can't start quorbix: the shell could not be run\n",
               {kSay + "cannot start the token tool: fork: Resource temporarily unavailable",
                kSay + "cannot start the daemon: fork: Resource temporarily unavailable"},
               false,
               [](const RunResult& r) {
                   EXPECT_TRUE(r.commands.empty());
                   EXPECT_TRUE(r.token_calls.empty());
                   EXPECT_EQ(password_line(r), "mqtt_password=\n");
                   EXPECT_EQ(r.mode("/tmp/quorbix/script-1.sh"), 0755u);
               }});
}

TEST(Surroundings, ATokenToolThatNeverEndsIsKilledAtItsBound) {
    const std::string timed_out =
        kSay + "the token tool did not end within 30 seconds and was killed";
    const Row rows[] = {
        {"it prints nothing",
         [](Case& c) { c.token_tool_body = "sleep 600\n"; },
         0,
         kStartLine,
         {timed_out},
         true,
         [](const RunResult& r) { EXPECT_EQ(password_line(r), "mqtt_password=\n"); }},
        {"it prints its line, closes its output and keeps running",
         [](Case& c) { c.token_tool_body = "printf 'sas-token-1\\n'\nexec >&-\nsleep 600\n"; },
         0,
         kStartLine,
         {timed_out},
         true,
         [](const RunResult& r) { EXPECT_EQ(password_line(r), "mqtt_password=sas-token-1\n\n"); }},
    };
    for (const Row& row : rows) {
        check_row({row.name,
                   [&row](Case& c) {
                       c.settings = with_token();
                       // The bound is 30 s: the run must end well within this.
                       c.timeout_seconds = 45;
                       row.surround(c);
                   },
                   row.status, row.log, row.said, row.daemon_started,
                   [&row](const RunResult& r) {
                       EXPECT_EQ(r.token_calls.size(), 1u);
                       row.also(r);
                   }});
    }
}

}  // namespace
}  // namespace quorbix::e2e
