// What a CI job relies on: one stream, in order, a file that cannot be read
// as a finding that nothing hides, a wrong folder as a failure, and the
// smaller promises of the command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "check_cli.h"

namespace quorbix {
namespace {

using test::CliRun;
using test::command_of;
using test::run_check;

#define QUORBIX_BROKER "QUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\nQUORBIX_CLIENT_ID=c\n"
const char kSound[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\n" QUORBIX_BROKER;
const char kWarned[] = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_QOS=3\n" QUORBIX_BROKER;
const char kBroken[] = "QUORBIX_ENABLE=1\n" QUORBIX_BROKER;

// Runs check_main with args and both standard streams on one file, as a CI
// job's `2>&1` has them; what that file holds, and the exit status.
CliRun run_merged(std::vector<std::string> args) {
    const test::TempDir dir;
    const int in = ::open("/dev/null", O_RDONLY);
    const int both = ::open(dir.path("both").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
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
        const test::Redirect r0(0, in);
        const test::Redirect r1(1, both);
        const test::Redirect r2(2, both);
        r.status = check_main(static_cast<int>(args.size()), argv.data());
        std::fflush(stdout);
        std::fflush(stderr);
    }
    r.out = dir.read("both");
    ::close(in);
    ::close(both);
    return r;
}

// A fleet of three files in sorted order, the middle one missing.
struct FleetWithAHole {
    test::TempDir dir;
    std::string a = dir.write("a", kWarned);
    std::string b = dir.path("b");  // never written
    std::string c = dir.write("c", kBroken);
};

// The unreadable file's line comes whole, between the first file's report
// and the last's, on the one stream, in every format that has lines.
TEST(CheckCi, AnUnreadableFileIsAFindingInOrderOnOneStream) {
    const FleetWithAHole fleet;
    const std::string hole =
        fleet.b +
        ":1:1: error: cannot read: No such file or directory; the launcher would take it as no "
        "settings file [unreadable]\n";
    struct Row {
        const char* format;
        std::string before;  // a line of the first file's report
        std::string after;   // a line of the last file's report
    };
    const Row rows[] = {
        {"--format=human", fleet.a + ": outcome: the launcher starts", fleet.c + ": outcome:"},
        {"--format=gcc", fleet.a + ":3:", fleet.c + ":1:1: error: QUORBIX_CSV is not set"},
        {"--quiet", fleet.a + ":3:", fleet.c + ": error: QUORBIX_CSV is not set"},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> args = {row.format, fleet.a, fleet.b, fleet.c};
        SCOPED_TRACE(command_of(args));
        const CliRun r = run_merged(args);
        EXPECT_EQ(r.status, 2);
        const std::size_t before = r.out.find(row.before);
        const std::size_t at = r.out.find("\n" + hole);
        const std::size_t after = r.out.find(row.after);
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_LT(before, at) << r.out;
        EXPECT_GT(after, at) << r.out;
        EXPECT_NE(after, std::string::npos) << r.out;
    }
}

// In the documents the missing file is the second file's, and the only,
// finding of code `unreadable`; nothing is said on standard error.
TEST(CheckCi, AnUnreadableFileIsAFindingInTheDocuments) {
    const FleetWithAHole fleet;
    const CliRun json = run_merged({"--json", fleet.a, fleet.b, fleet.c});
    EXPECT_EQ(json.status, 2);
    const nlohmann::json doc = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << json.out;
    ASSERT_EQ(doc["files"].size(), 3U);
    const nlohmann::json& hole = doc["files"][1];
    EXPECT_EQ(hole["error"],
              "cannot read: No such file or directory; the launcher would take it as no "
              "settings file");
    ASSERT_TRUE(hole.contains("findings")) << hole.dump();
    ASSERT_EQ(hole["findings"].size(), 1U);
    EXPECT_EQ(hole["findings"][0]["code"], "unreadable");
    EXPECT_EQ(hole["findings"][0]["severity"], "error");
    EXPECT_EQ(hole["findings"][0]["line"], 1);
    EXPECT_EQ(hole["findings"][0]["column"], 1);
    EXPECT_EQ(doc["summary"]["unreadable"], 1);

    const CliRun sarif = run_merged({"--format=sarif", fleet.a, fleet.b, fleet.c});
    EXPECT_EQ(sarif.status, 2);
    const nlohmann::json log = nlohmann::json::parse(sarif.out, nullptr, false);
    ASSERT_FALSE(log.is_discarded()) << sarif.out;
    std::vector<std::string> uris;  // of the results, in order
    for (const nlohmann::json& result : log["runs"][0]["results"]) {
        const nlohmann::json& where = result["locations"][0]["physicalLocation"];
        uris.push_back(where["artifactLocation"]["uri"]);
        ASSERT_TRUE(where.contains("region")) << result.dump();
        EXPECT_GE(where["region"]["startLine"], 1) << result.dump();
        if (result["ruleId"] == "unreadable") {
            EXPECT_EQ(result["level"], "error");
            EXPECT_EQ(uris.back(), fleet.b);
        }
    }
    const auto first_b = std::find(uris.begin(), uris.end(), fleet.b);
    ASSERT_NE(first_b, uris.end());
    EXPECT_EQ(std::count(uris.begin(), uris.end(), fleet.b), 1);
    EXPECT_EQ(std::find(first_b, uris.end(), fleet.a), uris.end());
    EXPECT_NE(std::find(first_b, uris.end(), fleet.c), uris.end());
    EXPECT_EQ(log["runs"][0]["invocations"][0]["exitCode"], 2);
    EXPECT_EQ(log["runs"][0]["invocations"][0]["executionSuccessful"], false);
}

// No filter hides a file that cannot be read, and the status stays 2.
TEST(CheckCi, NothingHidesAnUnreadableFile) {
    const FleetWithAHole fleet;
    const std::vector<std::string> filters[] = {
        {"--ignore=unreadable"},
        {"--select=unknown-key"},
        {"--ignore=unreadable", "--select=unreadable"},
        {"--quiet", "--select=no-csv"},
    };
    for (const std::vector<std::string>& filter : filters) {
        for (const char* format : {"--format=gcc", "--format=human"}) {
            std::vector<std::string> args = filter;
            args.insert(args.end(), {format, fleet.a, fleet.b, fleet.c});
            const CliRun r = run_check(args);
            EXPECT_EQ(r.status, 2) << command_of(args);
            EXPECT_NE(r.out.find(fleet.b + ":1:1: error: cannot read: "), std::string::npos)
                << command_of(args) << "\n"
                << r.out;
        }
    }
}

// A folder with no regular file under it is a wrong path, not a clean fleet.
TEST(CheckCi, AFolderWithoutAFileFails) {
    const test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.path("empty").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.path("nested").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.path("nested/deeper").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.path("odd\033[2J").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.path("nowhere").c_str(), dir.path("nested/link").c_str()), 0);
    const std::string sound = dir.write("sound", kSound);
    struct Row {
        std::vector<std::string> args;
        std::string err;  // standard error, whole
    };
    const Row rows[] = {
        {{dir.path("empty")}, "quorbix-check: no settings file under " + dir.path("empty") + "\n"},
        {{"--format=json", dir.path("nested")},
         "quorbix-check: no settings file under " + dir.path("nested") + "\n"},
        {{sound, dir.path("odd\033[2J")},
         "quorbix-check: no settings file under " + dir.path("odd<1b>[2J") + "\n"},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        EXPECT_EQ(r.status, 2) << command_of(row.args);
        EXPECT_EQ(r.err, row.err) << command_of(row.args);
        EXPECT_EQ(r.out, "") << command_of(row.args);
    }
}

// The smaller promises of the command line.
TEST(CheckCi, SmallerPromisesOfTheCommandLine) {
    const test::TempDir dir;
    const std::string sound = dir.write("sound", kSound);
    const std::string warned = dir.write("warned", kWarned);
    const std::string totals = "2 files: 2 start, 0 refused, 0 disabled, 0 unreadable;";
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out;  // must be on standard output ("" for nothing at all)
        std::string err;  // must be on standard error ("" for nothing at all)
    };
    const Row rows[] = {
        {{"--statistics", sound, warned}, 0, totals, ""},
        {{"-q", "--statistics", sound, warned}, 0, totals, ""},
        {{"--statistics", "-q", sound, warned}, 0, "1  qos-range", ""},
        // --color alone takes no value: the file after it is checked.
        {{"--color", warned}, 0, "\033[", ""},
        {{"--color=never", warned}, 0, "warning: MQTT QoS 3", ""},
        {{"--format=gcc", "--diff", sound},
         2,
         "",
         "quorbix-check: --diff takes standard output alone: not with --format=gcc\n"},
        {{"--format=sarif", "--diff", sound}, 2, "", "not with --format=sarif\n"},
        {{"--json", "--diff", sound}, 2, "", "not with --format=json\n"},
        {{"--diff", "--record", sound}, 2, "", "not with --config or --record\n"},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        const std::string cmd = command_of(row.args);
        EXPECT_EQ(r.status, row.status) << cmd << "\n" << r.out << r.err;
        if (row.out.empty()) {
            EXPECT_EQ(r.out, "") << cmd;
        } else {
            EXPECT_NE(r.out.find(row.out), std::string::npos) << cmd << "\n" << r.out;
        }
        if (row.err.empty()) {
            EXPECT_EQ(r.err, "") << cmd;
        } else {
            EXPECT_NE(r.err.find(row.err), std::string::npos) << cmd << "\n" << r.err;
        }
    }
    // Without --statistics, --quiet leaves the totals out.
    EXPECT_EQ(run_check({"-q", sound, warned}).out.find(totals), std::string::npos);
}

