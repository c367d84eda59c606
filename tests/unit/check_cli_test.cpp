// The checker's command line, run in this process with its standard streams
// redirected: exit statuses, where each output goes, folders, the options of
// fleet use, and colour only when asked or on a terminal that takes it.
#include "check_cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "golden.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::CliRun;
using test::command_of;
using test::run_check;

// Expects the run's status, and standard error to hold `err` (nothing at
// all for "").
void expect_status_and_err(const CliRun& r, const std::string& cmd, int status, const char* err) {
    EXPECT_EQ(r.status, status) << cmd << "\n" << r.out << r.err;
    if (*err == '\0') {
        EXPECT_EQ(r.err, "") << cmd;
    } else {
        EXPECT_NE(r.err.find(err), std::string::npos) << cmd << "\n" << r.err;
    }
}

// A broker and a client id, without which an enabled gateway is warned about.
#define QUORBIX_BROKER "QUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\nQUORBIX_CLIENT_ID=c\n"
const char kSound[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\n" QUORBIX_BROKER;
const char kWarned[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_QOS=3\n" QUORBIX_BROKER;
const char kBroken[] = "QUORBIX_ENABLE=1\n" QUORBIX_BROKER;

TEST(CheckCli, ExitStatusesAndStreams) {
    test::TempDir dir;
    const std::string sound = dir.write("sound", kSound);
    const std::string warned = dir.write("warned", kWarned);
    const std::string broken = dir.write("broken", kBroken);
    const std::string missing = dir.path("missing");
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* in_out;  // must appear on standard output
        const char* in_err;  // must appear on standard error ("" for nothing at all)
    };
    const Row rows[] = {
        {{sound}, 0, "outcome: the launcher starts the daemon", ""},
        {{warned}, 0, "warning: MQTT QoS 3", ""},
        {{"--strict", warned}, 1, "error: MQTT QoS 3", ""},
        {{broken}, 1, "refuses to start: exit 255", ""},
        {{sound, missing}, 2, "missing:1:1: error: cannot read: No such file or directory", ""},
        {{"--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--at", "yesterday", sound}, 2, "", "--at takes"},
        // A 32-bit time_t ends in 2038: a later time is refused, never wrapped.
        {{"--at", "2040-01-01", sound},
         sizeof(std::time_t) < 8 ? 2 : 0,
         sizeof(std::time_t) < 8 ? "" : "outcome:",
         sizeof(std::time_t) < 8 ? "--at takes" : ""},
        {{"--at", "2027-02-30", sound}, 2, "", "--at takes"},
        {{"--at", "2028-02-29", sound}, 0, "outcome:", ""},
        {{"-", "-"}, 2, "", "standard input can be read only once"},
        {{"--diff", "--json", sound}, 2, "", "--diff takes standard output alone"},
        {{"--token"}, 2, "", "needs a value"},
        {{"--version"}, 0, "quorbix-check 1.0.0\n", ""},
        {{"--help"}, 0, "usage: quorbix-check", ""},
        {{"--config", sound}, 0, "[CFG_INFO]\n", "outcome: the launcher starts"},
        {{"--config", broken}, 1, "", "stops before it writes a configuration"},
        {{"--record", sound}, 0, "QUORBIX_CSV", "outcome:"},
        {{"--json", sound, missing}, 2, "\"exit_status\": 2", ""},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        const std::string cmd = command_of(row.args);
        EXPECT_NE(r.out.find(row.in_out), std::string::npos) << cmd << "\n" << r.out;
        expect_status_and_err(r, cmd, row.status, row.in_err);
    }
}

TEST(CheckCli, FoldersAndTheOptionsOfFleetUse) {
    test::TempDir dir;
    dir.write("elsewhere", kBroken);
    ASSERT_EQ(::mkdir(dir.path("fleet").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.path("fleet/b").c_str(), 0755), 0);
    const std::string sound = dir.write("fleet/a", kSound);
    const std::string warned = dir.write("fleet/b/settings", kWarned);
    const std::string broken = dir.write("fleet/c", kBroken);
    // Neither a link nor a FIFO under a folder is read.
    ASSERT_EQ(::symlink(dir.path("elsewhere").c_str(), dir.path("fleet/d").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.path("fleet/e").c_str(), 0644), 0);
    const std::string fleet = dir.path("fleet");
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* out;      // must appear on standard output ("" for nothing at all)
        const char* not_out;  // must not appear there
        const char* err;      // must appear on standard error ("" for nothing at all)
    };
    const Row rows[] = {
        // Sorted by path, the link and the FIFO passed over, and totals at the end.
        {{fleet}, 1, "/fleet/a: outcome", "/fleet/d", ""},
        {{fleet + "/"},
         1,
         "3 files: 2 start, 1 refused, 0 disabled, 0 unreadable; 1 error",
         "/fleet/e",
         ""},
        {{"--format=gcc", fleet},
         1,
         "/fleet/b/settings:3:18: warning: MQTT QoS 3 is none of 0, 1 and 2 [qos-range]\n",
         "outcome: the launcher starts",
         ""},
        // Quiet: nothing for a clean file, and no totals.
        {{"-q", sound}, 0, "", "", ""},
        {{"--quiet", fleet}, 1, "refuses to start", "files:", ""},
        {{"--statistics", fleet}, 1, "      1  no-csv ", "", ""},
        {{"--format=gcc", "--statistics", fleet},
         1,
         "[no-csv]",
         "      1  no-csv ",
         "      1  no-csv "},
        // An ignored code is neither shown nor counted; the outcome stays what it is.
        {{"--ignore=no-csv", broken}, 0, "refuses to start", "[no-csv]", ""},
        {{"--ignore", "qos-range,no-csv", fleet}, 0, "0 errors, 0 warnings", "[qos-range]", ""},
        {{"--strict", "--select=qos-range", fleet}, 1, "error: MQTT QoS 3", "[no-csv]", ""},
        {{"--select=qos-range", "--ignore=qos-range", warned},
         0,
         "0 errors, 0 warnings",
         "[qos",
         ""},
        {{"--ignore=no-such-code", sound}, 2, "", "", "unknown code 'no-such-code' in --ignore"},
        {{"--select=qos-range,", sound}, 2, "", "", "unknown code '' in --select"},
        {{"--format=xml", sound}, 2, "", "", "--format takes human, gcc, json, sarif, not 'xml'"},
        {{"--color=sometimes", sound}, 2, "", "", "--color takes auto, always, never"},
        {{"--token-file", dir.path("none"), sound}, 2, "", "", "cannot read the token file"},
        {{"--format=gcc", "--config", sound}, 2, "", "", "--config and --record go with"},
        {{"--format=sarif", fleet}, 1, "\"ruleId\": \"qos-range\"", "", ""},
        {{"--json", "--statistics", fleet}, 1, "\"codes\": {", "", ""},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        const std::string cmd = command_of(row.args);
        expect_status_and_err(r, cmd, row.status, row.err);
        if (*row.out == '\0') {
            EXPECT_EQ(r.out, "") << cmd;
        } else {
            EXPECT_NE(r.out.find(row.out), std::string::npos) << cmd << "\n" << r.out;
        }
        if (*row.not_out != '\0') {
            EXPECT_EQ(r.out.find(row.not_out), std::string::npos) << cmd << "\n" << r.out;
        }
    }
}

