// The checker's command line run in this process, its standard streams
// redirected to files (standard output to a terminal when asked), for the
// tests of what it writes where.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/cli/driver.h"
#include "temp_file.h"

namespace quorbix::test {

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

inline std::string drain(int fd) {
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
inline CliRun run_check(std::vector<std::string> args, const std::string& input = "",
                        bool tty = false) {
    test::TempDir dir;
    const std::string in_path = dir.write("stdin", input);
    const int in = ::open(in_path.c_str(), O_RDONLY);
    const int out = ::open(dir.path("stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(dir.path("stderr").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int master = -1;
    int slave = -1;
    if (tty) {
        // Raw: the terminal passes the bytes as written, line feeds too.
        termios raw{};
        ::cfmakeraw(&raw);
        EXPECT_EQ(::openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    }
#ifdef QUORBIX_TEST_ONE_JOB
    // Under the emulator of the cross builds, one file at a time: threads
    // are not what those runs test.
    args.insert(args.begin(), "--jobs=1");
#endif
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

// Joins the arguments of a row for its failure message.
inline std::string command_of(const std::vector<std::string>& args) {
    std::string cmd;
    for (const std::string& a : args) {
        cmd += " " + a;
    }
    return cmd;
}

}  // namespace quorbix::test
