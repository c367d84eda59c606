// quorbix-check --codes: every finding code with its severity and summary,
// or one code explained with its example, as text or as JSON.
#pragma once

#include <string>

#include "check/report/formats.h"

namespace quorbix {

// Writes the list of codes, or with `code` not empty that code explained, on
// standard output in `format` (json, or text for the others); false, said as
// a usage error with the nearest code, for an unknown code.
bool print_codes(const ReportFormat& format, const std::string& code);

}  // namespace quorbix
