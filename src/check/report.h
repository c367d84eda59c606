// How quorbix-check says what it found: for people, in the form editors and
// CI annotate (FILE:LINE:COL: severity: message [code]) with the line and a
// caret under the spot; for machines, one JSON document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/analysis.h"

namespace quorbix {

struct ReportStyle {
    bool color = false;   // ANSI colours and bold
    bool strict = false;  // warnings count, and show, as errors
};

// The severity a finding is reported with.
Severity reported_severity(const Finding& f, const ReportStyle& style);

// Counts of the file's findings by reported severity: note, warning, error.
std::array<std::size_t, 3> reported_counts(const FileCheck& check, const ReportStyle& style);

// Every finding of the file, with its line and caret, then the counts and,
// last, the outcome line.
std::string render_findings(std::string_view name, std::string_view bytes, const FileCheck& check,
                            const ReportStyle& style);

// Every field of the record as the launcher reads it, with the line it came
// from or "absent".
std::string render_record(const FileCheck& check);

// A file that could not be read, as the human report says it.
std::string render_unreadable(std::string_view name, std::string_view why,
                              const ReportStyle& style);

// One file as the JSON report takes it: its check, or why it was not read.
struct FileResult {
    std::string name;
    std::string unreadable;  // why the file could not be read; empty when it was
    FileCheck check;
};

// The whole JSON document: every file's findings, counts and outcome, with
// the record and the configuration when asked, and the exit status.
std::string render_json(const std::vector<FileResult>& files, const ReportStyle& style,
                        bool with_record, bool with_config, int exit_status);

}  // namespace quorbix
