#include "check/rules/context.h"

#include <algorithm>
#include <iterator>

#include "check/model/tls_files.h"
#include "check/rules/fields.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"
#include "staging/base64.h"

namespace quorbix {

namespace {

// Findings of one code beyond this many are counted, not shown.
constexpr std::size_t kShownPerCode = 100;

// Gives each finding on a line the record's key of that line, when it is
// one, and the column after the line's last byte before its line feed.
// Findings are in line order: one walk over the lines finds them all.
// `finding(i)` is the i-th of `count`.
template <typename Nth>
void locate_findings(RuleContext& c, std::size_t count, Nth finding) {
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    for (std::size_t i = 0; i < count; ++i) {
        Finding& f = finding(i);
        while (f.line != 0 && line.number < f.line && settings_next_line(c.stream, cursor, &line)) {
        }
        if (f.line == 0 || line.number != f.line) {
            continue;
        }
        const std::string_view content = without_line_feed(line_bytes(c, line));
        f.end_column = std::max(content.size() + 1, f.column);
        const SettingsLine read = settings_read_line(content.substr(0, kBoundedLineSize - 1));
        const int position = read.has_key ? settings_key_position(read.key) : -1;
        if (position >= 0) {
            f.key = field_table()[static_cast<std::size_t>(position)].key;
        }
    }
}

}  // namespace

void context_init(RuleContext& c, std::string_view file, SettingsStream* stream,
                  const GatewaySettings& s, const AnalysisOptions& options) {
    c.file = file;
    c.stream = stream;
    c.s = &s;
    c.options = &options;
    const auto& fields = field_table();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        c.key_lines[i] = settings_key_line(stream, fields[i].key.c_str());
    }
    c.csv_present = base64_stages_file(settings_get_large_view(stream, "QUORBIX_CSV"));
    for (const TlsFileRow& row : kTlsFiles) {
        c.tls.bytes[static_cast<std::size_t>(row.file)] = staged_bytes(s.*row.data);
        c.tls.present.*row.present = base64_stages_file(s.*row.data);
    }
    c.gates = judge_gates(s, c.csv_present, c.tls);
    read_suppressions(c);
}

JudgedGates judge_gates(const GatewaySettings& s, bool csv_present, const StagedTls& tls) {
    JudgedGates g;
    g.before_config = gates_before_config(s, csv_present);
    TlsFilesPresent present = tls.present;
    for (GateVerdict v = gate_tls(s, present); v.stops; v = gate_tls(s, present)) {
        const auto* row = std::find_if(std::begin(kTlsFiles), std::end(kTlsFiles),
                                       [&v](const TlsFileRow& r) { return r.gate == v.gate; });
        if (row == std::end(kTlsFiles)) {
            break;
        }
        g.tls_stops.push_back({v, row->file});
        present.*row->present = true;
    }
    const GateVerdict before = first_stop(g.before_config);
    g.config_written = !before.stops;
    g.ends_run = before.stops || g.tls_stops.empty() ? before : g.tls_stops.front().verdict;
    return g;
}

std::string staged_bytes(const std::string& text) {
    const DecodedBytes d = base64_decode_dup(text.c_str());
    return d.data ? std::string(reinterpret_cast<const char*>(d.data.get()), d.size)
                  : std::string();
}

GateWords gate_words(Gate gate) {
    if (gate == Gate::kDisabled) {
        return {Code::kDisabled, "QUORBIX_ENABLE is not 0", ", after staging the uploaded files"};
    }
    const auto* tls = std::find_if(std::begin(kTlsFiles), std::end(kTlsFiles),
                                   [gate](const TlsFileRow& row) { return row.gate == gate; });
    if (tls != std::end(kTlsFiles)) {
        const TlsFileWords& words = tls_file_words(tls->file);
        return {words.missing, "the " + std::string(words.name) + " is staged",
                "; the daemon is not started"};
    }
    return {Code::kNoCsv, "the CSV configuration is staged", "; the daemon is not started"};
}

namespace {

// A finding of code at spot, with its message and what the launcher does:
// what the file holds reaches no output raw, in any format.
Finding finding_at(Code code, Spot spot, std::string_view message, std::string_view launcher_does) {
    Finding f;
    f.code = code;
    f.line = spot.line;
    f.column = spot.column;
    f.message = escaped(message);
    f.launcher_does = sentence(escaped(launcher_does));
    return f;
}

}  // namespace