// -j 2 reports a varied fleet byte for byte as -j 1 does, in every format
// and with the options that add to a report: files that start, refuse and
// stay disabled, with findings and without, fixes, an unreadable file and
// one too large to check, and enough files that the threads overtake each
// other.
TEST(CheckCi, TwoJobsReportAsOneDoes) {
#ifdef QUORBIX_TEST_ONE_JOB
    GTEST_SKIP() << "threads are compared on the build machine, not under the emulator";
#endif
    const test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.path("fleet").c_str(), 0700), 0);
    const char* const kinds[] = {kSound, kWarned, kBroken, "QUORBIX_ENABLE=0\n",
                                 "\xef\xbb\xbfQUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR = h\n"};
    for (int i = 0; i < 60; ++i) {
        // Files of different sizes, so that they take different times.
        std::string bytes = kinds[i % 5];
        bytes += std::string(static_cast<std::size_t>(i % 7) * 700, '#') + "\n";
        dir.write("fleet/" + std::to_string(100 + i), bytes);
    }
    const std::string huge = dir.write("fleet/150-huge", "");
    ASSERT_EQ(::truncate(huge.c_str(), (off_t{512} << 20) + 1), 0);
    const std::string data = QUORBIX_TEST_DATA_DIR "/check/";
    const std::vector<std::string> files = {dir.path("fleet"), data + "fleet",
                                            data + "mistakes.settings", dir.path("missing"),
                                            data + "fixable.settings"};
    const std::vector<std::string> options[] = {
        {"--format=human"},
        {"--format=human", "--statistics", "--record"},
        {"--format=gcc", "--statistics"},
        {"--format=json", "--config", "--statistics"},
        {"--format=sarif"},
        {"--diff"},
        {"-q", "--strict"},
    };
    for (const std::vector<std::string>& option : options) {
        std::vector<std::string> one = {"--at", "2026-12-01", "-j", "1"};
        one.insert(one.end(), option.begin(), option.end());
        one.insert(one.end(), files.begin(), files.end());
        std::vector<std::string> two = one;
        two[3] = "2";
        const CliRun a = run_check(one);
        const CliRun b = run_check(two);
        EXPECT_EQ(a.status, 2) << command_of(one);
        EXPECT_EQ(b.status, a.status) << command_of(two);
        EXPECT_TRUE(a.out == b.out) << command_of(two);
        EXPECT_TRUE(a.err == b.err) << command_of(two);
        EXPECT_GT(a.out.size() + a.err.size(), 10000U) << command_of(one);
    }
}

// With --diff the notes on standard error are whole lines among the
// findings there, the diff alone on standard output.
TEST(CheckCi, DiffNotesAreWholeLines) {
    const test::TempDir dir;
    const std::string fixable = dir.write("fixable", "QUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR = h\n");
    const std::string odd = dir.write("odd\nname", "QUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR = h\n");
    const CliRun r = run_check({"--diff", fixable, odd});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("+++ " + fixable), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("name"), std::string::npos) << r.out;
    const std::string note = "\nquorbix-check: " + dir.path("odd<0a>name") + ": no diff: ";
    const std::size_t at = r.err.find(note);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_LT(r.err.find(fixable + ":2:"), at) << r.err;
    EXPECT_GT(r.err.find(dir.path("odd<0a>name") + ":2:"), at) << r.err;
}

}  // namespace
}  // namespace quorbix
