// The files a run is told of other than as arguments, --files-from and
// --files0-from, and the file it writes its report to, -o/--output.
#pragma once

#include <string>
#include <vector>

#include "check/cli/inputs.h"

namespace quorbix {

// Adds the paths listed in the file `from` ("-": standard input) to *paths:
// one a line, a carriage return before the line feed dropped, or with `nul`
// each ended by a NUL byte; empty entries are skipped, and an entry "-"
// names the file "./-", not standard input. False, said as a usage error,
// when the list cannot be read.
bool read_file_list(const std::string& from, bool nul, std::vector<std::string>* paths);

// Points standard output at the file `path`, made (mode 0666 less the umask)
// or emptied: the report goes there. False, said on standard error, when it
// cannot be opened.
bool open_output(const std::string& path);

// Takes the file standard output writes to out of *inputs: a report is never
// checked as a settings file, not even when it lies under a folder walked.
void drop_output_file(std::vector<Input>* inputs);

}  // namespace quorbix
