#include "check/cli/driver.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "check/cli/connection.h"
#include "check/cli/file_list.h"
#include "check/cli/in_order.h"
#include "check/cli/inputs.h"
#include "check/cli/options.h"
#include "check/cli/rcfile.h"
#include "check/report/diff.h"
#include "check/report/formats.h"
#include "check/report/summary.h"
#include "check/rules/analyse.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitTrouble = 2;

// Whether a report on stream gets colours: always, never, or (auto) on a
// terminal that is not dumb and without NO_COLOR.
bool color_for(ColorMode mode, std::FILE* stream) {
    if (mode != ColorMode::kAuto) {
        return mode == ColorMode::kAlways;
    }
    const char* no_color = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return (no_color == nullptr || *no_color == '\0') &&
           (term == nullptr || std::strcmp(term, "dumb") != 0) && ::isatty(::fileno(stream)) == 1;
}

bool put(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

// Where a channel of the report goes: the views to standard output, the
// findings there too unless a view or --diff takes it (then to standard
// error), and asides to standard error.
std::FILE* stream_of(Channel channel, std::FILE* findings) {
    switch (channel) {
        case Channel::kView:
            return stdout;
        case Channel::kAside:
            return stderr;
        default:
            return findings;
    }
}

// The file's certain fixes as a unified diff. Standard input has no name a
// patch could apply to, nor has a file whose name a patch cannot carry:
// their fixes are only said, and a note says why there is no diff.
// The note that says why is added to *notes.
std::string diff_of(const ReportedFile& r, bool from_stdin, std::string_view bytes,
                    std::string* notes) {
    std::vector<Edit> edits;
    for (const Finding& f : r.analysis.findings) {
        edits.insert(edits.end(), f.edits.begin(), f.edits.end());
    }
    if (from_stdin) {
        if (!edits.empty()) {
            *notes += "quorbix-check: <stdin>: no diff for standard input; name the file\n";
        }
        return {};
    }
    std::string diff = unified_diff(r.name, bytes, edits);
    const char* why = unpatchable(r.name);
    if (diff.empty() || why == nullptr) {
        return diff;
    }
    *notes += "quorbix-check: " + escaped(r.name) + ": no diff: " + why + "; rename the file\n";
    return {};
}

// One file read and analysed, with what is written for it beside its
// report: its hunks of the diff, and the notes for standard error, whole
// lines, that come before its report.
struct CheckedFile {
    std::string bytes;
    ReportedFile file;  // its `bytes` are this one's
    std::string diff;
    std::string notes;
};

// Reads and analyses one file into *bytes and the report's view of it; with
// --diff, its fixes into *diff (a note into *notes when it gets none). A
// file too large to hold is reported as one that cannot be read, and the run
// goes on.
ReportedFile read_and_analyse(const Options& o, const AnalysisOptions& analysis, const Input& input,
                              std::string* bytes, std::string* diff, std::string* notes) {
    ReportedFile r;
    r.name = input.path == "-" ? "<stdin>" : input.path;
    r.unreadable = input.error;
    std::uint64_t size = 0;
    try {
        if (r.unreadable.empty() && read_input(input.path, o.default_file, bytes, &r.unreadable)) {
            size = bytes->size();
            r.analysis = analyse_settings(*bytes, analysis);
            if (o.connection.enabled) {
                r.connection = check_connection(*bytes, analysis, o.connection, &r.analysis);
            }
            r.bytes = *bytes;  // the human report quotes the lines
            // Its hunks join the diff last: a file that cannot be held has none.
            *diff = o.diff ? diff_of(r, input.path == "-", *bytes, notes) : "";
        }
    } catch (const std::bad_alloc&) {
        std::string().swap(*bytes);
        r.bytes = {};
        r.analysis = FileAnalysis();
        r.connection.reset();
        r.unreadable = no_memory_for(size);
    }
    return r;
}

// Text for standard output: as it is in a pipe or a file, which feed the
// launcher or patch and need the exact bytes; on a terminal escaped, line
// feeds kept, with a note on standard error the first time that changes it.
std::string for_stdout(std::string_view text, bool terminal, bool* noted) {
    if (!terminal) {
        return std::string(text);
    }
    std::string on_terminal = escaped(text, true);
    if (on_terminal != text && !*noted) {
        *noted = true;
        static_cast<void>(
            std::fputs("quorbix-check: standard output is a terminal: control bytes "
                       "are shown as <xx>; a pipe or a file gets the exact bytes\n",
                       stderr));
    }
    return on_terminal;
}

// Where the report's pieces are written as they come, each to its channel's
// stream, and then handed on: a pipe reads each file's report as soon as it
// is checked, in order with what standard error says.
struct Output {
    std::FILE* findings = stdout;  // the findings' stream
    bool terminal = false;         // standard output is a terminal
    bool noted = false;            // for_stdout's note was given
    bool written = true;           // every write so far was whole

    void write(const std::vector<ReportPiece>& pieces) {
        for (const ReportPiece& piece : pieces) {
            std::FILE* stream = stream_of(piece.channel, findings);
            written = put(stream, piece.channel == Channel::kView
                                      ? for_stdout(piece.text, terminal, &noted)
                                      : piece.text) &&
                      written;
        }
        written = std::fflush(stdout) == 0 && written;
    }

    // Writes one file's hunks of the diff, on standard output.
    void write_diff(std::string_view diff) {
        if (!diff.empty()) {
            write({{Channel::kView, std::string(diff)}});
        }
    }
};

// Says on standard error that each of `folders` holds no regular file: a
// wrong path must not pass as a clean fleet.
void say_empty_folders(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        static_cast<void>(std::fprintf(stderr, "quorbix-check: no settings file under %s\n",
                                       escaped(folder).c_str()));
    }
}

