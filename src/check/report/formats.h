// The output formats, from one list (formats.def): the --format option's
// values, its line of the usage text and the renderer of each come from it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/report/report.h"

namespace quorbix {

// Each format's renderer, defined in its render_NAME.cpp.
#define QUORBIX_FORMAT(name, note, for_terminal, takes_views) \
    std::unique_ptr<Renderer> make_##name##_renderer(const ReportRun& run);
#include "check/report/formats.def"
#undef QUORBIX_FORMAT

struct ReportFormat {
    const char* name;  // "human", as --format takes it
    const char* note;  // what the usage text says of it, in parentheses; may be empty
    // For a terminal: colour where the output is one, the files' bytes for
    // quoting their lines, and the findings moved to standard error when a
    // view or --diff takes standard output. Otherwise one document on
    // standard output.
    bool for_terminal;
    bool takes_views;  // whether --record and --config have a place in it
    std::unique_ptr<Renderer> (*make)(const ReportRun& run);
};

// Every format, the default first.
inline constexpr ReportFormat kFormats[] = {
#define QUORBIX_FORMAT(name, note, for_terminal, takes_views) \
    {#name, note, for_terminal, takes_views, make_##name##_renderer},
#include "check/report/formats.def"
#undef QUORBIX_FORMAT
};

// The format named `name`, or null for none.
const ReportFormat* format_named(std::string_view name);

// The formats as the usage text lists them: "human (the default), gcc (one
// line per finding), json or sarif".
std::string formats_usage();

// A whole report held at once, as the tests and the fuzz target form one
// (quorbix-check writes each file's part as the file is analysed).
struct Report {
    ReportRun run;  // its `files` is taken from `files`
    std::vector<ReportedFile> files;
    RunSummary summary;
    int exit_status = 0;
};

// The whole report in `format`: begin, each file, end, with consecutive
// pieces of one channel joined.
std::vector<ReportPiece> render_report(const ReportFormat& format, const Report& report);

}  // namespace quorbix
