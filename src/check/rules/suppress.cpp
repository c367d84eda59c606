#include "check/rules/suppress.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "check/rules/context.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

constexpr std::string_view kTag = "quorbix-check:";
constexpr std::string_view kReasonMark = " -- ";

// Steps past the blanks of text from *i.
void skip_blanks(std::string_view text, std::size_t* i) {
    while (*i < text.size() && is_blank(text[*i])) {
        ++*i;
    }
}

// Reads the comma-separated codes of text, which begins at column `column`,
// into *line.
void read_codes(std::string_view text, std::size_t column, SuppressionLine* line) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view raw = text.substr(start, comma - start);
        const std::string_view code = trim_blanks(raw);
        const std::size_t at =
            column + start +
            (code.empty() ? 0 : static_cast<std::size_t>(code.data() - raw.data()));
        if (const std::optional<Code> known = code_named(code)) {
            line->codes.set(static_cast<std::size_t>(*known));
        } else {
            line->faults.push_back({at, code.empty() ? std::string("an empty code")
                                                     : "unknown code " + shown(code) +
                                                           "; quorbix-check --codes "
                                                           "lists them"});
        }
        if (comma == text.size()) {
            return;
        }
        start = comma + 1;
    }
}

}  // namespace

std::optional<SuppressionLine> read_suppression_line(std::string_view content) {
    if (!content.empty() && content.back() == '\r') {
        content.remove_suffix(1);
    }
    if (content.empty() || content.front() != '#') {
        return std::nullopt;
    }
    std::size_t i = 1;
    skip_blanks(content, &i);
    if (content.substr(i, kTag.size()) != kTag) {
        return std::nullopt;
    }
    i += kTag.size();
    skip_blanks(content, &i);
    SuppressionLine line;
    const std::size_t mark = content.find(kReasonMark, i);
    std::string_view said = content.substr(i, mark == std::string_view::npos ? mark : mark - i);
    if (mark != std::string_view::npos) {
        line.reason = escaped(trim_blanks(content.substr(mark + kReasonMark.size())));
    }
    said = trim_blanks(said);
    const std::size_t eq = said.find('=');
    const std::string_view word = said.substr(0, eq);
    if (eq == std::string_view::npos || (word != "ignore" && word != "ignore-file")) {
        line.faults.push_back(
            {i + 1, shown(word) + " is neither ignore=CODE,... nor ignore-file=CODE,..."});
        return line;
    }
    line.whole_file = word == "ignore-file";
    read_codes(said.substr(eq + 1), i + eq + 2, &line);
    return line;
}

const SuppressionRule* suppression_for(const Suppressions& s, Code code, std::uint64_t line) {
    const auto bit = static_cast<std::size_t>(code);
    const auto lines = std::find_if(s.rules.begin(), s.rules.end(),
                                    [](const SuppressionRule& r) { return r.target != 0; });
    const auto file = std::find_if(s.rules.begin(), lines,
                                   [bit](const SuppressionRule& r) { return r.codes.test(bit); });
    if (file != lines) {
        return &*file;
    }
    if (line == 0) {
        return nullptr;
    }
    // The lines' rules are in the order of their targets.
    auto it =
        std::lower_bound(lines, s.rules.end(), line,
                         [](const SuppressionRule& r, std::uint64_t l) { return r.target < l; });
    for (; it != s.rules.end() && it->target == line; ++it) {
        if (it->codes.test(bit)) {
            return &*it;
        }
    }
    return nullptr;
}

void read_suppressions(RuleContext& c) {
    // Most files hold no such line: one search says so.
    if (c.file.find(kTag) == std::string_view::npos) {
        return;
    }
    auto& faults = c.suppressions.faults;
    SettingsLineCursor cursor;
    SettingsLineInfo info;
    while (settings_next_line(c.stream, cursor, &info)) {
        std::optional<SuppressionLine> line =
            read_suppression_line(without_line_feed(line_bytes(c, info)));
        if (!line) {
            continue;
        }
        std::transform(line->faults.begin(), line->faults.end(), std::back_inserter(faults),
                       [&info](SuppressionLine::Fault& fault) {
                           return std::make_pair(info.number, std::move(fault));
                       });
        if (line->codes.any()) {
            c.suppressions.rules.push_back({info.number, line->whole_file ? 0 : info.number + 1,
                                            line->codes, std::move(line->reason)});
        }
    }
    // The whole file's lines first, so that a line's own rule is found after them.
    std::stable_partition(c.suppressions.rules.begin(), c.suppressions.rules.end(),
                          [](const SuppressionRule& r) { return r.target == 0; });
}

void report_suppression_faults(RuleContext& c) {
    for (const auto& [number, fault] : c.suppressions.faults) {
        add_finding(c, Code::kBadIgnoreLine, {number, fault.column}, fault.message,
                    "the checker still shows what the line names wrongly",
                    "name codes as quorbix-check --codes lists them, after ignore= or "
                    "ignore-file=");
    }
}

}  // namespace quorbix