int run(const Options& o) {
    const ReportFormat& format = *o.format;
    std::FILE* findings = (o.config || o.record || o.diff) && format.for_terminal ? stderr : stdout;
    ReportRun run;
    run.style.strict = o.strict;
    run.style.color = format.for_terminal && color_for(o.color, findings);
    run.quiet = o.quiet;
    run.with_record = o.record;
    run.with_config = o.config;
    run.with_statistics = o.statistics;
    run.show_ignored = o.analysis.keep_ignored;
    std::vector<std::string> empty_folders;
    std::vector<Input> inputs = o.default_file ? std::vector<Input>{Input{o.files.front(), ""}}
                                               : expand_inputs(o.files, &empty_folders);
    if (!empty_folders.empty()) {
        say_empty_folders(empty_folders);
        return kExitTrouble;
    }
    drop_output_file(&inputs);
    run.files = inputs.size();
    // Each file's configuration file, found before anything is reported: a
    // wrong one ends the run at once.
    RcFinder rc_finder;
    std::vector<const RcSettings*> rcs(inputs.size());
    if (!rc_finder.init(o)) {
        return kExitTrouble;
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!rc_finder.for_file(inputs[i].path, &rcs[i])) {
            return kExitTrouble;
        }
    }
    if (o.connection.enabled) {
        // Each attempt disconnects a gateway online with the same client id.
        if (inputs.size() > 1 && !o.connection.fleet) {
            usage_error("--connect would try " + std::to_string(inputs.size()) +
                        " files, and the broker disconnects each gateway that is online with its "
                        "client id once: add --connect-fleet to try them all");
            return kExitTrouble;
        }
        run.with_connection = true;
        run.at_given = o.at_given;
    }

    // Each file is reported as soon as it and every file before it are
    // analysed, and then let go; with --diff its hunks follow on standard
    // output, the findings being on standard error. Connections are tried
    // one at a time.
    const std::unique_ptr<Renderer> renderer = format.make(run);
    Output out;
    out.findings = findings;
    out.terminal = ::isatty(STDOUT_FILENO) == 1;
    out.write(renderer->begin());
    RunSummary summary;
    const unsigned jobs = o.connection.enabled ? 1 : o.jobs != 0 ? o.jobs : processors_available();
    for_each_in_order<CheckedFile>(
        inputs.size(), jobs,
        [&o, &inputs, &rcs](std::size_t i) {
            auto checked = std::make_unique<CheckedFile>();
            checked->file = read_and_analyse(o, analysis_for(o, rcs[i]), inputs[i], &checked->bytes,
                                             &checked->diff, &checked->notes);
            return checked;
        },
        [&](std::unique_ptr<CheckedFile> checked) {
            out.written = put(stderr, checked->notes) && out.written;
            summary_add(&summary, checked->file, run.style);
            out.write(renderer->file(checked->file));
            out.write_diff(checked->diff);
        });
    const int exit_status = summary.unreadable != 0           ? kExitTrouble
                            : summary.by_severity.errors != 0 ? kExitErrors
                                                              : kExitClean;
    out.write(renderer->end(summary, exit_status));
    if (std::fflush(stdout) != 0 || !out.written) {
        static_cast<void>(std::fprintf(stderr, "quorbix-check: cannot write the report: %s\n",
                                       std::strerror(errno)));
        return kExitTrouble;
    }
    return exit_status;
}

}  // namespace

int check_main(int argc, char** argv) {
    Options o;
    switch (parse_options(argc, argv, &o)) {
        case Parsed::kExit:
            return std::fflush(stdout) == 0 ? kExitClean : kExitTrouble;
        case Parsed::kError:
            return kExitTrouble;
        case Parsed::kRun:
            break;
    }
    if (!o.output.empty() && !open_output(o.output)) {
        return kExitTrouble;
    }
    try {
        return run(o);
    } catch (const std::bad_alloc&) {
        static_cast<void>(std::fputs("quorbix-check: out of memory\n", stderr));
        return kExitTrouble;
    }
}

}  // namespace quorbix
