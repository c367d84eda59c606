// How quorbix-check says what it found: one report model, and one renderer
// per output format over it. For people, the form editors and CI annotate
// (FILE:LINE:COL: severity: message [code]) with the line and a caret under
// the spot; for machines, one JSON document. A new format is one renderer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/model/analysis.h"
#include "check/model/codes.h"

namespace quorbix {

struct ReportStyle {
    bool color = false;   // ANSI colours and bold
    bool strict = false;  // warnings count, and show, as errors
};

// One file as the report takes it: its check, or why it was not read.
struct ReportedFile {
    std::string name;
    std::string unreadable;  // why the file could not be read; empty when it was
    FileAnalysis analysis;
    std::string bytes;  // the file, for the formats that quote its lines
};

// Files by the outcome of their run.
struct OutcomeCounts {
    std::size_t start = 0;
    std::size_t refuse = 0;
    std::size_t disabled = 0;
};

// The totals of a run: files by outcome, findings by reported severity and
// by code.
struct RunSummary {
    std::size_t files = 0;
    std::size_t unreadable = 0;
    OutcomeCounts by_action;
    SeverityCounts by_severity;  // as reported
    std::array<std::size_t, kCodeCount> by_code{};
};

// The whole run as the renderers take it.
struct Report {
    std::vector<ReportedFile> files;
    RunSummary summary;
    ReportStyle style;             // of the findings
    bool problems_color = false;   // colour where files that cannot be read are said
    bool quiet = false;            // findings and refusals only: nothing for a clean file
    bool with_record = false;      // the record view is asked for
    bool with_config = false;      // the configuration view is asked for
    bool with_statistics = false;  // the count per code is asked for
    int exit_status = 0;
};

// Where a piece of a report goes: the views (record, configuration), the
// findings, what keeps a file from being checked, or what a format keeps
// off the stream of its findings (the totals of the gcc format).
enum class Channel { kView, kFindings, kProblems, kAside };

struct ReportPiece {
    Channel channel = Channel::kFindings;
    std::string text;
};

// A renderer: the whole report as pieces, in the order they are written.
using Renderer = std::vector<ReportPiece> (*)(const Report& report);

// The formats: for people; one line per finding, as gcc says them, for
// problem matchers; one JSON document; one SARIF 2.1.0 document.
std::vector<ReportPiece> render_human(const Report& report);
std::vector<ReportPiece> render_gcc(const Report& report);
std::vector<ReportPiece> render_json(const Report& report);
std::vector<ReportPiece> render_sarif(const Report& report);

// An output format: its renderer, and what the run gives it.
struct ReportFormat {
    Renderer render;
    // For a terminal: colour where the output is one, the files' bytes for
    // quoting their lines, and the findings moved to standard error when a
    // view takes standard output. Otherwise one document on standard output.
    bool for_terminal;
    bool takes_views;  // whether --record and --config have a place in it
};

inline constexpr ReportFormat kHumanFormat{render_human, true, true};
inline constexpr ReportFormat kGccFormat{render_gcc, false, false};
inline constexpr ReportFormat kJsonFormat{render_json, false, true};
inline constexpr ReportFormat kSarifFormat{render_sarif, false, false};

// The severity a finding, or a code of severity s, is reported with.
Severity reported_severity(const Finding& f, const ReportStyle& style);
Severity reported_severity(Severity s, const ReportStyle& style);

// Counts of the file's findings by reported severity.
SeverityCounts reported_counts(const FileAnalysis& analysis, const ReportStyle& style);

// "error", "warning" or "note".
const char* severity_name(Severity s);

// What the launcher would do, in words: "starts the daemon: exit 0, ...".
std::string outcome_text(const Outcome& o);

// The checker's name, and its version as --version and the reports say it.
inline constexpr const char kToolName[] = "quorbix-check";
const char* tool_version();

// What the outcomes rest on, said once per report.
inline constexpr const char kPrediction[] =
    "predicted from the settings alone: a full /tmp, a missing tool or a /tmp/quorbix that is "
    "not the launcher's own can still change it";

// A finding's first line: FILE:LINE:COL: severity: message [code], without
// LINE:COL for the file as a whole; in colour for a terminal. The name and
// the message are escaped (text.h): the line is always one line.
std::string finding_line(std::string_view name, const Finding& f, const ReportStyle& style);

// The finding of the gate that ends the file's run, or null when the run
// starts or that finding is not reported.
const Finding* gate_finding(const FileAnalysis& analysis);

// The human format's findings of one file, each with its line and caret,
// then the counts and, last, the outcome line; when quiet, only the findings
// and a refusal. Every text of the file, its name too, is escaped (text.h).
std::string render_findings(std::string_view name, std::string_view bytes,
                            const FileAnalysis& analysis, const ReportStyle& style,
                            bool quiet = false);

// Drops the file's bytes after the last line that a finding quotes (all of
// them when none does): a report over many files then holds no more of them
// than it shows.
void keep_quoted_lines(ReportedFile* file);

// The human format's excerpt of one line (its line feed may be included)
// with a caret under byte `column` (from 1; 0 for the line's start), under a
// gutter with the line's number; printable text and UTF-8 as they are, other
// bytes as <xx>, long lines elided around the spot.
std::string caret_excerpt(std::string_view line, std::uint64_t number, std::size_t column,
                          bool color);

}  // namespace quorbix
