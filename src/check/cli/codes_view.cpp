#include "check/cli/codes_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "check/cli/options.h"
#include "check/model/codes.h"
#include "check/report/codes_json.h"
#include "check/report/report.h"
#include "check/report/terminal.h"
#include "check/rules/analyse.h"
#include "check/rules/code_examples.h"
#include "check/rules/key_suggestions.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

// The name an example file goes by in what the checker says of it.
constexpr const char kExampleName[] = "settings";

// The code explained: its example, run through the checker, and the
// findings of that code in it.
CodeEntry explained(Code code) {
    CodeEntry e;
    e.code = code;
    e.explained = true;
    e.example = code_example(code);
    if (e.example.empty()) {
        e.no_example = example_missing(code);
        return e;
    }
    AnalysisOptions options;
    options.with_record = false;
    for (Finding& f : analyse_settings(e.example, options).findings) {
        if (f.code == code) {
            e.findings.push_back(std::move(f));
        }
    }
    return e;
}

// The code, its severity, summary and longer text, its example and what the checker says
// of it, as text.
std::string explained_text(const CodeEntry& e) {
    const CodeInfo& info = code_info(e.code);
    std::string out = std::string(info.name) + " (" + severity_name(info.severity) +
                      "): " + info.about + "\n\n" + info.detail + "\n";
    if (e.example.empty()) {
        return out + "No example: " + e.no_example + ".\n";
    }
    out += "\nExample (" + std::string(kExampleName) + "):\n";
    std::string_view rest = e.example;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        out += "    " + escaped(rest.substr(0, end)) + "\n";
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    out += "\nquorbix-check says:\n";
    for (const Finding& f : e.findings) {
        out += "    " + finding_line(kExampleName, f, ReportStyle{});
        out += "          = " + f.launcher_does + "\n";
        if (!f.remedy.empty()) {
            out += std::string(f.edits.empty() ? "          help: " : "          fix (--diff): ") +
                   f.remedy + "\n";
        }
    }
    return out;
}

// The code nearest to the unknown `name`, or null.
const char* nearest_code(std::string_view name) {
    if (name.size() > kSuggestedKeyLength) {
        return nullptr;
    }
    const std::size_t limit = name.size() >= 8 ? 3 : 1;
    std::size_t best = limit + 1;
    const char* found = nullptr;
    for (const CodeInfo& info : kCodes) {
        const std::size_t d = key_distance(name, info.name, limit);
        if (d < best) {
            best = d;
            found = info.name;
        }
    }
    return found;
}

}  // namespace

bool print_codes(const ReportFormat& format, const std::string& code) {
    const bool as_json = std::strcmp(format.name, "json") == 0;
    std::vector<CodeEntry> entries;
    if (!code.empty()) {
        const std::optional<Code> known = code_named(code);
        if (!known) {
            const char* near = nearest_code(code);
            usage_error("unknown code '" + code + "'; " +
                        (near != nullptr ? "did you mean " + std::string(near) + "? " : "") +
                        "quorbix-check --codes lists them");
            return false;
        }
        entries.push_back(explained(*known));
    } else {
        std::transform(std::begin(kCodes), std::end(kCodes), std::back_inserter(entries),
                       [](const CodeInfo& info) {
                           return CodeEntry{info.code, false, {}, nullptr, {}};
                       });
    }
    std::string out;
    if (as_json) {
        out = codes_json(entries);
    } else if (!code.empty()) {
        out = explained_text(entries.front());
    } else {
        for (const CodeInfo& info : kCodes) {
            char line[512];
            static_cast<void>(std::snprintf(line, sizeof line, "%-30s %-8s %s\n", info.name,
                                            severity_name(info.severity), info.about));
            out += line;
        }
    }
    static_cast<void>(std::fwrite(out.data(), 1, out.size(), stdout));
    return true;
}

}  // namespace quorbix
