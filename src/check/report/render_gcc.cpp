// The report for problem matchers: one line per finding, as gcc says its
// diagnostics, and nothing else on the findings' stream. A refusal is one
// more such line, at its gate's finding.
#include <memory>

#include "check/report/formats.h"
#include "check/report/summary.h"
#include "check/report/terminal.h"
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

class GccRenderer final : public Renderer {
  public:
    explicit GccRenderer(const ReportRun& run) : run_(run) { run_.style.color = false; }

    std::vector<ReportPiece> begin() override { return {}; }

    std::vector<ReportPiece> file(const ReportedFile& r) override {
        if (!r.unreadable.empty()) {
            return {{Channel::kFindings, finding_line(r.name, unreadable_finding(r), run_.style)}};
        }
        std::string lines;
        for (const Finding& f : r.analysis.findings) {
            lines += gcc_line(r.name, f, run_.style);
        }
        if (const Finding* gate = gate_finding(r.analysis);
            gate != nullptr && r.analysis.outcome.action == Outcome::Action::kRefuse) {
            Finding refusal = *gate;
            refusal.message = "the launcher " + outcome_text(r.analysis.outcome);
            lines += gcc_line(r.name, refusal, run_.style);
        }
        lines += ignored_lines(r.name, r.analysis, true);
        return {{Channel::kFindings, std::move(lines)}};
    }

    std::vector<ReportPiece> end(const RunSummary& summary, int /*exit_status*/) override {
        if (!run_.with_statistics) {
            return {};
        }
        return {{Channel::kAside, render_totals(summary) + render_statistics(summary, run_.style)}};
    }

  private:
    ReportRun run_;  // without colour
};

}  // namespace

std::unique_ptr<Renderer> make_gcc_renderer(const ReportRun& run) {
    return std::make_unique<GccRenderer>(run);
}

}  // namespace quorbix
