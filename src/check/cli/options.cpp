#include "check/cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "check/cli/codes_view.h"
#include "check/cli/file_list.h"
#include "check/cli/rcfile.h"
#include "check/cli/time_option.h"
#include "check/model/codes.h"
#include "check/report/formats.h"
#include "check/text/text.h"
#include "common/paths.h"

namespace quorbix {

namespace {

// The usage text, around its line of the formats (formats_usage()).
constexpr const char kUsageHead[] =
    "usage: quorbix-check [options] [FILE|FOLDER...]\n"
    "Says what the quorbix launcher will do with a settings file, line by line, before a\n"
    "device runs it. With no FILE it checks /opt/quorbix/etc/settings as the launcher reads\n"
    "it; - reads standard input, once, and so does a named pipe; a FOLDER is walked for every\n"
    "regular file under it (but quorbix-check.conf), in sorted order, following no link.\n"
    "It only reads: it writes nothing, runs no shell and starts no tool (but with\n"
    "--run-token-tool), and without --connect nothing touches the network.\n"
    "\n"
    "  --format=FORMAT    ";
constexpr const char kUsageTail[] =
    "\n"
    "  --json             the same as --format=json\n"
    "  -q, --quiet        only findings and refusals: nothing for a clean file\n"
    "  --statistics       a count of findings per code at the end\n"
    "  --ignore=CODE,...  neither show nor count these codes\n"
    "  --select=CODE,...  show and count only these codes\n"
    "  --rcfile FILE      take ignore, select, strict and format from FILE, not from the\n"
    "                     quorbix-check.conf of each file's folder or its nearest parent\n"
    "  --norc             read no quorbix-check.conf\n"
    "  --files-from FILE  also check the files FILE lists, one a line (- reads standard input)\n"
    "  --files0-from FILE the same, each path ended by a NUL byte\n"
    "  -o, --output FILE  write the report to FILE instead of standard output\n"
    "  --color[=WHEN]     auto (the default), always or never; --color alone is always\n"
    "  --config           print the daemon configuration the launcher would write, byte for byte\n"
    "  --record           print every field as the launcher reads it, with its line or \"absent\"\n"
    "  --token TEXT       the token tool's output, for --config (without it, a marked "
    "placeholder)\n"
    "  --token-file FILE  the same, read from a file\n"
    "  --at TIME          the clock for certificate dates: YYYY-MM-DD[THH:MM[:SS]][Z] (UTC) or "
    "@SECONDS\n"
    "  --strict           warnings count as errors\n"
    "  --show-ignored     list the findings that the files' own lines hide, and why\n"
    "  --diff             print the certain fixes as one unified diff (patch -p0, git apply);\n"
    "                     the findings then go to standard error; no file is written\n"
    "  --connect          then try to connect to the broker as the gateway would, for each file\n"
    "                     whose outcome is a start, from this machine, with the gateway's own\n"
    "                     client id: a gateway online with it is disconnected once\n"
    "  --connect-fleet    let --connect try more than one file\n"
    "  --connect-timeout=SECONDS  one budget per file for TCP, TLS and MQTT (default 10)\n"
    "  --connect-client-id=ID     connect with this client id instead of the file's\n"
    "  --run-token-tool   for --connect, run the token tool as the launcher does for the password\n"
    "  -j, --jobs=N       check N files at once (default: one per processor); the\n"
    "                     report is the same, in the same order\n"
    "  --codes [CODE]     list the finding codes (with --json, as JSON), or explain CODE with\n"
    "                     an example, and exit\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Findings read FILE:LINE:COL: severity: message [code], then the line with a caret\n"
    "under the spot and what the launcher will do instead. With --config or --record the\n"
    "view goes to standard output and the findings to standard error. Colour (auto) only on\n"
    "a terminal, never when NO_COLOR is set or TERM is dumb.\n"
    "\n"
    "Exit status: 0 no file has an error, 1 a file has one, 2 a file cannot be read or the\n"
    "command line is wrong.\n";

// Adds the codes of the comma-separated list `codes` to *set; false, said
// on standard error, for an unknown or empty code.
bool add_codes(std::string_view option, std::string_view codes, CodeSet* set) {
    for (;;) {
        const std::size_t comma = codes.find(',');
        const std::string_view code = codes.substr(0, comma);
        bool known = false;
        for (const CodeInfo& info : kCodes) {
            if (code == info.name) {
                set->set(static_cast<std::size_t>(info.code));
                known = true;
            }
        }
        if (!known) {
            usage_error("unknown code '" + std::string(code) + "' in " + std::string(option) +
                        "; quorbix-check --codes lists them");
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        codes.remove_prefix(comma + 1);
    }
}

// What one option does with *o and its value (empty for a flag).
using Apply = Parsed (*)(Options* o, const std::string& value);

struct OptionRow {
    const char* name;   // "--format"
    const char* alias;  // "-q", or null
    bool takes_value;
    Apply apply;
};

// The row of `rows` named `value`; otherwise null, having said which names
// `option` takes.
template <typename Row, std::size_t N>
const Row* pick(const char* option, const std::string& value, const Row (&rows)[N]) {
    std::string known;
    for (const Row& row : rows) {
        if (value == row.name) {
            return &row;
        }
        known += (known.empty() ? "" : ", ") + std::string(row.name);
    }
    usage_error(std::string(option) + " takes " + known + ", not '" + value + "'");
    return nullptr;
}

struct ColorModeName {
    // cppcheck-suppress unusedStructMember ; read by pick()
    const char* name;
    ColorMode mode;
};

constexpr ColorModeName kColorModes[] = {
    {"auto", ColorMode::kAuto}, {"always", ColorMode::kAlways}, {"never", ColorMode::kNever}};

Parsed set_format(Options* o, const std::string& value) {
    const ReportFormat* format = pick("--format", value, kFormats);
    if (format == nullptr) {
        return Parsed::kError;
    }
    o->format = format;
    o->format_given = true;
    return Parsed::kRun;
}

Parsed set_color(Options* o, const std::string& value) {
    const ColorModeName* color = pick("--color", value, kColorModes);
    if (color == nullptr) {
        return Parsed::kError;
    }
    o->color = color->mode;
    return Parsed::kRun;
}

Parsed print_usage(Options* /*o*/, const std::string& /*value*/) {
    const std::string usage = kUsageHead + formats_usage() + kUsageTail;
    static_cast<void>(std::fputs(usage.c_str(), stdout));
    return Parsed::kExit;
}

Parsed set_at(Options* o, const std::string& value) {
    const std::optional<std::time_t> when = parse_time(value);
    if (!when) {
        return usage_error(
            "--at takes YYYY-MM-DD[THH:MM[:SS]][Z] or @SECONDS within the range of this build's "
            "clock, not '" +
            value + "'");
    }
    o->analysis.now = *when;
    o->at_given = true;
    return Parsed::kRun;
}

// The bound of --connect-timeout, in seconds.
constexpr int kMaxConnectTimeout = 3600;

Parsed set_connect_timeout(Options* o, const std::string& value) {
    int seconds = 0;
    for (const char c : value) {
        if (c < '0' || c > '9' || seconds > kMaxConnectTimeout) {
            seconds = 0;
            break;
        }
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds < 1 || seconds > kMaxConnectTimeout) {
        return usage_error("--connect-timeout takes whole seconds from 1 to " +
                           std::to_string(kMaxConnectTimeout) + ", not '" + value + "'");
    }
    o->connection.timeout_seconds = seconds;
    o->connect_options_given = true;
    return Parsed::kRun;
}

// The most files -j checks at once.
constexpr unsigned kMaxJobs = 1024;

Parsed set_jobs(Options* o, const std::string& value) {
    unsigned jobs = 0;
    for (const char c : value) {
        if (c < '0' || c > '9' || jobs > kMaxJobs) {
            jobs = 0;
            break;
        }
        jobs = jobs * 10 + static_cast<unsigned>(c - '0');
    }
    if (jobs < 1 || jobs > kMaxJobs) {
        return usage_error("-j takes a number of files to check at once from 1 to " +
                           std::to_string(kMaxJobs) + ", not '" + value + "'");
    }
    o->jobs = jobs;
    return Parsed::kRun;
}

// The token tool's output from a file; the launcher keeps only its first
// line, so a bounded head of the file is all that is read.
Parsed set_token_file(Options* o, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return usage_error("cannot read the token file " + path + ": " + std::strerror(errno));
    }
    std::string text(std::size_t{64} << 10, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f));
    const bool failed = std::ferror(f) != 0;
    static_cast<void>(std::fclose(f));
    if (failed) {
        return usage_error("cannot read the token file " + path);
    }
    o->analysis.token = std::move(text);
    return Parsed::kRun;
}

// The paths of a list of files, --files-from (one a line) or --files0-from
// (each ended by a NUL byte), after those given so far.
Parsed add_file_list(Options* o, const std::string& from, bool nul) {
    o->file_list_given = true;
    o->lists_from_stdin += from == "-" ? 1 : 0;
    return read_file_list(from, nul, &o->files) ? Parsed::kRun : Parsed::kError;
}

// clang-format off
constexpr OptionRow kOptions[] = {
    {"--format", nullptr, true, set_format},
    {"--json", nullptr, false, [](Options* o, const std::string&) { return set_format(o, "json"); }},
    {"--quiet", "-q", false, [](Options* o, const std::string&) { o->quiet = true; return Parsed::kRun; }},
    {"--statistics", nullptr, false, [](Options* o, const std::string&) { o->statistics = true; return Parsed::kRun; }},
    {"--ignore", nullptr, true, [](Options* o, const std::string& v) { return add_codes("--ignore", v, &o->ignore_codes) ? Parsed::kRun : Parsed::kError; }},
    {"--select", nullptr, true, [](Options* o, const std::string& v) { return add_codes("--select", v, &o->selected) ? Parsed::kRun : Parsed::kError; }},
    {"--color", nullptr, true, set_color},
    {"--config", nullptr, false, [](Options* o, const std::string&) { o->config = true; return Parsed::kRun; }},
    {"--record", nullptr, false, [](Options* o, const std::string&) { o->record = o->analysis.with_record = true; return Parsed::kRun; }},
    {"--token", nullptr, true, [](Options* o, const std::string& v) { o->analysis.token = v; return Parsed::kRun; }},
    {"--token-file", nullptr, true, set_token_file},
    {"--at", nullptr, true, set_at},
    {"--rcfile", nullptr, true, [](Options* o, const std::string& v) { o->rcfile = v; return Parsed::kRun; }},
    {"--norc", nullptr, false, [](Options* o, const std::string&) { o->norc = true; return Parsed::kRun; }},
    {"--files-from", nullptr, true, [](Options* o, const std::string& v) { return add_file_list(o, v, false); }},
    {"--files0-from", nullptr, true, [](Options* o, const std::string& v) { return add_file_list(o, v, true); }},
    {"--output", "-o", true, [](Options* o, const std::string& v) { o->output = v; return Parsed::kRun; }},
    {"--show-ignored", nullptr, false, [](Options* o, const std::string&) { o->analysis.keep_ignored = true; return Parsed::kRun; }},
    {"--strict", nullptr, false, [](Options* o, const std::string&) { o->strict = true; return Parsed::kRun; }},
    {"--diff", nullptr, false, [](Options* o, const std::string&) { o->diff = true; return Parsed::kRun; }},
    {"--connect", nullptr, false, [](Options* o, const std::string&) { o->connection.enabled = true; return Parsed::kRun; }},
    {"--connect-fleet", nullptr, false, [](Options* o, const std::string&) { o->connection.fleet = o->connect_options_given = true; return Parsed::kRun; }},
    {"--connect-timeout", nullptr, true, set_connect_timeout},
    {"--connect-client-id", nullptr, true, [](Options* o, const std::string& v) { o->connection.client_id = v; o->connect_options_given = true; return Parsed::kRun; }},
    {"--run-token-tool", nullptr, false, [](Options* o, const std::string&) { o->connection.run_token_tool = o->connect_options_given = true; return Parsed::kRun; }},
    {"--jobs", "-j", true, set_jobs},
    {"--codes", nullptr, false, [](Options* o, const std::string&) { o->codes = true; return Parsed::kRun; }},
    {"--help", "-h", false, print_usage},
    {"--version", "-V", false, [](Options*, const std::string&) { static_cast<void>(std::printf("%s %s\n", kToolName, tool_version())); return Parsed::kExit; }},
};
// clang-format on

// The options whose value is optional, as GNU tools have them: given only
// as "--name=VALUE", and the name alone means the value here. The next
// argument is never taken for it.
constexpr std::pair<const char*, const char*> kOptionalValues[] = {{"--color", "always"}};

// Finds the option `arg` names ("--name", "--name=VALUE" or the alias) and
// takes its value from the argument or the next one; null for no option.
const OptionRow* find_option(std::string_view arg, std::string* value, bool* inline_value) {
    for (const OptionRow& row : kOptions) {
        const std::string_view name = row.name;
        if (arg == name || (row.alias != nullptr && arg == row.alias)) {
            *inline_value = false;
            for (const auto& [optional, meaning] : kOptionalValues) {
                if (name == optional) {
                    *value = meaning;
                    *inline_value = true;
                }
            }
            return &row;
        }
        if (row.takes_value && arg.size() > name.size() && arg.substr(0, name.size()) == name &&
            arg[name.size()] == '=') {
            *value = std::string(arg.substr(name.size() + 1));
            *inline_value = true;
            return &row;
        }
    }
    return nullptr;
}

// Checks the options against each other once all are read: kError (said)
// for a combination that cannot be had.
Parsed check_combinations(const Options& o) {
    if ((o.config || o.record) && !o.format->takes_views) {
        return usage_error("--config and --record go with --format=human or json");
    }
    if (o.diff && !o.format->for_terminal) {
        return usage_error(std::string("--diff takes standard output alone: not with --format=") +
                           o.format->name);
    }
    if (o.diff && (o.config || o.record)) {
        return usage_error("--diff takes standard output alone: not with --config or --record");
    }
    const ConnectionOptions& c = o.connection;
    if (!c.enabled && o.connect_options_given) {
        return usage_error(
            "--connect-fleet, --connect-timeout, --connect-client-id and --run-token-tool go with "
            "--connect");
    }
    if (c.run_token_tool && o.analysis.token) {
        return usage_error(
            "--run-token-tool and --token or --token-file each give the token: "
            "give one of them");
    }
    if (std::count(o.files.begin(), o.files.end(), "-") + o.lists_from_stdin > 1) {
        return usage_error("standard input can be read only once; '-' is given more than once");
    }
    return Parsed::kRun;
}

}  // namespace

