// The whole check of an arbitrary settings file: no crash, every finding on a
// line of the file, and a JSON report that parses back whatever bytes the
// file holds.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#include "check/file_check.h"
#include "check/report.h"
#include "fuzz_file.h"

using namespace quorbix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string settings(reinterpret_cast<const char*>(data), size);
    CheckOptions options;
    options.now = 1796083200;
    options.token = settings.substr(0, 40);
    Report report;
    report.files.push_back({"settings", "", check_settings(settings, options), settings});
    report.with_record = true;
    report.with_config = true;
    const FileResult& result = report.files.front();
    const std::size_t lines =
        static_cast<std::size_t>(std::count(settings.begin(), settings.end(), '\n')) + 1;
    for (const Finding& f : result.check.findings) {
        QUORBIX_FUZZ_CHECK(f.line <= lines);
        QUORBIX_FUZZ_CHECK(f.line == 0 || f.column >= 1);
        QUORBIX_FUZZ_CHECK(*f.code() != '\0' && !f.message.empty() && !f.fix.empty());
    }
    QUORBIX_FUZZ_CHECK(result.check.record.size() == settings_field_count());
    QUORBIX_FUZZ_CHECK(!render_human(report).empty());
    const std::string json = render_json(report).at(0).text;
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    QUORBIX_FUZZ_CHECK(!parsed.is_discarded());
    QUORBIX_FUZZ_CHECK(parsed["files"].size() == 1);
    return 0;
}
