// The examples of --codes CODE: each one's lines give a finding of its code
// when the checker reads them, so that no example can say what the checker
// does not; every code that a few lines can show has one.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "check/model/codes.h"
#include "check/report/report.h"
#include "check/rules/analyse.h"
#include "check/rules/code_examples.h"
#include "check_cli.h"
#include "temp_file.h"

namespace quorbix {
namespace {

TEST(CheckCodeExamples, EachExampleGivesItsCode) {
    for (const CodeInfo& info : kCodes) {
        const std::string_view example = code_example(info.code);
        if (example.empty()) {
            // Only what a few lines cannot show goes without an example.
            const bool needs_more =
                is_tls_material_code(info.code) || is_connection_code(info.code) ||
                info.code == Code::kMoreNotShown || info.code == Code::kUnreadable ||
                info.code == Code::kBoundedCut || info.code == Code::kConfigLineCut ||
                info.code == Code::kTokenCommandTooLong;
            EXPECT_TRUE(needs_more) << info.name << " has no example";
            continue;
        }
        const FileAnalysis analysis = analyse_settings(example, AnalysisOptions{});
        std::size_t found = 0;
        for (const Finding& f : analysis.findings) {
            found += f.code == info.code ? 1 : 0;
        }
        EXPECT_EQ(found, 1u) << info.name << "'s example gives " << found << " findings of it";
    }
}

TEST(CheckCodeExamples, CodesListedAndExplained) {
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* out;  // must be on standard output
        const char* err;  // must be on standard error ("" for nothing)
    };
    const Row rows[] = {
        {{"--codes"}, 0, "qos-range                      warning  an MQTT QoS above 2\n", ""},
        {{"--codes", "qos-range"},
         0,
         "qos-range (warning): an MQTT QoS above 2\n\nMQTT knows QoS 0, 1 and 2; the launcher "
         "writes another value to the configuration as it is. Write 0, 1 or 2.\n\nExample "
         "(settings):\n    "
         "QUORBIX_MQTT_QOS=3\n\n"
         "quorbix-check says:\n    settings:1:18: warning: MQTT QoS 3 is none of 0, 1 and 2 "
         "[qos-range]\n",
         ""},
        // Control bytes of an example are shown, never written raw.
        {{"--codes", "line-cut"}, 0, "    QUORBIX_TIME_VALUE=ab<0d>cd\n", ""},
        {{"--codes", "tls-der"},
         0,
         "No example: its example needs certificates or keys made for it.\n",
         ""},
        {{"--codes", "qos-rang"},
         2,
         "",
         "unknown code 'qos-rang'; did you mean qos-range? quorbix-check --codes lists them"},
        {{"--codes", "zzz"}, 2, "", "unknown code 'zzz'; quorbix-check --codes lists them"},
        {{"--codes", "qos-range", "port-range"}, 2, "", "--codes explains one code at a time"},
    };
    for (const Row& row : rows) {
        const test::CliRun r = test::run_check(row.args);
        const std::string cmd = test::command_of(row.args);
        EXPECT_EQ(r.status, row.status) << cmd << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(row.out), std::string::npos) << cmd << "\n" << r.out;
        if (*row.err == '\0') {
            EXPECT_EQ(r.err, "") << cmd;
        } else {
            EXPECT_NE(r.err.find(row.err), std::string::npos) << cmd << "\n" << r.err;
        }
    }
}

TEST(CheckCodeExamples, CodesAsJson) {
    for (const char* option : {"--json", "--format=json"}) {
        const test::CliRun all = test::run_check({"--codes", option});
        ASSERT_EQ(all.status, 0) << all.err;
        const nlohmann::json list = nlohmann::json::parse(all.out);
        ASSERT_EQ(list["codes"].size(), kCodeCount);
        for (std::size_t i = 0; i < kCodeCount; ++i) {
            const nlohmann::json& c = list["codes"][i];
            EXPECT_EQ(c["code"], kCodes[i].name);
            EXPECT_EQ(c["severity"], severity_name(kCodes[i].severity));
            EXPECT_EQ(c["summary"], kCodes[i].about);
            EXPECT_EQ(c["detail"], kCodes[i].detail);
            // A longer text is whole sentences, and longer than the summary.
            const std::string detail = kCodes[i].detail;
            EXPECT_GT(detail.size(), std::strlen(kCodes[i].about)) << kCodes[i].name;
            EXPECT_EQ(detail.back(), '.') << kCodes[i].name;
        }
    }
    const test::CliRun one = test::run_check({"--json", "--codes", "comment-in-value"});
    ASSERT_EQ(one.status, 0) << one.err;
    const nlohmann::json c = nlohmann::json::parse(one.out)["codes"].at(0);
    EXPECT_EQ(c["example"]["settings"], std::string(code_example(Code::kCommentInValue)));
    ASSERT_EQ(c["example"]["findings"].size(), 1u);
    EXPECT_EQ(c["example"]["findings"][0]["line"], 1);
    // -o takes the list as it takes a report.
    test::TempDir dir;
    const test::CliRun to_file = test::run_check({"--codes", "-o", dir.path("codes"), "--json"});
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(dir.read("codes"), test::run_check({"--codes", "--json"}).out);
    const test::CliRun none = test::run_check({"--json", "--codes", "connect-tcp"});
    EXPECT_TRUE(nlohmann::json::parse(none.out)["codes"].at(0)["example"].is_null()) << none.out;
}

}  // namespace
}  // namespace quorbix
