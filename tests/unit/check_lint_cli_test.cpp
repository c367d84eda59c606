// What linter users expect of the checker's command line, as tables of runs:
// the files' own suppression lines with --show-ignored in each format, and
// the configuration file quorbix-check.conf, the lists of files and the
// report's own file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "check_cli.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::CliRun;
using test::command_of;
using test::run_check;

#define QUORBIX_SOUND                                                                   \
    "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\n" \
    "QUORBIX_CLIENT_ID=c\n"

// One run and what it must give: its status, texts that must be on standard
// output and must not be, and a text standard error must hold ("" for none).
struct CliRow {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out;
    std::vector<std::string> not_out;
    std::string err;
};

void expect_rows(const std::vector<CliRow>& rows, const std::string& input = "") {
    for (const CliRow& row : rows) {
        const CliRun r = run_check(row.args, input);
        const std::string cmd = command_of(row.args);
        EXPECT_EQ(r.status, row.status) << cmd << "\n" << r.out << r.err;
        for (const std::string& text : row.out) {
            EXPECT_NE(r.out.find(text), std::string::npos) << cmd << ": no «" << text << "» in\n"
                                                           << r.out;
        }
        for (const std::string& text : row.not_out) {
            EXPECT_EQ(r.out.find(text), std::string::npos) << cmd << ": «" << text << "» in\n"
                                                           << r.out;
        }
        if (row.err.empty()) {
            EXPECT_EQ(r.err, "") << cmd;
        } else {
            EXPECT_NE(r.err.find(row.err), std::string::npos) << cmd << "\n" << r.err;
        }
    }
}

TEST(CheckLintCli, SuppressionLinesAndShowIgnored) {
    test::TempDir dir;
    const std::string f = dir.write("s", QUORBIX_SOUND
                                    "# quorbix-check: ignore=qos-range -- the broker caps it\n"
                                    "QUORBIX_MQTT_QOS=3\n"
                                    "# quorbix-check: ignore-file=number-hex\n"
                                    "QUORBIX_MB_TIMEOUT=0x1F4\n");
    const std::string hidden_qos =
        ":7:18: ignored: MQTT QoS 3 is none of 0, 1 and 2 [qos-range] (line 6: the broker caps "
        "it)\n";
    const std::string hidden_hex =
        ":9:20: ignored: '0x1F4' is hexadecimal; numbers are read in decimal only [number-hex] "
        "(line 8)\n";
    expect_rows({
        // Hidden, not counted: the file has no finding left.
        {{f}, 0, {"s: 0 errors, 0 warnings, 0 notes"}, {"qos-range", "number-hex"}, ""},
        {{"--show-ignored", f},
         0,
         {f + hidden_qos, f + hidden_hex, "0 errors, 0 warnings"},
         {},
         ""},
        {{"--show-ignored", "--format=gcc", f},
         0,
         {f + hidden_qos, f + hidden_hex},
         {"warning"},
         ""},
        {{"--show-ignored", "--json", f},
         0,
         {"\"ignored\": [", "\"by_line\": 6", "\"reason\": \"the broker caps it\"",
          "\"reason\": null", "\"findings\": []", "\"schema_version\": 2"},
         {},
         ""},
        {{"--json", f}, 0, {"\"findings\": []"}, {"\"ignored\""}, ""},
        {{"--show-ignored", "--format=sarif", f},
         0,
         {"\"suppressions\": [", "\"kind\": \"inSource\"",
          "\"justification\": \"the broker caps it\""},
         {},
         ""},
        // --ignore drops a code before any line of the file hides it.
        {{"--show-ignored", "--ignore=qos-range", f}, 0, {f + hidden_hex}, {"qos-range]"}, ""},
    });
}

// Runs in `dir` until destroyed: the configuration of a run's format and
// strictness is the working directory's.
class InDir {
  public:
    explicit InDir(const std::string& dir) : saved_(::getcwd(nullptr, 0)) {
        EXPECT_EQ(::chdir(dir.c_str()), 0) << dir;
    }
    InDir(const InDir&) = delete;
    InDir& operator=(const InDir&) = delete;
    ~InDir() {
        EXPECT_EQ(::chdir(saved_), 0);
        std::free(saved_);  // NOLINT(cppcoreguidelines-no-malloc): getcwd's buffer
    }

  private:
    char* saved_;
};

