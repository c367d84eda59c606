// Fix-its: the golden diff of a file holding several certain fixes, the
// file it makes checking clean, the diff applied by patch and git, the
// diff's hunks at the file's edges, and the fixes never offered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "check/report/diff.h"
#include "check/rules/analyse.h"
#include "check/rules/shapes.h"
#include "golden.h"
#include "staging/base64.h"
#include "temp_file.h"

namespace quorbix {
namespace {

constexpr std::time_t k20270101 = 1798761600;

std::vector<Edit> edits_of(const FileAnalysis& analysis) {
    std::vector<Edit> edits;
    for (const Finding& f : analysis.findings) {
        edits.insert(edits.end(), f.edits.begin(), f.edits.end());
    }
    return edits;
}

FileAnalysis checked(const std::string& settings) {
    AnalysisOptions options;
    options.now = k20270101;
    return analyse_settings(settings, options);
}

// Applies diff to a copy of bytes named `name` in dir with `command`; the
// patched bytes, or a marker when the command fails.
std::string applied(const test::TempDir& dir, const std::string& name, const std::string& bytes,
                    const std::string& diff, const std::string& command) {
    dir.write(name, bytes);
    dir.write("fix.diff", diff);
    const std::string run =
        "cd '" + dir.path("") + "' && " + command + " < fix.diff >/dev/null 2>&1";
    if (std::system(run.c_str()) != 0) {
        return "<" + command + " failed>";
    }
    return dir.read(name);
}

TEST(CheckFixes, SeveralSureFixesMakeOneDiffThatChecksClean) {
    const std::string settings = test::read_file(QUORBIX_TEST_DATA_DIR "/check/fixable.settings");
    ASSERT_FALSE(settings.empty());
    const std::vector<Edit> edits = edits_of(checked(settings));
    const std::string diff = unified_diff("fixable.settings", settings, edits);
    test::expect_golden("check/fixable.diff", diff);

    const std::string fixed = apply_edits(settings, edits);
    const FileAnalysis after = checked(fixed);
    for (const Finding& f : after.findings) {
        ADD_FAILURE() << f.code_name() << " at " << f.line << ":" << f.column << ": " << f.message;
    }
    EXPECT_EQ(after.outcome.action, Outcome::Action::kStart);

    const test::TempDir dir;
    EXPECT_EQ(applied(dir, "fixable.settings", settings, diff, "patch -p0"), fixed);
    const test::TempDir repo;
    EXPECT_EQ(applied(repo, "fixable.settings", settings, diff, "git init -q && git apply"), fixed);
}

// The hunks' numbers where the file ends without a line feed, where edits
// lie more than two contexts apart, and where an edit removes lines: what
// patch makes of the diff is what the edits make of the file.
TEST(CheckFixes, HunksApplyAtTheFilesEdges) {
    std::string lines;
    for (int i = 1; i <= 20; ++i) {
        lines += "L" + std::to_string(i) + "\n";
    }
    struct Row {
        const char* name;
        std::string bytes;
        std::vector<Edit> edits;
    };
    const std::vector<Row> rows = {
        {"no line feed at the end", "a\nb\nc", {{3, 1, 3, 2, "C"}}},
        {"far apart", lines, {{2, 1, 2, 3, "X"}, {18, 1, 18, 4, "Y"}}},
        {"lines joined", lines, {{5, 3, 8, 1, ""}, {9, 1, 9, 2, "l"}}},
        {"first line emptied", "x\ny\n", {{1, 1, 2, 1, ""}}},
        {"overlap left out", lines, {{4, 1, 4, 3, "A"}, {4, 2, 4, 3, "B"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string diff = unified_diff("f", row.bytes, row.edits);
        ASSERT_FALSE(diff.empty());
        const test::TempDir dir;
        EXPECT_EQ(applied(dir, "f", row.bytes, diff, "patch -p0"),
                  apply_edits(row.bytes, row.edits))
            << diff;
    }
    EXPECT_EQ(unified_diff("f", lines, {}), "");
}

// Only what is certain is offered: never a guess at what was meant.
TEST(CheckFixes, NoFixWhereTheIntentIsAGuess) {
    const char* const rows[] = {
        "QUORBIX_MQTT_ADDR=\"hub\nQUORBIX_CLIENT_ID=gw\n",       // unclosed quote
        "QUORBIX_MQTT_ADDR=a\nQUORBIX_MQTT_ADDR=b\n",            // duplicate key
        "QUORBIX_MQTT_ADDR=a\nQUORBIX_MQTT_HOST=b\n",            // synonym of a key set
        "QUORBIX_MQTT_ADDR=a\nexport QUORBIX_MQTT_ADDR=b\n",     // export of a key set
        "#QUORBIX_MQTT_ADDR=a\n",                                // commented out
        "QUORBIX_PORT9_PARITY=odd\n",                            // two keys as near
        "QUORBIX_MQTT_PWD='s3cret'\nQUORBIX_MQTT_USR=gw \n",     // kept characters
        "QUORBIX_CA=-----BEGIN CERTIFICATE-----\nMIIB\n",        // PEM with no end
        "QUORBIX_MQTT_ADDR=hub:1883\nQUORBIX_MQTT_PORT=8883\n",  // two ports
        "QUORBIX_MQTT_ADDR=hub 17\n",                            // blanks in the name
        "QUORBIX_MQTT_ADDR=hub:99999\n",                         // no TCP port
        "QUORBIX_MQTT_ADDR=hub ; prod\n",                        // a comment
        "QUORBIX_MQTT_ADDR=${MQTT_HOST}\n",                      // a placeholder
        "QUORBIX_CA=/etc/ssl/ca.pem\n",                          // a path, not the file
        "QUORBIX_CSV=\"a,b\n1,2\n",                              // a quote that never closes
        "QUORBIX_ENABLE: 1\nQUORBIX_ENABLE=0\n",                 // a separator for a key set
    };
    for (const char* row : rows) {
        for (const Finding& f : checked(row).findings) {
            EXPECT_TRUE(f.edits.empty()) << f.code_name() << " offers a fix for «" << row << "»";
        }
    }
}

// Each certain fix of a file made by a template, a spreadsheet, another
// format or another machine gives, once applied by patch, the values meant
// as the launcher's own loader reads them, and a file that checks clean.
TEST(CheckFixes, FixesOfOtherFormatsGiveTheValuesMeant) {
    const std::string rest = "QUORBIX_CLIENT_ID=gw-0042\n";
    const std::string csv = "QUORBIX_CSV=YSxiCjEsMgo=\n";
    const std::string enabled = "QUORBIX_ENABLE=1\n" + csv + "QUORBIX_MQTT_ADDR=hub\n";
    const std::string port = "QUORBIX_MQTT_PORT=8883\n";
    struct Row {
        const char* name;
        std::string settings;
        std::vector<std::pair<std::string, std::string>> meant;  // Base64 ones decoded
    };
    std::string mac = enabled + port + rest;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    const std::vector<Row> rows = {
        {"YAML",
         "QUORBIX_ENABLE: 1\n" + csv + "QUORBIX_MQTT_ADDR=hub\n" + port + rest,
         {{"QUORBIX_ENABLE", "1"}}},
        {"a tab",
         "QUORBIX_ENABLE=1\n" + csv + "QUORBIX_MQTT_ADDR\thub-17\n" + port + rest,
         {{"QUORBIX_MQTT_ADDR", "hub-17"}}},
        {"a blank, the value quoted",
         enabled + port + rest + "QUORBIX_MQTT_PWD \"s3 cret\"\n",
         {{"QUORBIX_MQTT_PWD", "s3 cret"}}},
        {"a URL, no port set",
         "QUORBIX_ENABLE=1\n" + csv + "QUORBIX_MQTT_ADDR=mqtts://hub-17.example.net:8883\n" + rest,
         {{"QUORBIX_MQTT_ADDR", "hub-17.example.net"}, {"QUORBIX_MQTT_PORT", "8883"}}},
        {"a quoted URL, its port set alike",
         "QUORBIX_ENABLE=1\n" + csv + "QUORBIX_MQTT_ADDR=\"ssl://hub:8883/\"\n" + port + rest,
         {{"QUORBIX_MQTT_ADDR", "hub"}, {"QUORBIX_MQTT_PORT", "8883"}}},
        {"an IPv6 literal and a port",
         "QUORBIX_ENABLE=1\n" + csv + rest + "QUORBIX_MQTT_ADDR=[fd00::17]:1883",
         {{"QUORBIX_MQTT_ADDR", "fd00::17"}, {"QUORBIX_MQTT_PORT", "1883"}}},
        {"CSV rows",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=a,b\n1,2\n\nQUORBIX_MQTT_ADDR=hub\n" + port + rest,
         {{"QUORBIX_CSV", "a,b\n1,2\n"}}},
        {"a CSV row in quotes",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=\"a;b\"\r\nQUORBIX_MQTT_ADDR=hub\n" + port + rest,
         {{"QUORBIX_CSV", "a;b\n"}}},
        {"a script over lines",
         enabled + port + rest +
             "QUORBIX_DIRECTMETHOD_SCRIPT1=#!/bin/sh\necho restarting\n\nexit 0\n\n",
         {{"QUORBIX_DIRECTMETHOD_SCRIPT1", "#!/bin/sh\necho restarting\n\nexit 0\n"}}},
        {"a script over lines in quotes",
         enabled + port + rest +
             "QUORBIX_DIRECTMETHOD_SCRIPT2=\"#!/bin/sh\necho hi\"\nQUORBIX_MB_POLL=5\n",
         {{"QUORBIX_DIRECTMETHOD_SCRIPT2", "#!/bin/sh\necho hi\n"}, {"QUORBIX_MB_POLL", "5"}}},
        {"a script behind a byte-order mark",
         enabled + port + rest + "QUORBIX_DIRECTMETHOD_SCRIPT3=" +
             base64_encode("\xef\xbb\xbf#!/bin/sh\necho hi\n") + "\n",
         {{"QUORBIX_DIRECTMETHOD_SCRIPT3", "#!/bin/sh\necho hi\n"}}},
        {"CR-only line ends",
         mac,
         {{"QUORBIX_ENABLE", "1"},
          {"QUORBIX_CSV", "a,b\n1,2\n"},
          {"QUORBIX_CLIENT_ID", "gw-0042"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<Edit> edits = edits_of(checked(row.settings));
        const std::string diff = unified_diff("settings", row.settings, edits);
        const test::TempDir dir;
        const std::string fixed = applied(dir, "settings", row.settings, diff, "patch -p0");
        EXPECT_EQ(fixed, apply_edits(row.settings, edits)) << diff;
        const FileAnalysis after = checked(fixed);
        for (const Finding& f : after.findings) {
            ADD_FAILURE() << f.code_name() << " at " << f.line << ": " << f.message;
        }
        std::size_t seen = 0;
        for (const auto& [key, value] : row.meant) {
            for (const FieldReading& r : after.record) {
                if (r.key != key) {
                    continue;
                }
                ++seen;
                const bool base64 = key == "QUORBIX_CSV" || key.find("SCRIPT") != std::string::npos;
                const DecodedBytes d = base64_decode_dup(r.value.c_str());
                const std::string decoded(reinterpret_cast<const char*>(d.data.get()), d.size);
                EXPECT_EQ(base64 ? decoded : r.value, value) << key;
            }
        }
        EXPECT_EQ(seen, row.meant.size());
    }
}

}  // namespace
}  // namespace quorbix
