// The report for people: findings with their line and a caret, the counts,
// the outcome, and the record and configuration views when asked; over
// several files, the totals; once, what the outcomes rest on.
#include <cstdio>
#include <memory>

#include "check/report/formats.h"
#include "check/report/summary.h"
#include "check/report/terminal.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

// The bytes of line number `number` (its line feed included), found from the
// walk's place: findings come in line order, so one walk finds all lines.
struct LineWalk {
    std::string_view bytes;
    std::size_t start = 0;
    std::uint64_t number = 1;

    std::string_view line(std::uint64_t wanted) {
        while (number < wanted && start < bytes.size()) {
            start += first_line_of(bytes.substr(start)).size();
            ++number;
        }
        return first_line_of(bytes.substr(start));
    }
};

// A record value for the record view: numbers as they are, texts as every
// message shows a value (quoted_text), long ones elided with their length.
std::string record_value(const FieldReading& r) {
    return r.scanner == Scanner::kUint ? r.value : quoted_text(r.value, 60);
}

// Every field of the record as the launcher reads it, with the line it came
// from or "absent".
std::string render_record(const FileAnalysis& analysis) {
    std::string out;
    for (const FieldReading& r : analysis.record) {
        char head[96];
        const std::string where = r.line == 0 ? "absent" : "line " + std::to_string(r.line);
        static_cast<void>(
            std::snprintf(head, sizeof head, "%-34s %-11s ", r.key.c_str(), where.c_str()));
        out += head + record_value(r) + "\n";
    }
    return out;
}

// The findings of one file, each with its line and caret, then the counts
// and, last, the outcome line; when quiet, only the findings and a refusal.
// Every text of the file, its name too, is escaped (text.h).
std::string render_findings(std::string_view name, std::string_view bytes,
                            const FileAnalysis& analysis, const ReportStyle& style, bool quiet) {
    const Colors c = colors(style.color);
    std::string out;
    LineWalk walk{bytes};
    for (const Finding& f : analysis.findings) {
        out += finding_line(name, f, style);
        if (f.line != 0) {
            out += caret_excerpt(walk.line(f.line), f.line, f.column, style.color);
        }
        out += "      = " + escaped(f.launcher_does) + "\n";
        if (!f.remedy.empty()) {
            out += (f.edits.empty() ? "      help: " : "      fix (--diff): ") + escaped(f.remedy) +
                   "\n";
        }
    }
    out += ignored_lines(name, analysis, false);
    const std::string head = std::string(c.bold) + escaped(name) + ":" + c.reset + " ";
    if (!quiet) {
        out += head + counts_text(reported_counts(analysis, style)) + "\n";
    }
    if (!quiet || analysis.outcome.action == Outcome::Action::kRefuse) {
        out += head + "outcome: the launcher " + outcome_text(analysis.outcome) + "\n";
    }
    return out;
}

class HumanRenderer final : public Renderer {
  public:
    explicit HumanRenderer(const ReportRun& run) : run_(run) {}

    std::vector<ReportPiece> begin() override { return {}; }

    std::vector<ReportPiece> file(const ReportedFile& r) override {
        if (!r.unreadable.empty()) {
            return {{Channel::kFindings, finding_line(r.name, unreadable_finding(r), run_.style)}};
        }
        std::vector<ReportPiece> pieces;
        const std::string header = run_.files > 1 ? "==> " + escaped(r.name) + " <==\n" : "";
        if (run_.with_record) {
            pieces.push_back({Channel::kView, header + render_record(r.analysis)});
        }
        if (run_.with_config) {
            if (r.analysis.outcome.config_written) {
                pieces.push_back(
                    {Channel::kView, (run_.with_record ? "" : header) + r.analysis.config});
            } else {
                pieces.push_back(
                    {Channel::kFindings,
                     escaped(r.name) + ": the launcher stops before it writes a configuration\n"});
            }
        }
        pieces.push_back({Channel::kFindings,
                          render_findings(r.name, r.bytes, r.analysis, run_.style, run_.quiet)});
        outcomes_ =
            outcomes_ || !run_.quiet || r.analysis.outcome.action == Outcome::Action::kRefuse;
        connections_ = connections_ || (r.connection && r.connection->milliseconds >= 0);
        return pieces;
    }

    std::vector<ReportPiece> end(const RunSummary& summary, int /*exit_status*/) override {
        std::string end;
        if (outcomes_) {
            end = std::string("Outcomes are ") + kPrediction + ".\n";
        }
        if (connections_ && run_.with_connection) {
            end += "Connections are " + connection_caveat(run_) + ".\n";
        }
        // --statistics keeps the totals that --quiet leaves out.
        if (run_.files > 1 && (!run_.quiet || run_.with_statistics)) {
            end += render_totals(summary);
        }
        if (run_.with_statistics) {
            end += render_statistics(summary, run_.style);
        }
        return {{Channel::kFindings, std::move(end)}};
    }

  private:
    ReportRun run_;
    bool outcomes_ = false;     // whether an outcome line was said
    bool connections_ = false;  // whether a connection was tried
};

}  // namespace

std::unique_ptr<Renderer> make_human_renderer(const ReportRun& run) {
    return std::make_unique<HumanRenderer>(run);
}

}  // namespace quorbix
