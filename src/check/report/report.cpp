#include "check/report/report.h"

#include <algorithm>

#include "check/text/text.h"

#ifndef QUORBIX_VERSION
#define QUORBIX_VERSION "unknown"
#endif

namespace quorbix {

const char* tool_version() {
    return QUORBIX_VERSION;
}

Severity reported_severity(Severity s, const ReportStyle& style) {
    return style.strict && s == Severity::kWarning ? Severity::kError : s;
}

Severity reported_severity(const Finding& f, const ReportStyle& style) {
    return reported_severity(f.severity(), style);
}

Finding unreadable_finding(const ReportedFile& file) {
    Finding f;
    f.code = Code::kUnreadable;
    f.line = 1;
    f.column = 1;
    f.end_column = 1;
    f.message = "cannot read: " + file.unreadable;
    return f;
}

const Finding* gate_finding(const FileAnalysis& analysis) {
    if (!analysis.outcome.gate_code) {
        return nullptr;
    }
    const Code gate = *analysis.outcome.gate_code;
    const auto it = std::find_if(analysis.findings.begin(), analysis.findings.end(),
                                 [gate](const Finding& f) { return f.code == gate; });
    return it == analysis.findings.end() ? nullptr : &*it;
}

SeverityCounts reported_counts(const FileAnalysis& analysis, const ReportStyle& style) {
    SeverityCounts counts = analysis.by_severity;
    if (style.strict) {
        counts.errors += counts.warnings;
        counts.warnings = 0;
    }
    return counts;
}

const char* severity_name(Severity s) {
    switch (s) {
        case Severity::kError:
            return "error";
        case Severity::kWarning:
            return "warning";
        default:
            return "note";
    }
}

std::string connection_caveat(const ReportRun& run) {
    std::string text =
        "tried from this machine: they reflect its network, name service, clock and trust store, "
        "not the device's";
    if (run.at_given) {
        text += "; --at does not change them, since they use this machine's clock";
    }
    return text;
}

std::string outcome_text(const Outcome& o) {
    std::string what;
    switch (o.action) {
        case Outcome::Action::kStart:
            what = "starts the daemon";
            break;
        case Outcome::Action::kRefuse:
            what = "refuses to start";
            break;
        case Outcome::Action::kDisabled:
            what = "stays disabled";
            break;
    }
    what += ": exit " + std::to_string(o.exit_status) + ", log " + log_quoted(o.log_line);
    if (o.map_cleanup) {
        what += ", map files removed";
    }
    return what;
}

}  // namespace quorbix