// --connect and its options. No row reaches the network: each either is a
// usage error, said before any file is read, or has a file with which no
// attempt can be made (the real attempts are the end-to-end table's).
TEST(CheckCli, TheConnectOptions) {
    test::TempDir dir;
    const std::string sound = dir.write("sound", kSound);
    const std::string broken = dir.write("broken", kBroken);
    // QUORBIX_MQTT_PORT and QUORBIX_MQTT_TLS come before the lines of kSound, whose port 1883
    // is not read then (a duplicate-key error): no attempt can be made with either file.
    const std::string port = dir.write("port", std::string("QUORBIX_MQTT_PORT=70000\n") + kSound);
    const std::string mode3 = dir.write("mode3", std::string("QUORBIX_MQTT_TLS=3\n") + kSound);
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* out;      // must appear on standard output ("" for nothing at all)
        const char* not_out;  // must not appear there
        const char* err;      // must appear on standard error ("" for nothing at all)
    };
    const Row rows[] = {
        {{"--connect", sound, broken}, 2, "", "", "--connect would try 2 files"},
        {{"--connect", dir.path("")}, 2, "", "", "would try 4 files, and the broker disconnects"},
        {{"--connect", "--connect-timeout=0", port},
         2,
         "",
         "",
         "--connect-timeout takes whole "
         "seconds from 1 to 3600, not '0'"},
        {{"--connect", "--connect-timeout=3601", port}, 2, "", "", "not '3601'"},
        {{"--connect", "--connect-timeout", "5s", port}, 2, "", "", "not '5s'"},
        {{"--connect", "--connect-timeout=99999999999", port}, 2, "", "", "not '99999999999'"},
        {{"--connect-timeout=5", port}, 2, "", "", "go with --connect"},
        {{"--connect-fleet", port, sound}, 2, "", "", "go with --connect"},
        {{"--run-token-tool", port}, 2, "", "", "go with --connect"},
        {{"--connect", "--run-token-tool", "--token", "t", port}, 2, "", "", "each give the token"},
        // Nothing touches the network without --connect.
        {{"--json", sound}, 0, "\"action\": \"start\"", "\"connection", ""},
        {{"--connect", "--connect-timeout=1", "--json", port},
         1,
         "\"result\": \"not-tried\"",
         "since they use this machine's clock",
         ""},
        {{"--connect", "--at", "2027-01-01", "--json", port},
         1,
         "\"connection_caveat\": \"connections are tried from this machine: they reflect its "
         "network, name service, clock and trust store, not the device's; --at does not change "
         "them, since they use this machine's clock\"",
         "",
         ""},
        {{"--connect", port},
         1,
         "note: no connection was tried: MQTT port 70000 is outside 1 to 65535 [connect-not-tried]",
         "Connections are",
         ""},
        {{"--connect", "--connect-fleet", "--format=gcc", broken, mode3},
         1,
         ":1:1: note: no connection was tried: TLS mode 3 is not 0, 1 or 2, and what the daemon "
         "makes of it is not known [connect-not-tried]\n",
         "",
         ""},
        {{"--connect", "--connect-client-id=x", "--ignore=connect-not-tried", "--json", broken},
         1,
         "\"stage\": \"dns\"",
         "connect-not-tried",
         ""},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        const std::string cmd = command_of(row.args);
        expect_status_and_err(r, cmd, row.status, row.err);
        if (*row.out == '\0') {
            EXPECT_EQ(r.out, "") << cmd;
        } else {
            EXPECT_NE(r.out.find(row.out), std::string::npos) << cmd << "\n" << r.out;
        }
        if (*row.not_out != '\0') {
            EXPECT_EQ(r.out.find(row.not_out), std::string::npos) << cmd << "\n" << r.out;
        }
    }
}

