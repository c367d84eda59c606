#include "check/report/terminal.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

// Bytes of a line shown around a finding's spot, at most.
constexpr std::size_t kExcerpt = 72;

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

}  // namespace

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

std::string ignored_lines(std::string_view name, const FileAnalysis& analysis,
                          bool whole_file_at_line_1) {
    std::string out;
    for (const IgnoredFinding& ignored : analysis.ignored) {
        const Finding& f = ignored.finding;
        out += escaped(name) + ":";
        if (f.line != 0 || whole_file_at_line_1) {
            out += f.line == 0 ? std::string("1:1:") : dec(f.line) + ":" + dec(f.column) + ":";
        }
        out += " ignored: " + escaped(f.message) + " [" + f.code_name() + "] (line " +
               dec(ignored.by_line) + (ignored.reason.empty() ? "" : ": " + ignored.reason) + ")\n";
    }
    return out;
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

}  // namespace quorbix
