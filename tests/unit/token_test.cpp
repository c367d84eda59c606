// The token tool run as the launcher runs it: the line read as fgets into
// 1024 bytes reads it, the bound in time, and each kind of trouble said.
#include "daemon_config/token.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "temp_file.h"

namespace quorbix {
namespace {

using test::TempDir;

const std::string kA1023(1023, 'a');

// A command that prints n bytes of 'a' (no line feed) with printf alone.
std::string print_as(std::size_t n) {
    return "printf '%s' '" + std::string(n, 'a') + "'";
}

struct TokenRow {
    const char* name;
    std::string command;
    std::string line;                  // the first line as read
    std::vector<std::string> trouble;  // as token_trouble says it
};

TEST(TokenRun, TheLineIsReadAsFgetsReadsItAndTroubleIsSaid) {
    const std::string timed_out = "the token tool did not end within 2 seconds and was killed";
    const std::string cut = "the token tool's first line was cut at 1023 bytes";
    const std::string cr = "the token tool's first line holds a carriage return";
    const TokenRow rows[] = {
        {"one line", "printf 'tok\\n'", "tok\n", {}},
        {"no line feed", "printf 'tok'", "tok", {}},
        {"only the first line", "printf 'one\\ntwo\\n'", "one\n", {}},
        {"nothing", "true", "", {}},
        {"output closed at once", "exec >&-", "", {}},
        {"a NUL ends the line", "printf 'ab\\000cd\\n'", "ab", {}},
        {"exit status 3 after an error",
         "printf 'error: key vault unreachable\\n'; exit 3",
         "error: key vault unreachable\n",
         {"the token tool exited with status 3"}},
        {"a missing tool",
         "/nonexistent/create-sas 2>/dev/null",
         "",
         {"the token tool exited with status 127"}},
        {"ended by a signal",
         "printf 'x\\n'; kill -TERM $$",
         "x\n",
         {"the token tool was ended by signal 15 (Terminated)"}},
        {"CR LF", "printf 'tok\\r\\n'", "tok\r\n", {cr}},
        {"1023 bytes and the end", print_as(1023), kA1023, {}},
        {"1022 bytes and a line feed, then more",
         print_as(1022) + "; printf '\\nmore\\n'",
         std::string(1022, 'a') + "\n",
         {}},
        {"1023 bytes, then the line feed", print_as(1023) + "; printf '\\n'", kA1023, {cut}},
        {"two megabytes on one line", "head -c 2000000 /dev/zero | tr '\\000' a", kA1023, {cut}},
        {"a cut line with a CR",
         "printf '\\r'; " + print_as(1500),
         "\r" + kA1023.substr(1),
         {cut, cr}},
        {"never ends, prints nothing", "sleep 60", "", {timed_out}},
        {"prints a line, then never ends", "printf 'tok\\n'; sleep 60", "tok\n", {timed_out}},
        {"prints part of a line, then never ends", "printf 'tok'; sleep 60", "", {timed_out}},
        {"prints a line, closes its output and keeps running",
         "printf 'tok\\n'; exec >&-; sleep 60",
         "tok\n",
         {timed_out}},
        {"exits, its child holding the output", "printf 'tok\\n'; sleep 60 &", "tok\n", {}},
    };
    for (const TokenRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::time_t start = std::time(nullptr);
        const TokenRun run = token_run(row.command, 2);
        EXPECT_EQ(run.line, row.line);
        EXPECT_EQ(token_trouble(run), row.trouble);
        // Killed at the bound, never waited for to the end of its sleep.
        EXPECT_LT(std::time(nullptr) - start, 30);
    }
}

// Whether the process pid is gone, or a zombie for its new parent to reap,
// within two seconds.
bool ends(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        const std::string stat = test::read_file("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && stat.compare(close, 4, ") Z ") == 0)) {
            return true;
        }
        const timespec tick{0, 10 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
    return false;
}

TEST(TokenRun, NothingTheToolStartedOutlivesIt) {
    // A child that holds the tool's output after it exits, and one that a
    // tool killed at its bound was waiting for.
    const char* const bodies[] = {"sleep 60 & echo $! > %s; printf 'tok\\n'",
                                  "sleep 60 & echo $! > %s; wait"};
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        TempDir dir;
        const std::string pid_file = dir.path("pid");
        char command[256];
        std::snprintf(command, sizeof command, body, pid_file.c_str());
        const TokenRun run = token_run(command, 2);
        const pid_t child = static_cast<pid_t>(std::atol(test::read_file(pid_file).c_str()));
        ASSERT_GT(child, 1);
        EXPECT_TRUE(ends(child)) << "the tool's child " << child << " is still running";
        EXPECT_EQ(run.line.empty(), run.timed_out_after != 0);
    }
}

TEST(TokenRequest, ACommandTooLongForTheShellIsNotRun) {
    const std::string quotes(50000, '\'');  // grows fourfold when quoted
    const TokenRun run = token_request(quotes, quotes, quotes);
    EXPECT_EQ(run.line, "");
    EXPECT_TRUE(token_trouble(run).empty());
}

TEST(TokenTrouble, AToolThatCouldNotBeStartedIsSaidWithTheCall) {
    TokenRun run;
    run.failed_call = "fork";
    run.start_error = EAGAIN;
    const std::vector<std::string> said = {
        "cannot start the token tool: fork: Resource temporarily unavailable"};
    EXPECT_EQ(token_trouble(run), said);
}

}  // namespace
}  // namespace quorbix
