// The checks of the run as a whole: the gates and the outcome, the TLS
// files, the token, the port and the configuration the launcher would write.
#pragma once

#include "check/rules/context.h"

namespace quorbix {

// Checks what the record makes of the run, and fills the outcome and the
// configuration of c.analysis.
void check_run(RuleContext& c);

}  // namespace quorbix
