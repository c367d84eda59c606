// The checker's configuration file, quorbix-check.conf: KEY=value lines for
// ignore, select, strict and format, found for each checked file in its
// folder or the nearest parent folder that has one.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "check/model/analysis.h"
#include "check/model/codes.h"
#include "check/report/formats.h"

namespace quorbix {

struct Options;

// The configuration file's name; the folder walk never takes it for a
// settings file.
inline constexpr char kRcFileName[] = "quorbix-check.conf";

// What one configuration file says; a key it does not set is empty.
struct RcSettings {
    std::string path;  // as it was found or given
    std::optional<CodeSet> ignore;
    std::optional<CodeSet> select;
    std::optional<bool> strict;
    const ReportFormat* format = nullptr;
};

// Reads the configuration file at path into *rc; false, said on standard
// error as a usage error naming the file and line, when it cannot be read or
// holds a line that is wrong.
bool read_rcfile(const std::string& path, RcSettings* rc);

// Finds the configuration that applies in a folder: the folder's own
// quorbix-check.conf or that of its nearest parent, each folder looked up
// once. With --rcfile every folder has that file; with --norc none.
class RcFinder {
  public:
    // Reads --rcfile FILE, when o names one; false (said) when it is wrong.
    bool init(const Options& o);

    // The configuration of the folder of `file` ("-" and a bare name: the
    // working directory), or null for none; false (said) when a file found
    // is wrong.
    bool for_file(const std::string& file, const RcSettings** rc);

    // The same for a folder.
    bool for_folder(const std::string& folder, const RcSettings** rc);

  private:
    bool norc_ = false;
    std::shared_ptr<const RcSettings> given_;  // --rcfile's
    std::map<std::string, std::shared_ptr<const RcSettings>> by_folder_;
};

// Takes the format and strictness of the configuration `rc` (the working
// directory's) into *o where the command line gave neither.
void apply_run_settings(const RcSettings* rc, Options* o);

// The options one file is analysed with: the command line's, with the codes
// the configuration `rc` ignores and selects when the command line names
// none (with --ignore or --select it replaces both).
AnalysisOptions analysis_for(const Options& o, const RcSettings* rc);

}  // namespace quorbix
