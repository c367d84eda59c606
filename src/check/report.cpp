#include "check/report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "check/checks.h"
#include "check/text.h"

namespace quorbix {

namespace {

// The line of a report that says what the launcher would do.
constexpr const char kPrediction[] =
    "predicted from the settings alone: a full /tmp, a missing tool or a /tmp/quorbix that is "
    "not the launcher's own can still change it";

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

// Length of the valid UTF-8 sequence of two to four bytes at text[i], or 0.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return n;
}

// The bytes [from, to) of a line for a terminal: printable text as it is,
// every other byte as <xx>, so that a caret can be set under any byte. Adds
// to *caret the cells before byte `spot` when it lies in the range.
std::string displayed(std::string_view line, std::size_t from, std::size_t to, std::size_t spot,
                      std::size_t* caret) {
    std::string out;
    std::size_t cells = 0;
    for (std::size_t i = from; i < to;) {
        // A spot inside a character of several bytes is that character's.
        const std::size_t step =
            line[i] & 0x80 ? std::max<std::size_t>(utf8_length(line, i), 1) : 1;
        if (spot >= i && spot < i + step) {
            *caret += cells;
        }
        const auto c = static_cast<unsigned char>(line[i]);
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
            ++cells;
            ++i;
            continue;
        }
        const std::size_t n = c >= 0x80 ? utf8_length(line, i) : 0;
        if (n != 0 && i + n <= to) {
            out.append(line.substr(i, n));
            ++cells;
            i += n;
            continue;
        }
        char esc[8];
        static_cast<void>(std::snprintf(esc, sizeof esc, "<%02x>", c));
        out += esc;
        cells += 4;
        ++i;
    }
    if (spot >= to) {
        *caret += cells;
    }
    return out;
}

// The finding's line and a caret under its spot, elided around the spot
// when the line is long.
std::string excerpt(std::string_view line, const Finding& f, const Colors& c) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    const std::size_t spot = f.column == 0 ? 0 : f.column - 1;
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
    static_cast<void>(
        std::snprintf(gutter, sizeof gutter, "%5llu | ", static_cast<unsigned long long>(f.line)));
    std::string out =
        gutter + text + "\n      | " + std::string(caret, ' ') + c.caret + "^" + c.reset + "\n";
    return out;
}

std::string count_text(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string log_without_newline(const std::string& line) {
    return line.empty() || line.back() != '\n' ? line : line.substr(0, line.size() - 1);
}

// What the launcher would do, in words.
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
    what += ": exit " + std::to_string(o.exit_status) + ", log \"" +
            log_without_newline(o.log_line) + "\"";
    if (o.map_cleanup) {
        what += ", map files removed";
    }
    return what;
}

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

// A record value for the record view: numbers as they are, texts quoted with
// control bytes escaped, long ones elided with their length.
std::string record_value(const FieldReading& r) {
    return r.scanner == Scanner::kUint ? r.value : quoted_text(r.value, '"', 60);
}

}  // namespace

Severity reported_severity(const Finding& f, const ReportStyle& style) {
    return style.strict && f.severity == Severity::kWarning ? Severity::kError : f.severity;
}

std::array<std::size_t, 3> reported_counts(const FileCheck& check, const ReportStyle& style) {
    std::array<std::size_t, 3> counts = check.by_severity;
    if (style.strict) {
        counts[2] += counts[1];
        counts[1] = 0;
    }
    return counts;
}

