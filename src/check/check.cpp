#include "check/check.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "check/diff.h"
#include "check/file_check.h"
#include "check/inputs.h"
#include "check/options.h"
#include "check/report.h"
#include "check/summary.h"
#include "common/unique_fd.h"
#include "settings/settings_file.h"

namespace quorbix {

namespace {

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitTrouble = 2;

// Opens a named pipe for reading like standard input, waiting for a writer
// (without one yet a pipe reads as ended); invalid when path is no pipe.
UniqueFd open_pipe(const char* path) {
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    pollfd writer{fd.get(), POLLIN, 0};
    while (::poll(&writer, 1, -1) < 0 && errno == EINTR) {
    }
    return fd;
}

// Reads the whole file (standard input for "-"); a named pipe is read like
// standard input unless `as_launcher`, for the launcher reads regular files
// only. On failure returns false with the reason, which also says how the
// launcher takes such a file.
bool read_settings(const std::string& name, bool as_launcher, std::string* bytes,
                   std::string* why) {
    SettingsFile file;
    int fd = STDIN_FILENO;
    if (name != "-") {
        file = settings_file_open(name.c_str());
        if (file.error != 0) {
            *why = std::string("cannot read the file: ") + std::strerror(file.error) +
                   "; the launcher would take it as no settings file";
            return false;
        }
        if (file.not_regular && !as_launcher) {
            file.fd = open_pipe(name.c_str());
        }
        if (!file.fd) {
            *why = "not a regular file; the launcher would take it as no settings file";
            return false;
        }
        fd = file.fd.get();
        // One allocation of the file's size, not a doubling one: the file
        // is the largest thing a check holds.
        bytes->reserve(static_cast<std::size_t>(file.size) + 1);
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *why = std::string("cannot read the file: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes->append(buf, static_cast<std::size_t>(n));
    }
}

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
// findings there too unless a view is asked for (then to standard error),
// and unreadable files and asides to standard error.
std::FILE* stream_of(Channel channel, std::FILE* findings) {
    switch (channel) {
        case Channel::kView:
            return stdout;
        case Channel::kProblems:
        case Channel::kAside:
            return stderr;
        default:
            return findings;
    }
}

// The file's certain fixes as a unified diff; standard input has no name a
// patch could apply to, so its fixes are only said.
std::string diff_of(const std::string& name, std::string_view bytes, const FileCheck& check) {
    std::vector<Edit> edits;
    for (const Finding& f : check.findings) {
        edits.insert(edits.end(), f.edits.begin(), f.edits.end());
    }
    if (name == "<stdin>") {
        if (!edits.empty()) {
            static_cast<void>(std::fputs(
                "quorbix-check: <stdin>: no diff for standard input; name the file\n", stderr));
        }
        return {};
    }
    return unified_diff(name, bytes, edits);
}

// Reads and checks one file into the report, keeping of it only what the
// format renders; with --diff, adds its fixes to *diff.
void check_file(const Options& o, const Input& input, Report* report, std::string* diff) {
    FileResult r;
    r.name = input.path == "-" ? "<stdin>" : input.path;
    r.unreadable = input.error;
    std::string bytes;
    if (r.unreadable.empty() && read_settings(input.path, o.default_file, &bytes, &r.unreadable)) {
        r.check = check_settings(bytes, o.check);
        if (o.diff) {
            *diff += diff_of(r.name, bytes, r.check);
        }
        if (o.format->for_terminal) {
            r.bytes = std::move(bytes);  // the human report quotes the lines
            keep_quoted_lines(&r);
        }
        if (!o.config) {
            r.check.config.clear();
        }
    }
    summary_add(&report->summary, r, report->style);
    report->files.push_back(std::move(r));
}

int run(const Options& o) {
    const ReportFormat& format = *o.format;
    std::FILE* findings = (o.config || o.record || o.diff) && format.for_terminal ? stderr : stdout;
    Report report;
    report.style.strict = o.strict;
    report.style.color = format.for_terminal && color_for(o.color, findings);
    report.problems_color = format.for_terminal && color_for(o.color, stderr);
    report.quiet = o.quiet;
    report.with_record = o.record;
    report.with_config = o.config;
    report.with_statistics = o.statistics;

    const std::vector<Input> inputs =
        o.default_file ? std::vector<Input>{Input{o.files.front(), ""}} : expand_inputs(o.files);
    std::string diff;
    for (const Input& input : inputs) {
        check_file(o, input, &report, &diff);
    }
    report.exit_status = report.summary.unreadable != 0       ? kExitTrouble
                         : report.summary.by_severity[2] != 0 ? kExitErrors
                                                              : kExitClean;
    bool written = true;
    for (const ReportPiece& piece : format.render(report)) {
        written = put(stream_of(piece.channel, findings), piece.text) && written;
    }
    written = put(stdout, diff) && written;
    if (std::fflush(stdout) != 0 || !written) {
        static_cast<void>(std::fprintf(stderr, "quorbix-check: cannot write the report: %s\n",
                                       std::strerror(errno)));
        return kExitTrouble;
    }
    return report.exit_status;
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
    try {
        return run(o);
    } catch (const std::bad_alloc&) {
        static_cast<void>(std::fputs("quorbix-check: out of memory\n", stderr));
        return kExitTrouble;
    }
}

}  // namespace quorbix
