// The checker's reports of a realistic settings file with several mistakes,
// for people and for machines, against golden files.
#include <gtest/gtest.h>

#include "check/analysis.h"
#include "check/report.h"
#include "golden.h"

namespace quorbix {
namespace {

TEST(CheckReport, HumanAndJsonReportsMatchTheGoldenFiles) {
    const std::string settings = test::read_file(QUORBIX_TEST_DATA_DIR "/check/mistakes.settings");
    ASSERT_FALSE(settings.empty());
    CheckOptions options;
    options.now = 1796083200;  // 2026-12-01
    FileResult result{"mistakes.settings", "", check_settings(settings, options)};
    test::expect_golden("check/mistakes.report",
                        render_findings(result.name, settings, result.check, ReportStyle{}));
    test::expect_golden("check/mistakes.json",
                        render_json({result}, ReportStyle{}, false, false, 1));
}

}  // namespace
}  // namespace quorbix
