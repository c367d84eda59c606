// The report for machines: one JSON document with the tool's and the
// layout's versions, every file's findings, counts and outcome, the record
// and the configuration when asked, the run's summary and the exit status.
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "check/report/formats.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

using json = nlohmann::ordered_json;

// The version of the document's layout: raised when a field changes or goes,
// kept when one is added.
constexpr int kSchemaVersion = 2;

const char* action_name(Outcome::Action a) {
    switch (a) {
        case Outcome::Action::kStart:
            return "start";
        case Outcome::Action::kRefuse:
            return "refuse";
        default:
            return "disabled";
    }
}

const char* scanner_name(Scanner s) {
    switch (s) {
        case Scanner::kUint:
            return "number";
        case Scanner::kText:
            return "text";
        default:
            return "large text";
    }
}

json findings_json(const std::vector<Finding>& all, const ReportStyle& style) {
    json findings = json::array();
    for (const Finding& f : all) {
        json j;
        j["code"] = f.code_name();
        j["severity"] = severity_name(reported_severity(f, style));
        j["line"] = f.line == 0 ? json(nullptr) : json(f.line);
        j["column"] = f.column == 0 ? json(nullptr) : json(f.column);
        j["end_column"] = f.line == 0 ? json(nullptr) : json(f.end_column);
        j["key"] = f.key.empty() ? json(nullptr) : json(f.key);
        j["message"] = f.message;
        j["launcher_does"] = f.launcher_does;
        j["remedy"] = f.remedy.empty() ? json(nullptr) : json(f.remedy);
        std::vector<json> edits(f.edits.size());
        std::transform(f.edits.begin(), f.edits.end(), edits.begin(), [](const Edit& e) {
            return json{{"line", e.line},
                        {"column", e.column},
                        {"end_line", e.end_line},
                        {"end_column", e.end_column},
                        {"text", e.text}};
        });
        j["edits"] = json(std::move(edits));
        findings.push_back(std::move(j));
    }
    return findings;
}

// With --show-ignored, what the file's own lines hide, and which line and why.
json ignored_json(const FileAnalysis& analysis) {
    json ignored = json::array();
    for (const IgnoredFinding& i : analysis.ignored) {
        const Finding& f = i.finding;
        ignored.push_back({{"code", f.code_name()},
                           {"line", f.line == 0 ? json(nullptr) : json(f.line)},
                           {"column", f.column == 0 ? json(nullptr) : json(f.column)},
                           {"message", f.message},
                           {"by_line", i.by_line},
                           {"reason", i.reason.empty() ? json(nullptr) : json(i.reason)}});
    }
    return ignored;
}

json record_json(const FileAnalysis& analysis) {
    json record = json::array();
    for (const FieldReading& r : analysis.record) {
        json j;
        j["key"] = r.key;
        j["type"] = scanner_name(r.scanner);
        j["value"] = r.scanner == Scanner::kUint ? json(r.number) : json(r.value);
        j["line"] = r.line == 0 ? json(nullptr) : json(r.line);
        record.push_back(std::move(j));
    }
    return record;
}

// The connection tried with --connect; null for what is not known.
json connection_json(const ConnectionView& c) {
    auto text_or_null = [](const std::string& text) { return text.empty() ? json() : json(text); };
    return {{"stage", c.stage},
            {"result", c.result},
            {"address", text_or_null(c.address)},
            {"tls_version", text_or_null(c.tls_version)},
            {"connack", c.connack < 0 ? json() : json(c.connack)},
            {"milliseconds", c.milliseconds < 0 ? json() : json(c.milliseconds)}};
}

