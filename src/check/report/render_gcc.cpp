// The report for problem matchers: one line per finding, as gcc says its
// diagnostics, and nothing else on the findings' stream. A refusal is one
// more such line, at its gate's finding.
#include "check/report/report.h"
#include "check/report/summary.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

// A finding's gcc line; one about the file as a whole stands at line 1,
// column 1, since an annotation needs a line.
std::string gcc_line(std::string_view name, const Finding& f, const ReportStyle& style) {
    if (f.line != 0) {
        return finding_line(name, f, style);
    }
    Finding whole = f;
    whole.line = 1;
    whole.column = 1;
    return finding_line(name, whole, style);
}

}  // namespace

std::vector<ReportPiece> render_gcc(const Report& report) {
    ReportStyle style = report.style;
    style.color = false;
    std::vector<ReportPiece> pieces;
    for (const ReportedFile& r : report.files) {
        if (!r.unreadable.empty()) {
            pieces.push_back(
                {Channel::kProblems, escaped(r.name) + ": error: " + escaped(r.unreadable) + "\n"});
            continue;
        }
        std::string lines;
        for (const Finding& f : r.analysis.findings) {
            lines += gcc_line(r.name, f, style);
        }
        if (const Finding* gate = gate_finding(r.analysis);
            gate != nullptr && r.analysis.outcome.action == Outcome::Action::kRefuse) {
            Finding refusal = *gate;
            refusal.message = "the launcher " + outcome_text(r.analysis.outcome);
            lines += gcc_line(r.name, refusal, style);
        }
        pieces.push_back({Channel::kFindings, std::move(lines)});
    }
    if (report.with_statistics) {
        pieces.push_back({Channel::kAside, render_totals(report.summary) +
                                               render_statistics(report.summary, report.style)});
    }
    return pieces;
}

}  // namespace quorbix
