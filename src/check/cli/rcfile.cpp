#include "check/cli/rcfile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "check/cli/options.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

namespace fs = std::filesystem;

// The most bytes of a configuration file read.
constexpr std::size_t kMaxRcBytes = std::size_t{1} << 20;

// The file's bytes into *text; false with the reason in *why.
bool read_whole(const std::string& path, std::string* text, std::string* why) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    text->resize(kMaxRcBytes + 1);
    text->resize(std::fread(text->data(), 1, text->size(), f));
    const bool failed = std::ferror(f) != 0;
    static_cast<void>(std::fclose(f));
    if (failed) {
        *why = "a read failed";
    } else if (text->size() > kMaxRcBytes) {
        *why = "it is larger than " + dec(kMaxRcBytes) + " bytes";
    }
    return !failed && text->size() <= kMaxRcBytes;
}

// The codes of the comma-separated list `value` (none for an empty one)
// into *set; the unknown code otherwise.
std::optional<std::string> read_codes(std::string_view value, CodeSet* set) {
    if (value.empty()) {
        return std::nullopt;
    }
    for (;;) {
        const std::size_t comma = value.find(',');
        const std::string_view code = trim_blanks(value.substr(0, comma));
        const std::optional<Code> known = code_named(code);
        if (!known) {
            return std::string(code);
        }
        set->set(static_cast<std::size_t>(*known));
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        value.remove_prefix(comma + 1);
    }
}

// Reads one KEY=value into *rc; the error's text when it is wrong.
std::optional<std::string> read_setting(std::string_view key, std::string_view value,
                                        RcSettings* rc) {
    if (key == "ignore" || key == "select") {
        CodeSet codes;
        if (const std::optional<std::string> unknown = read_codes(value, &codes)) {
            return "unknown code '" + *unknown + "' in " + std::string(key) +
                   "; quorbix-check --codes lists them";
        }
        (key == "ignore" ? rc->ignore : rc->select) = codes;
    } else if (key == "strict") {
        if (value != "0" && value != "1" && value != "true" && value != "false") {
            return "strict takes 0, 1, true or false, not '" + std::string(value) + "'";
        }
        rc->strict = value == "1" || value == "true";
    } else if (key == "format") {
        rc->format = format_named(value);
        if (rc->format == nullptr) {
            std::string names;
            for (const ReportFormat& format : kFormats) {
                names += (names.empty() ? "" : ", ") + std::string(format.name);
            }
            return "format takes " + names + ", not '" + std::string(value) + "'";
        }
    } else {
        return "unknown key '" + std::string(key) +
               "'; the keys are ignore, select, strict and format";
    }
    return std::nullopt;
}

// The folder as an absolute path without "." or "..", and without a
// closing "/".
fs::path absolute_folder(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(folder, ec).lexically_normal();
    if (p.filename().empty() && p.has_relative_path()) {
        p = p.parent_path();
    }
    return p;
}

}  // namespace

bool read_rcfile(const std::string& path, RcSettings* rc) {
    std::string text;
    std::string why;
    if (!read_whole(path, &text, &why)) {
        usage_error("cannot read the configuration file " + path + ": " + why);
        return false;
    }
    rc->path = path;
    std::string_view rest = text;
    std::uint64_t number = 0;
    std::vector<std::string_view> keys_seen;
    std::vector<std::uint64_t> lines_seen;
    while (!rest.empty()) {
        ++number;
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trim_blanks(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string at = path + ":" + dec(number) + ": ";
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            usage_error(at + "not KEY=value: '" + std::string(line) + "'");
            return false;
        }
        const std::string_view key = trim_blanks(line.substr(0, eq));
        for (std::size_t i = 0; i < keys_seen.size(); ++i) {
            if (keys_seen[i] == key) {
                usage_error(at + std::string(key) + " is set again (first on line " +
                            dec(lines_seen[i]) + ")");
                return false;
            }
        }
        if (const std::optional<std::string> wrong =
                read_setting(key, trim_blanks(line.substr(eq + 1)), rc)) {
            usage_error(at + *wrong);
            return false;
        }
        keys_seen.push_back(key);
        lines_seen.push_back(number);
    }
    return true;
}

bool RcFinder::init(const Options& o) {
    norc_ = o.norc;
    if (o.rcfile.empty()) {
        return true;
    }
    auto rc = std::make_shared<RcSettings>();
    if (!read_rcfile(o.rcfile, rc.get())) {
        return false;
    }
    given_ = std::move(rc);
    return true;
}

bool RcFinder::for_file(const std::string& file, const RcSettings** rc) {
    const std::string folder = file == "-" ? "." : fs::path(file).parent_path().string();
    return for_folder(folder.empty() ? "." : folder, rc);
}

bool RcFinder::for_folder(const std::string& folder, const RcSettings** rc) {
    *rc = given_.get();
    if (norc_ || given_) {
        return true;
    }
    std::vector<std::string> visited;
    std::shared_ptr<const RcSettings> found;
    for (fs::path p = absolute_folder(folder);; p = p.parent_path()) {
        const auto cached = by_folder_.find(p.string());
        if (cached != by_folder_.end()) {
            found = cached->second;
            break;
        }
        visited.push_back(p.string());
        const std::string candidate = (p / kRcFileName).string();
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            auto read = std::make_shared<RcSettings>();
            if (!read_rcfile(candidate, read.get())) {
                return false;
            }
            found = std::move(read);
            break;
        }
        if (!p.has_relative_path()) {
            break;  // the root
        }
    }
    for (const std::string& v : visited) {
        by_folder_[v] = found;
    }
    *rc = found.get();
    return true;
}

void apply_run_settings(const RcSettings* rc, Options* o) {
    if (rc == nullptr) {
        return;
    }
    if (rc->format != nullptr && !o->format_given) {
        o->format = rc->format;
    }
    if (rc->strict && !o->strict) {
        o->strict = *rc->strict;
    }
}

AnalysisOptions analysis_for(const Options& o, const RcSettings* rc) {
    AnalysisOptions a = o.analysis;
    // Codes named on the command line replace the file's choice whole.
    if (rc != nullptr && (rc->ignore || rc->select) && o.ignore_codes.none() && o.selected.none()) {
        a.ignored = codes_left_out(rc->ignore.value_or(CodeSet()), rc->select.value_or(CodeSet()));
    }
    return a;
}

}  // namespace quorbix
