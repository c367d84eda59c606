// The SARIF 2.1.0 report: one run of one tool, whose rules are the code
// table, and one result per finding, a file that cannot be read included;
// columns in UTF-16 code units, as SARIF counts them by default.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "check/model/codes.h"
#include "check/report/formats.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"

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

// Where the codes are explained: the manual's section on them. The manual
// ships with the checker wherever it is installed, so the address holds on
// a machine without a network and outlives any web host.
constexpr const char kInformationUri[] = "man:quorbix-check(1)";
constexpr const char kHelpUri[] = "man:quorbix-check(1)#Codes";

json rules() {
    json out = json::array();
    std::transform(std::begin(kCodes), std::end(kCodes), std::back_inserter(out),
                   [](const CodeInfo& info) {
                       return json{{"id", info.name},
                                   {"shortDescription", {{"text", info.about}}},
                                   {"helpUri", kHelpUri},
                                   {"defaultConfiguration", {{"level", level(info.severity)}}}};
                   });
    return out;
}

// The file's lines by number, to turn byte columns into SARIF's UTF-16 code
// units; a line past the last is empty.
class Lines {
  public:
    explicit Lines(std::string_view bytes) : bytes_(bytes) {
        for (std::string_view rest = bytes; !rest.empty();) {
            starts_.push_back(bytes.size() - rest.size());
            rest.remove_prefix(first_line_of(rest).size());
        }
    }

    // Byte column `column` (from 1) of line `number` (from 1) in UTF-16
    // code units, from 1: each character of four bytes counts two, and each
    // byte of invalid UTF-8 one.
    [[nodiscard]] std::size_t utf16_column(std::uint64_t number, std::size_t column) const {
        const std::string_view line =
            number >= 1 && number <= starts_.size()
                ? first_line_of(bytes_.substr(starts_[static_cast<std::size_t>(number - 1)]))
                : std::string_view();
        const std::size_t bytes = std::min(column == 0 ? 0 : column - 1, line.size());
        std::size_t units = 0;
        for (std::size_t i = 0; i < bytes;) {
            const std::size_t n = utf8_length(line, i);
            const bool whole = n != 0 && i + n <= bytes;
            units += whole && n == 4 ? 2 : 1;
            i += whole ? n : 1;
        }
        return units + 1 + (column == 0 ? 0 : column - 1 - bytes);
    }

  private:
    std::string_view bytes_;
    std::vector<std::size_t> starts_;  // where each line begins
};

json location(const std::string& name, const Finding& f, const Lines& lines) {
    json physical = {{"artifactLocation", {{"uri", uri_of(name)}}}};
    // A finding about the whole file stands at its first line.
    physical["region"] =
        f.line == 0
            ? json{{"startLine", 1}}
            : json{{"startLine", f.line},
                   {"startColumn", lines.utf16_column(f.line, f.column == 0 ? 1 : f.column)},
                   {"endLine", f.line},
                   {"endColumn", lines.utf16_column(f.line, f.end_column)}};
    return json::array({{{"physicalLocation", std::move(physical)}}});
}

// A finding's certain fix: one change of its file, a replacement per edit.
json fixes(const std::string& name, const Finding& f, const Lines& lines) {
    json replacements = json::array();
    std::transform(f.edits.begin(), f.edits.end(), std::back_inserter(replacements),
                   [&lines](const Edit& e) {
                       return json{{"deletedRegion",
                                    {{"startLine", e.line},
                                     {"startColumn", lines.utf16_column(e.line, e.column)},
                                     {"endLine", e.end_line},
                                     {"endColumn", lines.utf16_column(e.end_line, e.end_column)}}},
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
    if (f.launcher_does.empty()) {
        return f.message;
    }
    const bool ends_sentence = !f.message.empty() && f.message.back() == '?';
    return f.message + (ends_sentence ? " " : ". ") + f.launcher_does;
}

json result(const std::string& name, const Finding& f, const Lines& lines,
            const ReportStyle& style) {
    json r = {{"ruleId", f.code_name()},
              {"ruleIndex", static_cast<std::size_t>(f.code)},
              {"level", level(reported_severity(f, style))},
              {"message", {{"text", message_text(f)}}},
              {"locations", location(name, f, lines)}};
    if (!f.edits.empty()) {
        r["fixes"] = fixes(name, f, lines);
    }
    return r;
}

// The log with its results last but the invocation: `results` up to its
// opening bracket, when `head`; otherwise what follows that bracket.
std::string document_part(bool head, const json& invocation) {
    json driver = {{"name", kToolName},
                   {"version", tool_version()},
                   {"informationUri", kInformationUri},
                   {"rules", rules()}};
    json run = {{"tool", {{"driver", std::move(driver)}}},
                {"columnKind", "utf16CodeUnits"},
                {"results", json::array()},
                {"invocations", json::array({invocation})}};
    const json doc = {
        {"$schema", kSarifSchema}, {"version", "2.1.0"}, {"runs", json::array({std::move(run)})}};
    const std::string text =
        json_without_controls(doc.dump(2, ' ', false, json::error_handler_t::replace));
    const std::size_t bracket =
        text.find("\"results\": [") + std::string_view("\"results\": [").size();
    return head ? text.substr(0, bracket) : text.substr(bracket) + "\n";
}

// The log, one file at a time: the results are written as each file is
// checked, each indented as an element of the run's `results`, and the
// invocation, which carries the exit status, after them.
class SarifRenderer final : public Renderer {
  public:
    explicit SarifRenderer(const ReportRun& run) : run_(run) {}

    std::vector<ReportPiece> begin() override {
        return {{Channel::kFindings, document_part(true, json::object())}};
    }

    std::vector<ReportPiece> file(const ReportedFile& file) override {
        const Lines lines(file.bytes);
        std::string text;
        const auto add = [&](const json& r) {
            text += results_++ == 0 ? "\n        " : ",\n        ";
            for (const char c :
                 json_without_controls(r.dump(2, ' ', false, json::error_handler_t::replace))) {
                text += c;
                if (c == '\n') {
                    text += "        ";
                }
            }
        };
        if (!file.unreadable.empty()) {
            add(result(file.name, unreadable_finding(file), lines, run_.style));
        }
        for (const Finding& f : file.analysis.findings) {
            add(result(file.name, f, lines, run_.style));
        }
        // With --show-ignored, what the file's own lines hide, as suppressed results.
        for (const IgnoredFinding& ignored : file.analysis.ignored) {
            json suppression = {{"kind", "inSource"}};
            if (!ignored.reason.empty()) {
                suppression["justification"] = ignored.reason;
            }
            json r = result(file.name, ignored.finding, lines, run_.style);
            r["suppressions"] = json::array({std::move(suppression)});
            add(r);
        }
        return {{Channel::kFindings, std::move(text)}};
    }

    std::vector<ReportPiece> end(const RunSummary& summary, int exit_status) override {
        const json invocation = {{"executionSuccessful", summary.unreadable == 0},
                                 {"exitCode", exit_status}};
        return {{Channel::kFindings,
                 (results_ == 0 ? "" : "\n      ") + document_part(false, invocation)}};
    }

  private:
    ReportRun run_;
    std::size_t results_ = 0;  // results written so far
};

}  // namespace

std::unique_ptr<Renderer> make_sarif_renderer(const ReportRun& run) {
    return std::make_unique<SarifRenderer>(run);
}

}  // namespace quorbix
