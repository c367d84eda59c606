#include "check/report/summary.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "check/text/text.h"

namespace quorbix {

void summary_add(RunSummary* summary, const ReportedFile& file, const ReportStyle& style) {
    ++summary->files;
    if (!file.unreadable.empty()) {
        ++summary->unreadable;
        summary->by_severity.add(Severity::kError);
        ++summary->by_code[static_cast<std::size_t>(Code::kUnreadable)];
        return;
    }
    switch (file.analysis.outcome.action) {
        case Outcome::Action::kStart:
            ++summary->by_action.start;
            break;
        case Outcome::Action::kRefuse:
            ++summary->by_action.refuse;
            break;
        case Outcome::Action::kDisabled:
            ++summary->by_action.disabled;
            break;
    }
    const SeverityCounts counts = reported_counts(file.analysis, style);
    summary->by_severity.add(Severity::kError, counts.errors);
    summary->by_severity.add(Severity::kWarning, counts.warnings);
    summary->by_severity.add(Severity::kNote, counts.notes);
    for (std::size_t i = 0; i < summary->by_code.size(); ++i) {
        summary->by_code[i] += file.analysis.by_code[i];
    }
}

std::string counts_text(const SeverityCounts& counts) {
    return count_of(counts.errors, "error") + ", " + count_of(counts.warnings, "warning") + ", " +
           count_of(counts.notes, "note");
}

std::string render_totals(const RunSummary& summary) {
    const OutcomeCounts& a = summary.by_action;
    return count_of(summary.files, "file") + ": " + dec(a.start) + " start, " + dec(a.refuse) +
           " refused, " + dec(a.disabled) + " disabled, " + dec(summary.unreadable) +
           " unreadable; " + counts_text(summary.by_severity) + "\n";
}

std::string render_statistics(const RunSummary& summary, const ReportStyle& style) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < summary.by_code.size(); ++i) {
        if (summary.by_code[i] != 0) {
            found.push_back(i);
        }
    }
    std::stable_sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
        return summary.by_code[a] > summary.by_code[b];
    });
    std::string out;
    for (const std::size_t i : found) {
        const CodeInfo& info = kCodes[i];
        char line[96];
        static_cast<void>(std::snprintf(line, sizeof line, "%7zu  %-30s %s\n", summary.by_code[i],
                                        info.name,
                                        severity_name(reported_severity(info.severity, style))));
        out += line;
    }
    return out;
}

}  // namespace quorbix