void add_finding(RuleContext& c, Code code, Spot spot, std::string_view message,
                 std::string_view launcher_does, std::string_view remedy, std::vector<Edit> edits) {
    if (c.file_explained || c.options->ignored.test(static_cast<std::size_t>(code))) {
        return;
    }
    const SuppressionRule* rule = suppression_for(c.suppressions, code, spot.line);
    if (rule != nullptr) {
        if (c.options->keep_ignored) {
            c.analysis.ignored.push_back(
                {finding_at(code, spot, message, launcher_does), rule->line, rule->reason});
        }
        return;
    }
    const std::size_t n = ++c.analysis.by_code[static_cast<std::size_t>(code)];
    c.analysis.by_severity.add(code_info(code).severity);
    if (n > kShownPerCode) {
        return;
    }
    Finding f = finding_at(code, spot, message, launcher_does);
    f.remedy = remedy.empty() ? std::string() : sentence(escaped(remedy));
    f.edits = std::move(edits);
    c.analysis.findings.push_back(std::move(f));
}

void context_finish(RuleContext& c) {
    for (const CodeInfo& info : kCodes) {
        const std::size_t n = c.analysis.by_code[static_cast<std::size_t>(info.code)];
        if (n > kShownPerCode) {
            Finding f;
            f.code = Code::kMoreNotShown;
            f.message =
                dec(n - kShownPerCode) + " more findings of " + info.name + " are not shown";
            f.launcher_does = "the first " + dec(kShownPerCode) + " of them are";
            c.analysis.findings.push_back(std::move(f));
        }
    }
    std::stable_sort(c.analysis.findings.begin(), c.analysis.findings.end(),
                     [](const Finding& a, const Finding& b) {
                         const std::uint64_t la = a.line == 0 ? UINT64_MAX : a.line;
                         const std::uint64_t lb = b.line == 0 ? UINT64_MAX : b.line;
                         return la != lb ? la < lb : a.column < b.column;
                     });
    std::stable_sort(c.analysis.ignored.begin(), c.analysis.ignored.end(),
                     [](const IgnoredFinding& a, const IgnoredFinding& b) {
                         const std::uint64_t la = a.finding.line == 0 ? UINT64_MAX : a.finding.line;
                         const std::uint64_t lb = b.finding.line == 0 ? UINT64_MAX : b.finding.line;
                         return la < lb;
                     });
    locate_findings(c, c.analysis.findings.size(),
                    [&c](std::size_t i) -> Finding& { return c.analysis.findings[i]; });
    locate_findings(c, c.analysis.ignored.size(),
                    [&c](std::size_t i) -> Finding& { return c.analysis.ignored[i].finding; });
}

std::string_view line_bytes(const RuleContext& c, const SettingsLineInfo& line) {
    return c.file.substr(static_cast<std::size_t>(line.offset),
                         static_cast<std::size_t>(line.length));
}

Spot value_spot(const RuleContext& c, std::size_t field) {
    const SettingsLineInfo& line = c.key_lines[field];
    if (line.number == 0) {
        return {};
    }
    const std::string_view bytes = line_bytes(c, line).substr(0, kBoundedLineSize - 1);
    const SettingsLine read = settings_read_line(bytes);
    return {line.number, static_cast<std::size_t>(read.value.data() - bytes.data()) + 1};
}

std::string once_clause(const RuleContext& c, std::vector<std::string> conditions, Gate stage) {
    std::vector<std::string> before;
    for (const GateVerdict& v : c.gates.before_config) {
        if (v.gate == stage && stage != Gate::kNone) {
            break;
        }
        if (v.stops) {
            before.emplace_back(gate_words(v.gate).passed);
        }
    }
    conditions.insert(conditions.begin(), before.begin(), before.end());
    std::string text;
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        text += (i == 0 ? "once " : i + 1 == conditions.size() ? " and " : ", ") + conditions[i];
    }
    return text.empty() ? text : text + ", ";
}

std::string launcher_writes_clause(const RuleContext& c) {
    return once_clause(c) + "the launcher writes ";
}

void note_meant(RuleContext& c, std::string_view key, std::uint64_t line) {
    std::uint64_t& meant = c.meant[field_index(key)];
    meant = meant == 0 ? line : meant;
}

std::string reading_of(const RuleContext& c, std::string_view key) {
    const SettingsLineInfo& first = c.key_lines[field_index(key)];
    if (first.number == 0) {
        return "stays unset";
    }
    return "is read from line " + dec(first.number);
}

}  // namespace quorbix
