// The report for people: findings with their line and a caret, the counts,
// the outcome, and the record and configuration views when asked; over
// several files, the totals; once, what the outcomes rest on.
#include <algorithm>
#include <cstdio>

#include "check/report/report.h"
#include "check/report/summary.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

// Bytes of a line shown around a finding's spot, at most.
constexpr std::size_t kExcerpt = 72;

struct Colors {
    const char* bold = "";
    const char* reset = "";
    const char* error = "";
    const char* warning = "";
    const char* note = "";
    const char* caret = "";
};

Colors colors(bool on) {
    if (!on) {
        return {};
    }
    return {"\033[1m", "\033[0m", "\033[1;31m", "\033[1;35m", "\033[1;36m", "\033[1;32m"};
}

const char* severity_color(Severity s, const Colors& c) {
    switch (s) {
        case Severity::kError:
            return c.error;
        case Severity::kWarning:
            return c.warning;
        default:
            return c.note;
    }
}

// True for a character of n bytes at text[i] that shows as nothing or as a
// plain blank: no-break and zero-width spaces, the soft hyphen, the
// byte-order mark and the like.
bool invisible(std::string_view text, std::size_t i, std::size_t n) {
    static constexpr std::string_view kInvisible[] = {
        "\xc2\xa0",     "\xc2\xad",     "\xe2\x80\x8b", "\xe2\x80\x8c", "\xe2\x80\x8d",
        "\xe2\x80\x8e", "\xe2\x80\x8f", "\xe2\x80\xaf", "\xe2\x81\xa0", "\xef\xbb\xbf",
    };
    const std::string_view c = text.substr(i, n);
    return std::find(std::begin(kInvisible), std::end(kInvisible), c) != std::end(kInvisible);
}

// The bytes [from, to) of a line for a terminal: printable text and UTF-8 as
// they are, every other byte (controls, invalid UTF-8, invisible characters)
// as <xx>, so that a caret can be set under any byte. Adds to *caret the
// cells before byte `spot` when it lies in the range.
std::string displayed(std::string_view line, std::size_t from, std::size_t to, std::size_t spot,
                      std::size_t* caret) {
    std::string out;
    std::size_t cells = 0;
    for (std::size_t i = from; i < to;) {
        // A character cut by the excerpt's end is shown by its bytes.
        const std::size_t n = utf8_length(line, i);
        const std::size_t step = n == 0 || i + n > to ? 1 : n;
        // A spot inside a character of several bytes is that character's.
        if (spot >= i && spot < i + step) {
            *caret += cells;
        }
        const std::string_view character = line.substr(i, step);
        const auto c = static_cast<unsigned char>(line[i]);
        const bool plain = n == 1
                               ? c >= 0x20 && c < 0x7f
                               : step > 1 && !invisible(line, i, n) && !is_control_char(character);
        if (plain) {
            out.append(character);
            ++cells;
        } else {
            for (const char b : character) {
                out += hex_byte(static_cast<unsigned char>(b));
            }
            cells += 4 * step;
        }
        i += step;
    }
    if (spot >= to) {
        *caret += cells;
    }
    return out;
}

// The bytes of line number `number` (its line feed included), found from the
// walk's place: findings come in line order, so one walk finds all lines.
struct LineWalk {
    std::string_view bytes;
    std::size_t start = 0;
    std::uint64_t number = 1;

    std::string_view line(std::uint64_t wanted) {
        while (number < wanted && start < bytes.size()) {
            start += first_line_of(bytes.substr(start)).size();
            ++number;
        }
        return first_line_of(bytes.substr(start));
    }
};

// A record value for the record view: numbers as they are, texts quoted with
// control bytes escaped, long ones elided with their length.
std::string record_value(const FieldReading& r) {
    return r.scanner == Scanner::kUint ? r.value : quoted_text(r.value, '"', 60);
}

// Every field of the record as the launcher reads it, with the line it came
// from or "absent".
std::string render_record(const FileAnalysis& analysis) {
    std::string out;
    for (const FieldReading& r : analysis.record) {
        char head[96];
        const std::string where = r.line == 0 ? "absent" : "line " + std::to_string(r.line);
        static_cast<void>(
            std::snprintf(head, sizeof head, "%-34s %-11s ", r.key.c_str(), where.c_str()));
        out += head + record_value(r) + "\n";
    }
    return out;
}

// A file that could not be read.
std::string render_unreadable(std::string_view name, std::string_view why, bool color) {
    const Colors c = colors(color);
    return std::string(c.bold) + escaped(name) + ":" + c.reset + " " + c.error +
           "error:" + c.reset + " " + escaped(why) + "\n";
}

}  // namespace

