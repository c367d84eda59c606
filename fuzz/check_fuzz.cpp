// The whole check of an arbitrary settings file: no crash, every finding on a
// line of the file, a refusal outcome exactly when its gate's finding is the
// first gate finding reported (or an error stands for it), human and gcc reports with no control
// character raw and one gcc line per finding, and JSON and SARIF reports
// that parse back whatever bytes the file holds.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#include "check/report/formats.h"
#include "check/report/summary.h"
#include "check/rules/analyse.h"
#include "check/text/text.h"
#include "fuzz_file.h"
#include "staging/gates.h"

using namespace quorbix;

namespace {

// The gate findings in the order a run meets their gates, with the log line
// of each.
struct GateFinding {
    Code code;
    const char* log_line;
};
constexpr GateFinding kGateFindings[] = {
    {Code::kNoCsv, kLogNoCsv},
    {Code::kDisabled, kLogDisabled},
    {Code::kNoEnable, kLogDisabled},  // the disabled gate with no QUORBIX_ENABLE line
    {Code::kTlsNoCa, kLogNoCa},
    {Code::kTlsNoClientCert, kLogNoLocalCert},
    {Code::kTlsNoClientKey, kLogNoLocalKey},
};

bool reported(const FileAnalysis& analysis, Code code) {
    return std::any_of(analysis.findings.begin(), analysis.findings.end(),
                       [code](const Finding& f) { return f.code == code; });
}

// True when an error stands for the gate that stops the run: a finding
// about the file as a whole for any gate, and for the disabled gate an error
// on the line that was meant to enable the gateway (one finding a mistake).
bool gate_explained(const FileAnalysis& analysis) {
    if (reported(analysis, Code::kWideEncoding) || reported(analysis, Code::kCrLineEnds)) {
        return true;
    }
    return analysis.outcome.action == Outcome::Action::kDisabled &&
           std::any_of(analysis.findings.begin(), analysis.findings.end(),
                       [](const Finding& f) { return f.severity() == Severity::kError; });
}

// The run stops with a gate's log line exactly when that gate's finding is
// the first of the gate findings reported; it starts when none is, unless an
// error stands for the gate.
void check_outcome_follows_gate_findings(const FileAnalysis& analysis) {
    const auto* first =
        std::find_if(std::begin(kGateFindings), std::end(kGateFindings),
                     [&analysis](const GateFinding& g) { return reported(analysis, g.code); });
    const Outcome& o = analysis.outcome;
    if (first == std::end(kGateFindings)) {
        QUORBIX_FUZZ_CHECK(o.action == Outcome::Action::kStart || gate_explained(analysis));
        return;
    }
    const bool own_reported =
        std::any_of(std::begin(kGateFindings), std::end(kGateFindings), [&](const GateFinding& g) {
            return g.log_line == o.log_line && reported(analysis, g.code);
        });
    if (!own_reported && gate_explained(analysis)) {
        return;  // a later gate's finding, while an error stands for the gate that stops it
    }
    QUORBIX_FUZZ_CHECK(o.log_line == first->log_line);
    const bool disabled = first->log_line == kLogDisabled;
    QUORBIX_FUZZ_CHECK(o.action ==
                       (disabled ? Outcome::Action::kDisabled : Outcome::Action::kRefuse));
}

// No piece of the human or gcc report but the views holds a control
// character raw, and the gcc report has one line per finding and one per
// refusal.
void check_reports_are_escaped(const Report& report) {
    for (const ReportPiece& piece : render_report(*format_named("human"), report)) {
        QUORBIX_FUZZ_CHECK(piece.channel == Channel::kView ||
                           escaped(piece.text, true) == piece.text);
    }
    const FileAnalysis& analysis = report.files.front().analysis;
    const bool refusal =
        gate_finding(analysis) != nullptr && analysis.outcome.action == Outcome::Action::kRefuse;
    for (const ReportPiece& piece : render_report(*format_named("gcc"), report)) {
        QUORBIX_FUZZ_CHECK(escaped(piece.text, true) == piece.text);
        QUORBIX_FUZZ_CHECK(
            piece.channel != Channel::kFindings ||
            static_cast<std::size_t>(std::count(piece.text.begin(), piece.text.end(), '\n')) ==
                analysis.findings.size() + (refusal ? 1 : 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string settings(reinterpret_cast<const char*>(data), size);
    AnalysisOptions options;
    options.now = 1796083200;
    options.token = settings.substr(0, 40);
    Report report;
    report.files.push_back(
        {"settings", "", analyse_settings(settings, options), settings, std::nullopt});
    report.run.with_record = true;
    report.run.with_config = true;
    report.run.with_statistics = true;
    const ReportedFile& result = report.files.front();
    summary_add(&report.summary, result, report.run.style);
    const std::size_t lines =
        static_cast<std::size_t>(std::count(settings.begin(), settings.end(), '\n')) + 1;
    for (const Finding& f : result.analysis.findings) {
        QUORBIX_FUZZ_CHECK(f.line <= lines);
        QUORBIX_FUZZ_CHECK(f.line == 0 || (f.column >= 1 && f.end_column >= f.column));
        QUORBIX_FUZZ_CHECK(*f.code_name() != '\0' && !f.message.empty() &&
                           !f.launcher_does.empty());
        for (const Edit& e : f.edits) {
            QUORBIX_FUZZ_CHECK(e.line >= 1 && e.line <= e.end_line && e.end_line <= lines);
            QUORBIX_FUZZ_CHECK(e.column >= 1 && e.end_column >= 1);
        }
    }
    check_outcome_follows_gate_findings(result.analysis);
    QUORBIX_FUZZ_CHECK(result.analysis.record.size() == settings_field_count());
    QUORBIX_FUZZ_CHECK(!render_report(*format_named("human"), report).empty());
    check_reports_are_escaped(report);
    const std::string json = render_report(*format_named("json"), report).at(0).text;
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    QUORBIX_FUZZ_CHECK(!parsed.is_discarded());
    QUORBIX_FUZZ_CHECK(parsed["files"].size() == 1);
    const nlohmann::json sarif = nlohmann::json::parse(
        render_report(*format_named("sarif"), report).at(0).text, nullptr, false);
    QUORBIX_FUZZ_CHECK(!sarif.is_discarded());
    QUORBIX_FUZZ_CHECK(sarif["runs"][0]["results"].size() == result.analysis.findings.size());
    return 0;
}
