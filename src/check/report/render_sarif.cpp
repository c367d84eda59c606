// The SARIF 2.1.0 report: one run of one tool, whose rules are the code
// table, and one result per finding.
#include <algorithm>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>

#include "check/model/codes.h"
#include "check/report/formats.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

using json = nlohmann::ordered_json;

constexpr const char kSarifSchema[] = "https://json.schemastore.org/sarif-2.1.0.json";

// SARIF's level for a severity: "error", "warning" or "note".
const char* level(Severity s) {
    return severity_name(s);
}

// A relative URI reference for a path as given: bytes other than unreserved
// characters and "/" percent-encoded.
std::string uri_of(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri.push_back(ch);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

json rules() {
    json out = json::array();
    std::transform(std::begin(kCodes), std::end(kCodes), std::back_inserter(out),
                   [](const CodeInfo& info) {
                       return json{{"id", info.name},
                                   {"shortDescription", {{"text", info.about}}},
                                   {"defaultConfiguration", {{"level", level(info.severity)}}}};
                   });
    return out;
}

json location(const std::string& name, const Finding& f) {
    json physical = {{"artifactLocation", {{"uri", uri_of(name)}}}};
    if (f.line != 0) {
        physical["region"] = {{"startLine", f.line},
                              {"startColumn", f.column == 0 ? 1 : f.column},
                              {"endLine", f.line},
                              {"endColumn", f.end_column}};
    }
    return json::array({{{"physicalLocation", std::move(physical)}}});
}

// A finding's certain fix: one change of its file, a replacement per edit.
json fixes(const std::string& name, const Finding& f) {
    json replacements = json::array();
    std::transform(f.edits.begin(), f.edits.end(), std::back_inserter(replacements),
                   [](const Edit& e) {
                       return json{{"deletedRegion",
                                    {{"startLine", e.line},
                                     {"startColumn", e.column},
                                     {"endLine", e.end_line},
                                     {"endColumn", e.end_column}}},
                                   {"insertedContent", {{"text", e.text}}}};
                   });
    json change = {{"artifactLocation", {{"uri", uri_of(name)}}},
                   {"replacements", std::move(replacements)}};
    return json::array({{{"description", {{"text", f.remedy}}},
                         {"artifactChanges", json::array({std::move(change)})}}});
}

// The finding's message and what the launcher does, as one text: a message
// that ends in a question mark takes no full stop after it.
std::string message_text(const Finding& f) {
    const bool ends_sentence = !f.message.empty() && f.message.back() == '?';
    return f.message + (ends_sentence ? " " : ". ") + f.launcher_does;
}

json result(const std::string& name, const Finding& f, const ReportStyle& style) {
    json r = {{"ruleId", f.code_name()},
              {"ruleIndex", static_cast<std::size_t>(f.code)},
              {"level", level(reported_severity(f, style))},
              {"message", {{"text", message_text(f)}}},
              {"locations", location(name, f)}};
    if (!f.edits.empty()) {
        r["fixes"] = fixes(name, f);
    }
    return r;
}

// The log holds its results until the end: the run's invocation, which
// comes before them, carries the exit status.
class SarifRenderer final : public Renderer {
  public:
    explicit SarifRenderer(const ReportRun& run) : run_(run) {}

    std::vector<ReportPiece> begin() override { return {}; }

    std::vector<ReportPiece> file(const ReportedFile& file) override {
        if (!file.unreadable.empty()) {
            notifications_.push_back(
                {{"level", "error"},
                 {"message", {{"text", file.unreadable}}},
                 {"locations",
                  json::array({{{"physicalLocation",
                                 {{"artifactLocation", {{"uri", uri_of(file.name)}}}}}}})}});
            return {};
        }
        std::transform(file.analysis.findings.begin(), file.analysis.findings.end(),
                       std::back_inserter(results_),
                       [&](const Finding& f) { return result(file.name, f, run_.style); });
        // With --show-ignored, what the file's own lines hide, as suppressed results.
        for (const IgnoredFinding& ignored : file.analysis.ignored) {
            json suppression = {{"kind", "inSource"}};
            if (!ignored.reason.empty()) {
                suppression["justification"] = ignored.reason;
            }
            json r = result(file.name, ignored.finding, run_.style);
            r["suppressions"] = json::array({std::move(suppression)});
            results_.push_back(std::move(r));
        }
        return {};
    }

    std::vector<ReportPiece> end(const RunSummary& summary, int exit_status) override {
        json invocation = {{"executionSuccessful", summary.unreadable == 0},
                           {"exitCode", exit_status}};
        if (!notifications_.empty()) {
            invocation["toolExecutionNotifications"] = std::move(notifications_);
        }
        json driver = {{"name", kToolName}, {"version", tool_version()}, {"rules", rules()}};
        json run = {{"tool", {{"driver", std::move(driver)}}},
                    {"invocations", json::array({std::move(invocation)})},
                    {"results", std::move(results_)}};
        const json doc = {{"$schema", kSarifSchema},
                          {"version", "2.1.0"},
                          {"runs", json::array({std::move(run)})}};
        return {{Channel::kFindings,
                 json_without_controls(doc.dump(2, ' ', false, json::error_handler_t::replace)) +
                     "\n"}};
    }

  private:
    ReportRun run_;
    json results_ = json::array();
    json notifications_ = json::array();
};

}  // namespace

std::unique_ptr<Renderer> make_sarif_renderer(const ReportRun& run) {
    return std::make_unique<SarifRenderer>(run);
}

}  // namespace quorbix
