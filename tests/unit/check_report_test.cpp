// The checker's reports of a realistic settings file with several mistakes,
// for people and for machines, against golden files.
#include <gtest/gtest.h>

#include "check/report/report.h"
#include "check/report/summary.h"
#include "check/rules/analyse.h"
#include "golden.h"

namespace quorbix {
namespace {

TEST(CheckReport, HumanAndJsonReportsMatchTheGoldenFiles) {
    const std::string settings = test::read_file(QUORBIX_TEST_DATA_DIR "/check/mistakes.settings");
    ASSERT_FALSE(settings.empty());
    AnalysisOptions options;
    options.now = 1796083200;  // 2026-12-01
    Report report;
    report.files.push_back(
        {"mistakes.settings", "", analyse_settings(settings, options), settings});
    summary_add(&report.summary, report.files.front(), report.style);
    report.exit_status = 1;
    std::string human;
    for (const ReportPiece& piece : render_human(report)) {
        EXPECT_EQ(piece.channel, Channel::kFindings);
        human += piece.text;
    }
    test::expect_golden("check/mistakes.report", human);
    const std::vector<ReportPiece> json = render_json(report);
    ASSERT_EQ(json.size(), 1u);
    test::expect_golden("check/mistakes.json", json[0].text);
}

}  // namespace
}  // namespace quorbix

namespace quorbix {
namespace {

// A report holds of each file only the lines up to the last one it quotes,
// and says the same as with the whole file.
TEST(CheckReport, KeepsOnlyTheLinesItQuotes) {
    std::string csv;
    for (int i = 0; i < 1250; ++i) {
        csv += "TWFu";
    }
    const std::string tail = "QUORBIX_CSV=" + csv + "\nQUORBIX_TIME_VALUE=ts\n";
    const struct {
        std::string settings;
        std::string kept;
    } rows[] = {
        {"QUORBIX_ENABLE=1\nQUORBIX_MQTT_QOS=3\n" + tail, "QUORBIX_ENABLE=1\nQUORBIX_MQTT_QOS=3\n"},
        {"QUORBIX_ENABLE=1\n" + tail, ""},  // no finding quotes a line
        {"QUORBIX_ENABLE=1\nQUORBIX_MQTT_QOS=3", "QUORBIX_ENABLE=1\nQUORBIX_MQTT_QOS=3"},
    };
    for (const auto& row : rows) {
        ReportedFile file{"settings", "", analyse_settings(row.settings, AnalysisOptions{}),
                          row.settings};
        const std::string whole =
            render_findings(file.name, file.bytes, file.analysis, ReportStyle{});
        keep_quoted_lines(&file);
        EXPECT_EQ(file.bytes, row.kept);
        EXPECT_EQ(render_findings(file.name, file.bytes, file.analysis, ReportStyle{}), whole);
    }
}

}  // namespace
}  // namespace quorbix
