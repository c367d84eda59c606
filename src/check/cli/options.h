// quorbix-check's command line: what it asks for, read by one table of
// options.
#pragma once

#include <string>
#include <vector>

#include "check/cli/connection.h"
#include "check/model/analysis.h"
#include "check/model/codes.h"
#include "check/report/formats.h"

namespace quorbix {

enum class ColorMode { kAuto, kAlways, kNever };

struct Options {
    const ReportFormat* format = &kFormats[0];  // the default
    ColorMode color = ColorMode::kAuto;
    bool config = false;
    bool record = false;
    bool strict = false;
    bool quiet = false;            // only findings and refusals
    bool statistics = false;       // a count per code at the end
    bool diff = false;             // the certain fixes as one unified diff on standard output
    CodeSet ignore_codes;          // --ignore's codes
    CodeSet selected;              // --select's codes: with any, the codes not selected are ignored
    bool format_given = false;     // --format or --json is given
    std::string rcfile;            // --rcfile: the configuration file for every file
    bool norc = false;             // --norc: no configuration file
    bool file_list_given = false;  // --files-from or --files0-from is given
    int lists_from_stdin = 0;      // how many of them read standard input
    bool codes = false;            // --codes: list the codes, or explain the one given
    std::string output;            // -o, --output: the report's file; empty for standard output
    AnalysisOptions analysis;
    bool at_given = false;               // --at is given
    ConnectionOptions connection;        // --connect and its options
    bool connect_options_given = false;  // an option that goes with --connect is given
    unsigned jobs = 0;                   // files checked at once (-j); 0: one per processor
    std::vector<std::string> files;      // files and folders as given
    // No FILE was given: the device's own settings file is checked, and a
    // folder in its place is, as for the launcher, no settings file.
    bool default_file = false;
};

enum class Parsed { kRun, kExit, kError };

// Reads argv[1..argc) into *o. kExit when an option such as --help has been
// answered on standard output, kError when the command line is wrong (said
// on standard error).
Parsed parse_options(int argc, char** argv, Options* o);

// The codes left out of a report: those ignored, and with any selected every
// code but those and the note that says how many more are not shown. Every
// way of leaving codes out (--ignore, --select, a configuration file) goes
// through here, and none of them hides a code that nothing may hide
// (can_be_hidden).
CodeSet codes_left_out(CodeSet ignored, CodeSet selected);

// The usage line and the hint, on standard error; returns kError.
Parsed usage_error(const std::string& what);

}  // namespace quorbix
