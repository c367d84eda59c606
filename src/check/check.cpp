#include "check/check.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/checks.h"
#include "check/file_check.h"
#include "check/report.h"
#include "common/paths.h"
#include "settings/settings_file.h"

#ifndef QUORBIX_VERSION
#define QUORBIX_VERSION "unknown"
#endif

namespace quorbix {

namespace {

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitTrouble = 2;

constexpr const char kUsage[] =
    "usage: quorbix-check [options] [FILE...]\n"
    "Says what the quorbix launcher will do with a settings file, line by line, before a\n"
    "device runs it. With no FILE it checks /opt/quorbix/etc/settings; - reads standard input.\n"
    "It only reads: it writes nothing, runs no shell and starts no tool.\n"
    "\n"
    "  --json        one JSON document with every file's findings and outcome\n"
    "  --config      print the daemon configuration the launcher would write, byte for byte\n"
    "  --record      print every field as the launcher reads it, with its line or \"absent\"\n"
    "  --token TEXT  the token tool's output, for --config (without it, a marked placeholder)\n"
    "  --at TIME     the clock for certificate dates: YYYY-MM-DD[THH:MM[:SS]][Z] (UTC) or "
    "@SECONDS\n"
    "  --strict      warnings count as errors\n"
    "  --codes       list the finding codes and exit\n"
    "  --help        show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "Findings read FILE:LINE:COL: severity: message [code], then the line with a caret\n"
    "under the spot and what the launcher will do instead. With --config or --record the\n"
    "view goes to standard output and the findings to standard error. Colour only on a\n"
    "terminal, never when NO_COLOR is set.\n"
    "\n"
    "Exit status: 0 no file has an error, 1 a file has one, 2 a file cannot be read or the\n"
    "command line is wrong.\n";

struct Options {
    const ReportFormat* format = &kHumanFormat;
    bool config = false;
    bool record = false;
    bool strict = false;
    CheckOptions check;
    std::vector<std::string> files;
};

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? static_cast<unsigned>(-3) : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads n decimal digits at text[*i]; false when they are not there.
bool digits(std::string_view text, std::size_t* i, std::size_t n, unsigned* out) {
    unsigned v = 0;
    for (std::size_t k = 0; k < n; ++k, ++*i) {
        if (*i >= text.size() || text[*i] < '0' || text[*i] > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned>(text[*i] - '0');
    }
    *out = v;
    return true;
}

// The time, when this build's time_t holds it (a 32-bit one ends in 2038).
std::optional<std::time_t> in_time_range(std::int64_t seconds) {
    if (seconds < std::numeric_limits<std::time_t>::min() ||
        seconds > std::numeric_limits<std::time_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::time_t>(seconds);
}

// "YYYY-MM-DD", with "THH:MM", ":SS" and "Z" optional (UTC), or "@SECONDS".
std::optional<std::time_t> parse_time(std::string_view text) {
    if (!text.empty() && text.front() == '@') {
        std::int64_t v = 0;
        bool negative = text.size() > 1 && text[1] == '-';
        std::size_t i = negative ? 2 : 1;
        if (i == text.size()) {
            return std::nullopt;
        }
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9' || v > INT64_MAX / 10 - 9) {
                return std::nullopt;
            }
            v = v * 10 + (text[i] - '0');
        }
        return in_time_range(negative ? -v : v);
    }
    std::size_t i = 0;
    unsigned y = 0;
    unsigned mo = 0;
    unsigned d = 0;
    unsigned h = 0;
    unsigned mi = 0;
    unsigned s = 0;
    if (!digits(text, &i, 4, &y) || i >= text.size() || text[i++] != '-' ||
        !digits(text, &i, 2, &mo) || i >= text.size() || text[i++] != '-' ||
        !digits(text, &i, 2, &d)) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'T' || text[i] == ' ')) {
        ++i;
        if (!digits(text, &i, 2, &h) || i >= text.size() || text[i++] != ':' ||
            !digits(text, &i, 2, &mi)) {
            return std::nullopt;
        }
        if (i < text.size() && text[i] == ':') {
            ++i;
            if (!digits(text, &i, 2, &s)) {
                return std::nullopt;
            }
        }
    }
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    }
    if (i != text.size() || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    const std::int64_t seconds =
        days_from_civil(y, mo, d) * 86400 + std::int64_t{h} * 3600 + std::int64_t{mi} * 60 + s;
    return in_time_range(seconds);
}