// Each format over the fleet folder, named as a CI job would name it.
TEST(CheckCli, FleetReportsMatchTheGoldenFiles) {
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(QUORBIX_TEST_DATA_DIR "/check"), 0);
    const std::pair<const char*, const char*> formats[] = {
        {"check/fleet.report", "--statistics"},
        {"check/fleet.gcc", "--format=gcc"},
        {"check/fleet.json", "--format=json"},
        {"check/fleet.sarif", "--format=sarif"},
    };
    for (const auto& [golden, option] : formats) {
        const CliRun r = run_check({option, "--at", "2026-12-01", "fleet"});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.err, "") << option;
        test::expect_golden(golden, r.out);
    }
    ASSERT_EQ(::chdir(saved), 0);
}

TEST(CheckCli, StandardInputAndTheTokensLine) {
    test::TempDir dir;
    const std::string token_file = dir.write("token", "sas-1\nsecond line\n");
    const std::string settings =
        std::string(kSound) + "QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=key\n";
    for (const std::vector<std::string>& token :
         {std::vector<std::string>{"--token", "sas-1\nsecond line\n"},
          std::vector<std::string>{"--token-file", token_file}}) {
        std::vector<std::string> args = {"--config"};
        args.insert(args.end(), token.begin(), token.end());
        args.push_back("-");
        const CliRun r = run_check(args, settings);
        EXPECT_EQ(r.status, 0) << r.err;
        // The first line of the tool's output, its line feed kept, as the launcher reads it.
        EXPECT_NE(r.out.find("\nmqtt_password=sas-1\n\nmqtt_ssltls=0\n"), std::string::npos)
            << token[0] << "\n"
            << r.out;
        EXPECT_NE(r.err.find("<stdin>:"), std::string::npos) << r.err;
    }
}

