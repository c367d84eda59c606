#include "check/report/codes_json.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>

#include "check/report/report.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

using json = nlohmann::json;

json finding_json(const Finding& f) {
    return json{{"line", f.line == 0 ? json(nullptr) : json(f.line)},
                {"column", f.column == 0 ? json(nullptr) : json(f.column)},
                {"message", f.message},
                {"launcher_does", f.launcher_does},
                {"remedy", f.remedy.empty() ? json(nullptr) : json(f.remedy)}};
}

json entry_json(const CodeEntry& e) {
    const CodeInfo& info = code_info(e.code);
    json j = {{"code", info.name},
              {"severity", severity_name(info.severity)},
              {"summary", info.about},
              {"detail", info.detail}};
    if (!e.explained) {
        return j;
    }
    if (e.example.empty()) {
        j["example"] = nullptr;
        j["no_example"] = e.no_example != nullptr ? json(e.no_example) : json(nullptr);
        return j;
    }
    json says = json::array();
    std::transform(e.findings.begin(), e.findings.end(), std::back_inserter(says), finding_json);
    j["example"] = {{"settings", std::string(e.example)}, {"findings", std::move(says)}};
    return j;
}

}  // namespace

std::string codes_json(const std::vector<CodeEntry>& entries) {
    json codes = json::array();
    std::transform(entries.begin(), entries.end(), std::back_inserter(codes), entry_json);
    const json doc = {{"tool", {{"name", kToolName}, {"version", tool_version()}}},
                      {"codes", std::move(codes)}};
    return json_without_controls(doc.dump(2, ' ', false, json::error_handler_t::replace)) + "\n";
}

}  // namespace quorbix