json file_json(const ReportedFile& file, const ReportRun& run) {
    json entry;
    bool percent_encoded = false;
    entry["file"] = json_file_name(file.name, &percent_encoded);
    if (percent_encoded) {
        entry["file_percent_encoded"] = true;
    }
    if (!file.unreadable.empty()) {
        const Finding unreadable = unreadable_finding(file);
        entry["error"] = unreadable.message;
        entry["findings"] = findings_json({unreadable}, run.style);
        return entry;
    }
    const FileAnalysis& analysis = file.analysis;
    entry["findings"] = findings_json(analysis.findings, run.style);
    const SeverityCounts counts = reported_counts(analysis, run.style);
    entry["counts"] = {
        {"error", counts.errors}, {"warning", counts.warnings}, {"note", counts.notes}};
    const Outcome& o = analysis.outcome;
    entry["outcome"] = {{"action", action_name(o.action)},
                        {"exit_status", o.exit_status},
                        {"log_line", o.log_line},
                        {"map_cleanup", o.map_cleanup},
                        {"config_written", o.config_written},
                        {"summary", "the launcher " + outcome_text(o)}};
    if (run.with_record) {
        entry["record"] = record_json(analysis);
    }
    if (run.with_config) {
        entry["config"] = o.config_written ? json(analysis.config) : json(nullptr);
    }
    if (file.connection) {
        entry["connection"] = connection_json(*file.connection);
    }
    if (run.show_ignored) {
        entry["ignored"] = ignored_json(analysis);
    }
    return entry;
}

json summary_json(const RunSummary& s, bool with_statistics) {
    json j = {{"files", s.files},
              {"start", s.by_action.start},
              {"refuse", s.by_action.refuse},
              {"disabled", s.by_action.disabled},
              {"unreadable", s.unreadable},
              {"errors", s.by_severity.errors},
              {"warnings", s.by_severity.warnings},
              {"notes", s.by_severity.notes}};
    if (with_statistics) {
        json codes = json::object();
        for (const CodeInfo& info : kCodes) {
            if (const std::size_t n = s.by_code[static_cast<std::size_t>(info.code)]; n != 0) {
                codes[info.name] = n;
            }
        }
        j["codes"] = std::move(codes);
    }
    return j;
}

// A value as the document says it: two spaces of indent. Bytes of the
// settings that are not UTF-8 become U+FFFD (a file's name is
// percent-encoded instead): the document stays valid whatever the file
// holds, and holds no control character raw.
std::string dumped(const json& j) {
    return json_without_controls(j.dump(2, ' ', false, json::error_handler_t::replace));
}

// The document, one file at a time: its head up to the files' opening
// bracket, each file's object indented as an element of that array, then
// the rest, byte for byte as the whole document dumped at once.
class JsonRenderer final : public Renderer {
  public:
    explicit JsonRenderer(const ReportRun& run) : run_(run) {}

    std::vector<ReportPiece> begin() override {
        json head;
        head["tool"] = {{"name", kToolName}, {"version", tool_version()}};
        head["schema_version"] = kSchemaVersion;
        head["files"] = json::array();
        std::string text = dumped(head);
        text.resize(text.size() - std::string_view("]\n}").size());  // up to "files": [
        return {{Channel::kFindings, std::move(text)}};
    }

    std::vector<ReportPiece> file(const ReportedFile& file) override {
        // An element of "files", two levels in.
        std::string text = files_ == 0 ? "\n    " : ",\n    ";
        for (const char c : dumped(file_json(file, run_))) {
            text += c;
            if (c == '\n') {
                text += "    ";
            }
        }
        ++files_;
        return {{Channel::kFindings, std::move(text)}};
    }

    std::vector<ReportPiece> end(const RunSummary& summary, int exit_status) override {
        json tail;
        tail["summary"] = summary_json(summary, run_.with_statistics);
        tail["caveat"] = std::string("outcomes are ") + kPrediction;
        if (run_.with_connection) {
            tail["connection_caveat"] = "connections are " + connection_caveat(run_);
        }
        tail["exit_status"] = exit_status;
        // The members after "files", at the document's first level.
        const std::string rest = dumped(tail).substr(std::string_view("{\n").size());
        return {{Channel::kFindings, (files_ == 0 ? "]" : "\n  ]") + (",\n" + rest) + "\n"}};
    }

  private:
    ReportRun run_;
    std::size_t files_ = 0;  // files rendered so far
};

}  // namespace

std::unique_ptr<Renderer> make_json_renderer(const ReportRun& run) {
    return std::make_unique<JsonRenderer>(run);
}

}  // namespace quorbix
