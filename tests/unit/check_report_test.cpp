// The checker's reports of a realistic settings file with several mistakes,
// for people and for machines, against golden files.
#include <gtest/gtest.h>

#include "check/report/formats.h"
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
        {"mistakes.settings", "", analyse_settings(settings, options), settings, std::nullopt});
    summary_add(&report.summary, report.files.front(), report.run.style);
    report.exit_status = 1;
    std::string human;
    for (const ReportPiece& piece : render_report(*format_named("human"), report)) {
        EXPECT_EQ(piece.channel, Channel::kFindings);
        human += piece.text;
    }
    test::expect_golden("check/mistakes.report", human);
    const std::vector<ReportPiece> json = render_report(*format_named("json"), report);
    ASSERT_EQ(json.size(), 1u);
    test::expect_golden("check/mistakes.json", json[0].text);
}

}  // namespace
}  // namespace quorbix
