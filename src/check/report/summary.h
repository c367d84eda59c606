// The totals of one run over many files, and how a report for people says
// them.
#pragma once

#include <string>

#include "check/report/report.h"

namespace quorbix {

// Adds one file's outcome and findings to *summary.
void summary_add(RunSummary* summary, const ReportedFile& file, const ReportStyle& style);

// Findings by severity in words: "9 errors, 2 warnings, 1 note".
std::string counts_text(const SeverityCounts& counts);

// The totals line: files by outcome, findings by severity.
std::string render_totals(const RunSummary& summary);

// One line per code found, most frequent first: count, code and severity.
std::string render_statistics(const RunSummary& summary, const ReportStyle& style);

}  // namespace quorbix