void keep_quoted_lines(ReportedFile* file) {
    std::uint64_t last = 0;
    for (const Finding& f : file->analysis.findings) {
        last = std::max(last, f.line);
    }
    std::size_t end = 0;
    if (last != 0) {
        LineWalk walk{file->bytes};
        const std::string_view line = walk.line(last);
        end = static_cast<std::size_t>(line.data() - file->bytes.data()) + line.size();
    }
    file->bytes.resize(end);
    file->bytes.shrink_to_fit();
}

std::string caret_excerpt(std::string_view line, std::uint64_t number, std::size_t column,
                          bool color) {
    const Colors c = colors(color);
    line = without_line_feed(line);
    const std::size_t spot = column == 0 ? 0 : column - 1;
    std::size_t from = 0;
    if (line.size() > kExcerpt && spot > kExcerpt / 2) {
        from = std::min(spot - kExcerpt / 2, line.size() - kExcerpt);
    }
    const std::size_t to = std::min(line.size(), from + kExcerpt);
    std::size_t caret = 0;
    std::string text;
    if (from > 0) {
        text = "...";
        caret = 3;
    }
    text += displayed(line, from, to, spot, &caret);
    if (to < line.size()) {
        text += "...";
    }
    char gutter[32];
    const int width =
        std::snprintf(gutter, sizeof gutter, "%5llu | ", static_cast<unsigned long long>(number));
    // The caret's gutter is as wide as the line's, past line 99999 too.
    const std::string blank(width > 2 ? static_cast<std::size_t>(width) - 2 : 0, ' ');
    return gutter + text + "\n" + blank + "| " + std::string(caret, ' ') + c.caret + "^" + c.reset +
           "\n";
}

std::string finding_line(std::string_view name, const Finding& f, const ReportStyle& style) {
    const Colors c = colors(style.color);
    const Severity severity = reported_severity(f, style);
    std::string out = c.bold;
    out += escaped(name);
    out += ":";
    if (f.line != 0) {
        out += std::to_string(f.line) + ":" + std::to_string(f.column) + ":";
    }
    out += std::string(c.reset) + " " + severity_color(severity, c) + severity_name(severity) +
           ":" + c.reset + " " + c.bold + escaped(f.message) + c.reset + " [" + f.code_name() +
           "]\n";
    return out;
}

std::string render_findings(std::string_view name, std::string_view bytes,
                            const FileAnalysis& analysis, const ReportStyle& style, bool quiet) {
    const Colors c = colors(style.color);
    std::string out;
    LineWalk walk{bytes};
    for (const Finding& f : analysis.findings) {
        out += finding_line(name, f, style);
        if (f.line != 0) {
            out += caret_excerpt(walk.line(f.line), f.line, f.column, style.color);
        }
        out += "      = " + escaped(f.launcher_does) + "\n";
        if (!f.remedy.empty()) {
            out += (f.edits.empty() ? "      help: " : "      fix (--diff): ") + escaped(f.remedy) +
                   "\n";
        }
    }
    const std::string head = std::string(c.bold) + escaped(name) + ":" + c.reset + " ";
    if (!quiet) {
        out += head + counts_text(reported_counts(analysis, style)) + "\n";
    }
    if (!quiet || analysis.outcome.action == Outcome::Action::kRefuse) {
        out += head + "outcome: the launcher " + outcome_text(analysis.outcome) + "\n";
    }
    return out;
}

std::vector<ReportPiece> render_human(const Report& report) {
    std::vector<ReportPiece> pieces;
    bool outcomes = false;  // whether an outcome line was said
    for (const ReportedFile& r : report.files) {
        if (!r.unreadable.empty()) {
            pieces.push_back({Channel::kProblems,
                              render_unreadable(r.name, r.unreadable, report.problems_color)});
            continue;
        }
        const std::string header =
            report.files.size() > 1 ? "==> " + escaped(r.name) + " <==\n" : "";
        if (report.with_record) {
            pieces.push_back({Channel::kView, header + render_record(r.analysis)});
        }
        if (report.with_config) {
            if (r.analysis.outcome.config_written) {
                pieces.push_back(
                    {Channel::kView, (report.with_record ? "" : header) + r.analysis.config});
            } else {
                pieces.push_back(
                    {Channel::kFindings,
                     escaped(r.name) + ": the launcher stops before it writes a configuration\n"});
            }
        }
        pieces.push_back({Channel::kFindings, render_findings(r.name, r.bytes, r.analysis,
                                                              report.style, report.quiet)});
        outcomes =
            outcomes || !report.quiet || r.analysis.outcome.action == Outcome::Action::kRefuse;
    }
    std::string end;
    if (outcomes) {
        end = std::string("Outcomes are ") + kPrediction + ".\n";
    }
    if (report.files.size() > 1 && !report.quiet) {
        end += render_totals(report.summary);
    }
    if (report.with_statistics) {
        end += render_statistics(report.summary, report.style);
    }
    pieces.push_back({Channel::kFindings, std::move(end)});
    return pieces;
}

}  // namespace quorbix