bool usage_error(const std::string& what) {
    static_cast<void>(
        std::fprintf(stderr, "quorbix-check: %s\nTry 'quorbix-check --help'.\n", what.c_str()));
    return false;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE":
// kTaken with the value, kNotThis when arg is another option, kMissing when
// the value is not there (said on standard error).
enum class Taken { kTaken, kNotThis, kMissing };

Taken option_value(std::string_view arg, std::string_view name, int argc, char** argv, int* i,
                   std::string* value) {
    if (arg == name) {
        if (*i + 1 >= argc) {
            usage_error("option " + std::string(name) + " needs a value");
            return Taken::kMissing;
        }
        *value = argv[++*i];
        return Taken::kTaken;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        *value = std::string(arg.substr(name.size() + 1));
        return Taken::kTaken;
    }
    return Taken::kNotThis;
}

enum class Parsed { kRun, kExit, kError };

// For --help, --version and --codes: prints what they ask for and returns
// true; false for any other argument.
bool says_and_exits(std::string_view arg) {
    if (arg == "--help" || arg == "-h") {
        static_cast<void>(std::fputs(kUsage, stdout));
    } else if (arg == "--version" || arg == "-V") {
        static_cast<void>(std::printf("quorbix-check %s\n", QUORBIX_VERSION));
    } else if (arg == "--codes") {
        for (const CheckInfo& info : kChecks) {
            static_cast<void>(std::printf("%-30s %-8s %s\n", info.code,
                                          severity_name(info.severity), info.about));
        }
    } else {
        return false;
    }
    return true;
}

Parsed parse(int argc, char** argv, Options* o) {
    bool only_files = false;
    o->check.now = std::time(nullptr);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string value;
        if (only_files || arg == "-" || arg.empty() || arg.front() != '-') {
            o->files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
        } else if (says_and_exits(arg)) {
            return Parsed::kExit;
        } else if (arg == "--json") {
            o->format = &kJsonFormat;
        } else if (arg == "--config") {
            o->config = true;
        } else if (arg == "--record") {
            o->record = true;
        } else if (arg == "--strict") {
            o->strict = true;
        } else if (const Taken t = option_value(arg, "--token", argc, argv, &i, &value);
                   t != Taken::kNotThis) {
            if (t == Taken::kMissing) {
                return Parsed::kError;
            }
            o->check.token = value;
        } else if (const Taken a = option_value(arg, "--at", argc, argv, &i, &value);
                   a != Taken::kNotThis) {
            if (a == Taken::kMissing) {
                return Parsed::kError;
            }
            const std::optional<std::time_t> when = parse_time(value);
            if (!when) {
                usage_error(
                    "--at takes YYYY-MM-DD[THH:MM[:SS]][Z] or @SECONDS within the range "
                    "of this build's clock, not '" +
                    value + "'");
                return Parsed::kError;
            }
            o->check.now = *when;
        } else {
            usage_error("unknown option '" + std::string(arg) + "'");
            return Parsed::kError;
        }
    }
    if (o->files.empty()) {
        o->files.emplace_back(paths::kSettings);
    }
    return Parsed::kRun;
}

// Reads the whole file (standard input for "-"); on failure returns false
// with the reason, which also says how the launcher takes such a file.
bool read_settings(const std::string& name, std::string* bytes, std::string* why) {
    SettingsFile file;
    int fd = STDIN_FILENO;
    if (name != "-") {
        file = settings_file_open(name.c_str());
        if (file.error != 0) {
            *why = std::string("cannot read the file: ") + std::strerror(file.error) +
                   "; the launcher would take it as no settings file";
            return false;
        }
        if (file.not_regular) {
            *why = "not a regular file; the launcher would take it as no settings file";
            return false;
        }
        fd = file.fd.get();
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

bool color_for(std::FILE* stream) {
    const char* no_color = std::getenv("NO_COLOR");
    return (no_color == nullptr || *no_color == '\0') && ::isatty(::fileno(stream)) == 1;
}

bool put(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

// Where a channel of the report goes: the views to standard output, the
// findings there too unless a view is asked for (then to standard error),
// and unreadable files to standard error.
std::FILE* stream_of(Channel channel, std::FILE* findings) {
    switch (channel) {
        case Channel::kView:
            return stdout;
        case Channel::kProblems:
            return stderr;
        default:
            return findings;
    }
}

int run(const Options& o) {
    const bool views = o.config || o.record;
    const ReportFormat& format = *o.format;
    std::FILE* findings = views && format.for_terminal ? stderr : stdout;
    Report report;
    report.style.strict = o.strict;
    report.style.color = format.for_terminal && color_for(findings);
    report.problems_color = color_for(stderr);
    report.with_record = o.record;
    report.with_config = o.config;

    bool unreadable = false;
    bool errors = false;
    for (const std::string& file : o.files) {
        FileResult r;
        r.name = file == "-" ? "<stdin>" : file;
        std::string bytes;
        if (!read_settings(file, &bytes, &r.unreadable)) {
            unreadable = true;
            report.files.push_back(std::move(r));
            continue;
        }
        if (format.for_terminal) {
            r.bytes = bytes;  // the human report quotes the lines
        }
        r.check = check_settings(std::move(bytes), o.check);
        errors = errors || reported_counts(r.check, report.style)[2] != 0;
        report.files.push_back(std::move(r));
    }
    report.exit_status = unreadable ? kExitTrouble : errors ? kExitErrors : kExitClean;
    bool written = true;
    for (const ReportPiece& piece : format.render(report)) {
        written = put(stream_of(piece.channel, findings), piece.text) && written;
    }
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
    switch (parse(argc, argv, &o)) {
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
