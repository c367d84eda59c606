// How quorbix-check says what it found: the report model, and the renderer
// every output format implements over it (the formats: formats.h). A
// renderer writes a report as the run goes: its beginning, then each file as
// it is analysed, then its end, so that no file need be held once it is
// reported.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// The connection tried with --connect for one file, as the JSON report
// gives it: its stage ("dns", "tcp", "tls", "mqtt" or "done") and result
// ("ok", "failed" or "not-tried"); the address connected to or last tried,
// the TLS version and the CONNACK's return code when known; the time taken,
// when an attempt was made.
struct ConnectionView {
    std::string stage;
    std::string result;
    std::string address;      // empty: unknown
    std::string tls_version;  // empty: no TLS handshake ended
    int connack = -1;         // -1: no CONNACK was read
    long milliseconds = -1;   // -1: nothing was tried
};

// One file as the report takes it: its analysis, or why it was not read.
struct ReportedFile {
    std::string name;
    std::string unreadable;  // why the file could not be read; empty when it was
    FileAnalysis analysis;
    // The file, for the formats that quote its lines; the caller holds the
    // bytes while the file is rendered.
    std::string_view bytes;
    // With --connect, the connection tried for the file; its findings are
    // among the analysis's.
    std::optional<ConnectionView> connection;
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

// What a renderer is told before the first file.
struct ReportRun {
    ReportStyle style;             // of the findings
    bool quiet = false;            // findings and refusals only: nothing for a clean file
    bool with_record = false;      // the record view is asked for
    bool with_config = false;      // the configuration view is asked for
    bool with_statistics = false;  // the count per code is asked for
    std::size_t files = 0;         // how many files the run reports
    bool with_connection = false;  // --connect: what the connections rest on is said
    bool at_given = false;         // --at, which the connections do not follow
    bool show_ignored = false;     // --show-ignored: what the files' own lines hide is listed
};

// Where a piece of a report goes: the views (record, configuration), the
// findings (a file that cannot be read is one), or what a format keeps off
// the stream of its findings (the totals of the gcc format).
enum class Channel { kView, kFindings, kAside };

struct ReportPiece {
    Channel channel = Channel::kFindings;
    std::string text;
};

// One output format's writer of one run's report: begin() before the first
// file, file() for each file in turn, end() once every file is reported with
// the run's totals and exit status. Each call gives the pieces to write at
// once, in order.
class Renderer {
  public:
    Renderer() = default;
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;
    virtual ~Renderer() = default;

    virtual std::vector<ReportPiece> begin() = 0;
    virtual std::vector<ReportPiece> file(const ReportedFile& file) = 0;
    virtual std::vector<ReportPiece> end(const RunSummary& summary, int exit_status) = 0;
};

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

// What the connections tried with --connect rest on, said once per report
// ("Connections are ..."): this machine's surroundings, and, when --at is
// given too, that they do not follow it.
std::string connection_caveat(const ReportRun& run);

// The one finding of a file that could not be read: "cannot read: REASON",
// at line 1, column 1, for problem matchers and editors need a line.
Finding unreadable_finding(const ReportedFile& file);

// The finding of the gate that ends the file's run, or null when the run
// starts or that finding is not reported.
const Finding* gate_finding(const FileAnalysis& analysis);

}  // namespace quorbix