#define QUORBIX_QOS_AND_HEX QUORBIX_SOUND "QUORBIX_MQTT_QOS=3\nQUORBIX_MB_TIMEOUT=0x1F4\n"

TEST(CheckLintCli, TheConfigurationFileOfEachFolder) {
    test::TempDir dir;
    for (const char* folder : {"site", "site/a", "site/b", "other"}) {
        ASSERT_EQ(::mkdir(dir.path(folder).c_str(), 0755), 0);
    }
    const std::string a = dir.write("site/a/settings", QUORBIX_QOS_AND_HEX);
    const std::string b = dir.write("site/b/settings", QUORBIX_QOS_AND_HEX);
    const std::string other = dir.write("other/settings", QUORBIX_QOS_AND_HEX);
    dir.write("site/quorbix-check.conf", "# the fleet's\n\n  ignore = qos-range , number-plus\n");
    dir.write("site/b/quorbix-check.conf", "select=number-hex\r\nstrict=true\n");
    const std::string given = dir.write("given.conf", "ignore=number-hex\nformat=json\n");
    const std::string site = dir.path("site");
    const std::string qos = ":6:18: warning: MQTT QoS 3";
    const std::string hex = ":7:20: error: '0x1F4' is hexadecimal";
    const std::vector<CliRow> rows = {
        // The nearest folder's file, and no other: b's own replaces the site's.
        {{"--format=gcc", a, b, other},
         1,
         {a + hex, b + hex, other + qos, other + hex},
         {a + qos, b + qos},
         ""},
        // The walk never takes the configuration file for a settings file.
        {{site}, 1, {"2 files: 2 start"}, {"quorbix-check.conf"}, ""},
        {{"--norc", "--format=gcc", a, b}, 1, {a + qos, b + qos}, {}, ""},
        // --rcfile for every file, its format too; the command line wins.
        {{"--rcfile", given, a, b},
         0,
         {"\"code\": \"qos-range\"", "\"schema_version\""},
         {"number-hex"},
         ""},
        {{"--rcfile=" + given, "--format=gcc", "--ignore=qos-range", a},
         1,
         {a + hex},
         {a + qos},
         ""},
        {{"--format=gcc", "--select=qos-range", a, b}, 0, {a + qos, b + qos}, {hex}, ""},
        {{"--rcfile", given, "--norc", a}, 2, {}, {}, "--rcfile and --norc"},
        {{"--rcfile", dir.path("none.conf"), a},
         2,
         {},
         {},
         "cannot read the configuration file " + dir.path("none.conf") + ": No such file"},
    };
    expect_rows(rows);
    // Format and strictness are the working directory's: site/b holds strict.
    {
        const InDir in(dir.path("site/b"));
        expect_rows({
            {{"--format=gcc", "settings"}, 1, {"settings:7:20: error"}, {"warning"}, ""},
            {{"--format=gcc", "--select=qos-range", "settings"},
             1,
             {"settings:6:18: error: MQTT QoS 3"},
             {},
             ""},
        });
    }
    {
        dir.write("other/quorbix-check.conf", "format=gcc\n");
        const InDir in(dir.path("other"));
        expect_rows({
            {{"settings"}, 1, {"settings" + qos}, {"outcome:"}, ""},
            {{"--format=human", "settings"}, 1, {"outcome:"}, {}, ""},
        });
    }
}

TEST(CheckLintCli, AWrongConfigurationFileIsAUsageError) {
    struct Row {
        const char* text;
        const char* err;  // after "quorbix-check: FILE:"
    };
    const Row rows[] = {
        {"ignore=qos-range\ncolour=never\n",
         "2: unknown key 'colour'; the keys are ignore, select, strict and format"},
        {"strict=yes\n", "1: strict takes 0, 1, true or false, not 'yes'"},
        {"format=xml\n", "1: format takes human, gcc, json, sarif, not 'xml'"},
        {"select=qos-range,qos-rang\n",
         "1: unknown code 'qos-rang' in select; quorbix-check --codes lists them"},
        {"ignore=qos-range,\n", "1: unknown code '' in ignore"},
        {"# ok\nstrict\n", "2: not KEY=value: 'strict'"},
        {"strict=1\n\nstrict=0\n", "3: strict is set again (first on line 1)"},
        {"format=\x1b[2J\n", "1: format takes human, gcc, json, sarif, not '<1b>[2J'"},
    };
    for (const Row& row : rows) {
        test::TempDir dir;
        const std::string conf = dir.write("quorbix-check.conf", row.text);
        const std::string settings = dir.write("settings", QUORBIX_SOUND);
        // Found beside the file, or given: the same message, naming the file.
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{settings}, {"--rcfile", conf, settings}}) {
            const CliRun r = run_check(args);
            EXPECT_EQ(r.status, 2) << row.text;
            EXPECT_EQ(r.out, "") << row.text;
            EXPECT_NE(r.err.find("quorbix-check: " + conf + ":" + row.err), std::string::npos)
                << row.text << "\n"
                << r.err;
        }
    }
}