std::string render_findings(std::string_view name, std::string_view bytes, const FileCheck& check,
                            const ReportStyle& style) {
    const Colors c = colors(style.color);
    std::string out;
    // Findings come in line order; one walk over the file finds their lines.
    std::size_t line_start = 0;
    std::uint64_t line_number = 1;
    for (const Finding& f : check.findings) {
        const Severity severity = reported_severity(f, style);
        out += c.bold;
        out += name;
        out += ":";
        if (f.line != 0) {
            out += std::to_string(f.line) + ":" + std::to_string(f.column) + ":";
        }
        out += std::string(c.reset) + " " + severity_color(severity, c) + severity_name(severity) +
               ":" + c.reset + " " + c.bold + f.message + c.reset + " [" + f.code + "]\n";
        if (f.line != 0) {
            while (line_number < f.line && line_start < bytes.size()) {
                const void* nl =
                    std::memchr(bytes.data() + line_start, '\n', bytes.size() - line_start);
                line_start =
                    nl == nullptr
                        ? bytes.size()
                        : static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1;
                ++line_number;
            }
            const std::size_t end = bytes.find('\n', line_start);
            out += excerpt(
                bytes.substr(line_start, end == std::string_view::npos ? std::string_view::npos
                                                                       : end - line_start + 1),
                f, c);
        }
        out += "      = " + f.fix + "\n";
    }
    const std::array<std::size_t, 3> counts = reported_counts(check, style);
    out += std::string(c.bold) + std::string(name) + ":" + c.reset + " " +
           count_text(counts[2], "error") + ", " + count_text(counts[1], "warning") + ", " +
           count_text(counts[0], "note") + "\n";
    out += std::string(c.bold) + std::string(name) + ":" + c.reset + " outcome: the launcher " +
           outcome_text(check.outcome) + " (" + kPrediction + ")\n";
    return out;
}

std::string render_record(const FileCheck& check) {
    std::string out;
    for (const FieldReading& r : check.record) {
        char head[96];
        const std::string where = r.line == 0 ? "absent" : "line " + std::to_string(r.line);
        static_cast<void>(
            std::snprintf(head, sizeof head, "%-34s %-11s ", r.key.c_str(), where.c_str()));
        out += head + record_value(r) + "\n";
    }
    return out;
}

std::string render_unreadable(std::string_view name, std::string_view why,
                              const ReportStyle& style) {
    const Colors c = colors(style.color);
    return std::string(c.bold) + std::string(name) + ":" + c.reset + " " + c.error +
           "error:" + c.reset + " " + std::string(why) + "\n";
}

std::string render_json(const std::vector<FileResult>& files, const ReportStyle& style,
                        bool with_record, bool with_config, int exit_status) {
    using json = nlohmann::ordered_json;
    json doc;
    doc["files"] = json::array();
    for (const FileResult& file : files) {
        json entry;
        entry["file"] = file.name;
        if (!file.unreadable.empty()) {
            entry["error"] = file.unreadable;
            doc["files"].push_back(std::move(entry));
            continue;
        }
        const FileCheck& check = file.check;
        json findings = json::array();
        for (const Finding& f : check.findings) {
            json j;
            j["code"] = f.code;
            j["severity"] = severity_name(reported_severity(f, style));
            j["line"] = f.line == 0 ? json(nullptr) : json(f.line);
            j["column"] = f.column == 0 ? json(nullptr) : json(f.column);
            j["message"] = f.message;
            j["fix"] = f.fix;
            findings.push_back(std::move(j));
        }
        entry["findings"] = std::move(findings);
        const std::array<std::size_t, 3> counts = reported_counts(check, style);
        entry["counts"] = {{"error", counts[2]}, {"warning", counts[1]}, {"note", counts[0]}};
        const Outcome& o = check.outcome;
        entry["outcome"] = {{"action", action_name(o.action)},
                            {"exit_status", o.exit_status},
                            {"log_line", o.log_line},
                            {"map_cleanup", o.map_cleanup},
                            {"config_written", o.config_written},
                            {"summary", "the launcher " + outcome_text(o)},
                            {"caveat", kPrediction}};
        if (with_record) {
            json record = json::array();
            for (const FieldReading& r : check.record) {
                json j;
                j["key"] = r.key;
                j["type"] = scanner_name(r.scanner);
                j["value"] = r.scanner == Scanner::kUint ? json(r.number) : json(r.value);
                j["line"] = r.line == 0 ? json(nullptr) : json(r.line);
                record.push_back(std::move(j));
            }
            entry["record"] = std::move(record);
        }
        if (with_config) {
            entry["config"] = o.config_written ? json(check.config) : json(nullptr);
        }
        doc["files"].push_back(std::move(entry));
    }
    doc["exit_status"] = exit_status;
    // Bytes of the settings that are not UTF-8 become U+FFFD: the document
    // stays valid whatever the file holds.
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quorbix