CodeSet codes_left_out(CodeSet ignored, CodeSet selected) {
    // A selection ignores every other code, but for the note that says how
    // many findings of a selected code are not shown.
    if (selected.any()) {
        selected.set(static_cast<std::size_t>(Code::kMoreNotShown));
        ignored |= ~selected;
    }
    return ignored & hideable_codes();
}

Parsed usage_error(const std::string& what) {
    // `what` may quote an argument: it is escaped as any text read.
    static_cast<void>(std::fprintf(stderr, "quorbix-check: %s\nTry 'quorbix-check --help'.\n",
                                   escaped(what).c_str()));
    return Parsed::kError;
}

Parsed parse_options(int argc, char** argv, Options* o) {
    bool only_files = false;
    o->analysis.now = std::time(nullptr);
    o->analysis.with_record = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (only_files || arg == "-" || arg.empty() || arg.front() != '-') {
            o->files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
            continue;
        }
        std::string value;
        bool inline_value = false;
        const OptionRow* row = find_option(arg, &value, &inline_value);
        if (row == nullptr) {
            return usage_error("unknown option '" + std::string(arg) + "'");
        }
        if (row->takes_value && !inline_value) {
            if (i + 1 >= argc) {
                return usage_error("option " + std::string(row->name) + " needs a value");
            }
            value = argv[++i];
        }
        const Parsed parsed = row->apply(o, value);
        if (parsed != Parsed::kRun) {
            return parsed;
        }
    }
    // --codes lists the codes, or explains the one given, in the format given.
    if (o->codes) {
        if (o->files.size() > 1) {
            return usage_error("--codes explains one code at a time");
        }
        if (!o->output.empty() && !open_output(o->output)) {
            return Parsed::kError;
        }
        return print_codes(*o->format, o->files.empty() ? "" : o->files.front()) ? Parsed::kExit
                                                                                 : Parsed::kError;
    }
    if (!o->rcfile.empty() && o->norc) {
        return usage_error("--rcfile and --norc each choose the configuration file: give one");
    }
    // The format and strictness are one per run: the working directory's.
    RcFinder finder;
    const RcSettings* rc = nullptr;
    if (!finder.init(*o) || !finder.for_folder(".", &rc)) {
        return Parsed::kError;
    }
    apply_run_settings(rc, o);
    if (const Parsed combined = check_combinations(*o); combined != Parsed::kRun) {
        return combined;
    }
    o->analysis.ignored = codes_left_out(o->ignore_codes, o->selected);
    if (o->files.empty() && !o->file_list_given) {
        o->files.emplace_back(paths::kSettings);
        o->default_file = true;
    }
    return Parsed::kRun;
}

}  // namespace quorbix
