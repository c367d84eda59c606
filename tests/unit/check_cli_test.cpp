// The checker's command line, run in this process with its standard streams
// redirected: exit statuses, where each output goes, and colour only on a
// terminal without NO_COLOR.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "check/check.h"
#include "temp_file.h"

namespace quorbix {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Points descriptor fd at `to` until destroyed.
class Redirect {
  public:
    Redirect(int fd, int to) : fd_(fd), saved_(::dup(fd)) { ::dup2(to, fd); }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;
    ~Redirect() {
        ::dup2(saved_, fd_);
        ::close(saved_);
    }

  private:
    int fd_;
    int saved_;
};

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs check_main with args; standard input reads `input`, and standard
// output is a terminal when `tty` is set.
CliRun run_check(std::vector<std::string> args, const std::string& input = "", bool tty = false) {
    test::TempDir dir;
    const std::string in_path = dir.write("stdin", input);
    const int in = ::open(in_path.c_str(), O_RDONLY);
    const int out = ::open(dir.path("stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(dir.path("stderr").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int master = -1;
    int slave = -1;
    if (tty) {
        EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    }
    args.insert(args.begin(), "quorbix-check");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    CliRun r;
    std::fflush(stdout);
    std::fflush(stderr);
    {
        Redirect r0(0, in);
        Redirect r1(1, tty ? slave : out);
        Redirect r2(2, err);
        r.status = check_main(static_cast<int>(args.size()), argv.data());
        std::fflush(stdout);
        std::fflush(stderr);
    }
    if (tty) {
        ::close(slave);
        r.out = drain(master);  // ends with EIO once the slave is closed
        ::close(master);
    } else {
        r.out = dir.read("stdout");
    }
    r.err = dir.read("stderr");
    ::close(in);
    ::close(out);
    ::close(err);
    return r;
}

const char kSound[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\n";
const char kWarned[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_QOS=3\n";
const char kBroken[] = "QUORBIX_ENABLE=1\n";

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
        {{sound, missing}, 2, "starts the daemon", "cannot read the file"},
        {{dir.path("")}, 2, "", "not a regular file"},
        {{"--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--at", "yesterday", sound}, 2, "", "--at takes"},
        // A 32-bit time_t ends in 2038: a later time is refused, never wrapped.
        {{"--at", "2040-01-01", sound},
         sizeof(std::time_t) < 8 ? 2 : 0,
         sizeof(std::time_t) < 8 ? "" : "outcome:",
         sizeof(std::time_t) < 8 ? "--at takes" : ""},
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
        std::string cmd;
        for (const std::string& a : row.args) {
            cmd += " " + a;
        }
        EXPECT_EQ(r.status, row.status) << cmd << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(row.in_out), std::string::npos) << cmd << "\n" << r.out;
        if (*row.in_err == '\0') {
            EXPECT_EQ(r.err, "") << cmd;
        } else {
            EXPECT_NE(r.err.find(row.in_err), std::string::npos) << cmd << "\n" << r.err;
        }
    }
}

TEST(CheckCli, StandardInputAndTheTokensLine) {
    const CliRun r = run_check({"--config", "--token", "sas-1\nsecond line\n", "-"},
                               std::string(kSound) +
                                   "QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=key\n"
                                   "QUORBIX_MQTT_ADDR=h\nQUORBIX_CLIENT_ID=c\n");
    EXPECT_EQ(r.status, 0) << r.err;
    // The first line of the tool's output, its line feed kept, as the launcher reads it.
    EXPECT_NE(r.out.find("\nmqtt_password=sas-1\n\nmqtt_ssltls=0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("<stdin>:"), std::string::npos) << r.err;
}

TEST(CheckCli, ColourOnlyOnATerminalAndNeverWithNoColor) {
    test::TempDir dir;
    const std::string warned = dir.write("warned", kWarned);
    const char* saved = std::getenv("NO_COLOR");
    const std::string restore = saved != nullptr ? saved : "";
    ::unsetenv("NO_COLOR");
    EXPECT_NE(run_check({warned}, "", true).out.find("\033["), std::string::npos);
    EXPECT_EQ(run_check({warned}, "", false).out.find("\033["), std::string::npos);
    ::setenv("NO_COLOR", "1", 1);
    EXPECT_EQ(run_check({warned}, "", true).out.find("\033["), std::string::npos);
    if (saved != nullptr) {
        ::setenv("NO_COLOR", restore.c_str(), 1);
    } else {
        ::unsetenv("NO_COLOR");
    }
}

}  // namespace
}  // namespace quorbix
