// The checker's own lines in a settings file: "# quorbix-check: ignore=CODE,..."
// hides those codes on the next line, "# quorbix-check: ignore-file=CODE,..."
// in the whole file, and text after " -- " says why. Such a line begins with
// "#" and holds no key of the record, so the launcher never reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/model/codes.h"

namespace quorbix {

// What one line of the file says to the checker.
struct SuppressionLine {
    bool whole_file = false;  // ignore-file= rather than ignore=
    CodeSet codes;            // the known codes it names
    std::string reason;       // the text after " -- ", escaped; may be empty
    // What is wrong with it, each at its 1-based column: an unknown code, or
    // a word other than ignore and ignore-file. Empty for a sound line.
    struct Fault {
        std::size_t column = 0;
        std::string message;
    };
    std::vector<Fault> faults;
};

// The line `content` (without its line feed) read as the checker's own: none
// when it does not begin with "#", blanks and "quorbix-check:".
std::optional<SuppressionLine> read_suppression_line(std::string_view content);

// One sound line of a file, and what it hides.
struct SuppressionRule {
    std::uint64_t line = 0;    // the line that says it
    std::uint64_t target = 0;  // the line it hides codes on; 0 for the whole file
    CodeSet codes;
    std::string reason;
};

// Every line of one file that hides codes, the file's first, then by target;
// and the faults of its lines, each with its line.
struct Suppressions {
    std::vector<SuppressionRule> rules;
    std::vector<std::pair<std::uint64_t, SuppressionLine::Fault>> faults;
};

// The rule that hides `code` at line `line` (0: the file as a whole), or null.
const SuppressionRule* suppression_for(const Suppressions& s, Code code, std::uint64_t line);

struct RuleContext;

// Reads the checker's own lines of the file into c.suppressions (from
// context_init, so that every finding added through the context is hidden
// as they say).
void read_suppressions(RuleContext& c);

// Adds a finding for each fault of the checker's own lines: once per file,
// by the rules.
void report_suppression_faults(RuleContext& c);

}  // namespace quorbix