// A named pipe, as a shell's <(...) gives, is read like standard input,
// even when its writer comes after the checker opened it.
TEST(CheckCli, APipeIsReadLikeStandardInput) {
    test::TempDir dir;
    const std::string fifo = dir.path("fifo");
    const std::string source = dir.write("settings", kSound);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The writer comes a moment after the checker has opened the pipe, and
    // gives up after a while if it never does. A shell in the background,
    // not a thread or a fork: those crash under some emulators of the cross
    // builds.
    const std::string writer =
        "(sleep 0.1; timeout 10 sh -c \"cat '" + source + "' > '" + fifo + "'\") >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(writer.c_str()), 0);
    const CliRun r = run_check({fifo});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("starts the daemon"), std::string::npos) << r.out;
}

// Sets an environment variable (or unsets it, for null) until destroyed.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* saved = std::getenv(name);
        had_ = saved != nullptr;
        saved_ = had_ ? saved : "";
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_, saved_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string saved_;
};

TEST(CheckCli, ColourWhenAskedOrOnATerminalThatTakesIt) {
    test::TempDir dir;
    const std::string warned = dir.write("warned", kWarned);
    struct Row {
        const char* color;  // the --color option, or null for none
        const char* no_color;
        const char* term;
        bool tty;
        bool colored;
    };
    const Row rows[] = {
        {nullptr, nullptr, "xterm", true, true},
        {nullptr, nullptr, "xterm", false, false},
        {nullptr, "1", "xterm", true, false},
        {nullptr, "", "xterm", true, true},
        {nullptr, nullptr, "dumb", true, false},
        {"--color=auto", nullptr, "dumb", true, false},
        {"--color=always", "1", "dumb", false, true},
        {"--color=never", nullptr, "xterm", true, false},
    };
    for (const Row& row : rows) {
        const ScopedEnv no_color("NO_COLOR", row.no_color);
        const ScopedEnv term("TERM", row.term);
        std::vector<std::string> args = {warned};
        if (row.color != nullptr) {
            args.insert(args.begin(), row.color);
        }
        const CliRun r = run_check(args, "", row.tty);
        EXPECT_EQ(r.out.find("\033[") != std::string::npos, row.colored)
            << (row.color ? row.color : "(no option)")
            << " NO_COLOR=" << (row.no_color ? row.no_color : "(unset)") << " TERM=" << row.term
            << " tty=" << row.tty;
    }
    // Machine formats are never coloured.
    const ScopedEnv term("TERM", "xterm");
    EXPECT_EQ(run_check({"--color=always", "--format=gcc", warned}).out.find("\033["),
              std::string::npos);
}

}  // namespace
}  // namespace quorbix
