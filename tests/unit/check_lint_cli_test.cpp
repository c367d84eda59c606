// What linter users expect of the checker's command line, as a table of
// runs: the files' own suppression lines with --show-ignored in each format.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorbix
