// How findings look in the formats for a terminal and for gcc: colours, a
// finding's first line, and the caret excerpt of the line it is about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check/model/finding.h"
#include "check/report/report.h"

namespace quorbix {

// ANSI colours and bold, or empty texts without colour.
struct Colors {
    const char* bold = "";
    const char* reset = "";
    const char* error = "";
    const char* warning = "";
    const char* note = "";
    const char* caret = "";
};

// The colours when `on`, else none.
Colors colors(bool on);

// The colour of severity s.
const char* severity_color(Severity s, const Colors& c);

// A finding's first line: FILE:LINE:COL: severity: message [code], without
// LINE:COL for the file as a whole; in colour for a terminal. The name and
// the message are escaped (text.h): the line is always one line.
std::string finding_line(std::string_view name, const Finding& f, const ReportStyle& style);

// With --show-ignored, one line per finding the file's own lines hide:
// FILE:LINE:COL: ignored: message [code] (line N: reason), at line 1,
// column 1 for the file as a whole when `whole_file_at_line_1` (gcc).
std::string ignored_lines(std::string_view name, const FileAnalysis& analysis,
                          bool whole_file_at_line_1);

// The human format's excerpt of one line (its line feed may be included)
// with a caret under byte `column` (from 1; 0 for the line's start), under a
// gutter with the line's number; printable text and UTF-8 as they are, other
// bytes as <xx>, long lines elided around the spot.
std::string caret_excerpt(std::string_view line, std::uint64_t number, std::size_t column,
                          bool color);

}  // namespace quorbix