TEST(CheckLintCli, ListsOfFilesAndTheReportsFile) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir(dir.path("fleet").c_str(), 0755), 0);
    const std::string a = dir.write("fleet/a", QUORBIX_QOS_AND_HEX);
    const std::string b = dir.write("fleet/b", QUORBIX_SOUND "QUORBIX_MQTT_QOS=3\n");
    // A name that holds a line feed, which only a list ended by NUL bytes can name.
    const std::string odd = dir.write("fleet/we\nird", QUORBIX_SOUND "QUORBIX_MQTT_QOS=3\n");
    const std::string lines = dir.write("lines", a + "\r\n\n" + b + "\n");
    const std::string nuls = dir.write("nuls", std::string(a + '\0' + odd + '\0'));
    const std::string empty = dir.write("empty", "");
    const std::string qos = ":6:18: warning: MQTT QoS 3";
    const std::string report = dir.path("fleet/report");
    expect_rows({
        {{"--norc", "--format=gcc", "--files-from", lines}, 1, {a + qos, b + qos}, {odd}, ""},
        {{"--norc", "--format=gcc", "--files0-from", nuls},
         1,
         {a + qos, dir.path("fleet/we<0a>ird") + qos},
         {b},
         ""},
        // An empty list checks nothing, not the device's own settings file.
        {{"--norc", "--files-from", empty}, 0, {}, {"/opt/quorbix"}, ""},
        {{"--norc", "--json", "--files-from", empty}, 0, {"\"files\": []"}, {}, ""},
        {{"--files-from", dir.path("none")},
         2,
         {},
         {},
         "cannot read the list of files " + dir.path("none") + ": No such file"},
        {{"--files-from", "-", "-"}, 2, {}, {}, "standard input can be read only once"},
        {{"--files-from", "-", "--files0-from", "-"},
         2,
         {},
         {},
         "standard input can be read only once"},
        {{"-o", dir.path("no/such/folder")},
         2,
         {},
         {},
         "cannot write the report to " + dir.path("no/such/folder") + ": No such file"},
    });
    // A list on standard input, its files after those given before it and
    // before those after it.
    {
        const std::string b_line =
            b + ":6:18: warning: MQTT QoS 3 is none of 0, 1 and 2 [qos-range]\n";
        const CliRun r =
            run_check({"--norc", "--format=gcc", odd, "--files-from", "-", odd}, b + "\n");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string odd_line = dir.path("fleet/we<0a>ird") + b_line.substr(b.size());
        EXPECT_EQ(r.out, odd_line + b_line + odd_line);
    }
    // The report's file gets exactly what standard output would, emptied
    // first, made 0666 less the umask; a report under a folder walked is not
    // checked.
    const CliRun plain = run_check({"--norc", dir.path("fleet")});
    EXPECT_NE(plain.out.find("3 files"), std::string::npos) << plain.out;
    dir.write("fleet/report", std::string(100000, 'x'));
    for (const std::string& option : {std::string("-o"), std::string("--output")}) {
        const CliRun to_file = run_check({"--norc", option, report, dir.path("fleet")});
        EXPECT_EQ(to_file.status, plain.status);
        EXPECT_EQ(to_file.out, "");
        EXPECT_EQ(to_file.err, "");
        EXPECT_EQ(dir.read("fleet/report"), plain.out);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string made = dir.path("made");
    ASSERT_EQ(run_check({"--norc", "--output=" + made, b}).status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    // With standard output a terminal, the file still gets no colour.
    const CliRun tty = run_check({"--norc", "-o", made, b}, "", true);
    EXPECT_EQ(tty.out, "");
    EXPECT_EQ(dir.read("made").find('\x1b'), std::string::npos) << dir.read("made");
    EXPECT_NE(dir.read("made").find(b + qos), std::string::npos) << dir.read("made");
}

}  // namespace
}  // namespace quorbix
