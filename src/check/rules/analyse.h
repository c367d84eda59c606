// The rules' one entry: what the launcher will make of one settings file's
// bytes, judged by every rule. Reads only: nothing is written, no shell and
// no tool is run.
#pragma once

#include <string_view>

#include "check/model/analysis.h"

namespace quorbix {

// Analyses the settings file `bytes` as the launcher would read it; copies
// no more of it than the launcher's record does.
FileAnalysis analyse_settings(std::string_view bytes, const AnalysisOptions& options);

// The placeholder for the token tool's output in a configuration formed
// without it.
inline constexpr const char kTokenPlaceholder[] = "<token of /opt/quorbix/bin/create-sas>";

}  // namespace quorbix
