#include "check/report/summary.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quorbix {

namespace {

std::string count_of(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

void summary_add(RunSummary* summary, const ReportedFile& file, const ReportStyle& style) {
    ++summary->files;
    if (!file.unreadable.empty()) {
        ++summary->unreadable;
        return;
    }
    ++summary->by_action[static_cast<std::size_t>(file.analysis.outcome.action)];
    const std::array<std::size_t, 3> counts = reported_counts(file.analysis, style);
    for (std::size_t i = 0; i < counts.size(); ++i) {
        summary->by_severity[i] += counts[i];
    }
    for (std::size_t i = 0; i < summary->by_code.size(); ++i) {
        summary->by_code[i] += file.analysis.by_code[i];
    }
}

std::string render_totals(const RunSummary& summary) {
    const auto& a = summary.by_action;
    const auto& s = summary.by_severity;
    return count_of(summary.files, "file") + ": " + std::to_string(a[0]) + " start, " +
           std::to_string(a[1]) + " refused, " + std::to_string(a[2]) + " disabled, " +
           std::to_string(summary.unreadable) + " unreadable; " + count_of(s[2], "error") + ", " +
           count_of(s[1], "warning") + ", " + count_of(s[0], "note") + "\n";
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
