// What quorbix-check says about a settings file: findings, each tied to a
// spot in the file, with a stable code and one sentence of what the launcher
// will do instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check/model/codes.h"

namespace quorbix {

// One certain change to the settings file: the bytes from (line, column) up
// to, not including, (end_line, end_column) give way to `text`. Lines count
// from 1 and columns are 1-based byte columns; an edit that joins lines ends
// on a later line than it starts.
struct Edit {
    std::uint64_t line = 0;
    std::size_t column = 0;
    std::uint64_t end_line = 0;
    std::size_t end_column = 0;
    std::string text;
};

struct Finding {
    Code code = Code::kUnknownKey;  // its name and severity are the table's (codes.h)
    std::uint64_t line = 0;         // 1-based line of the settings file; 0 for the file as a whole
    std::size_t column = 0;         // 1-based byte column; 0 for the line as a whole
    std::string message;            // what is wrong
    std::string launcher_does;      // one sentence: what the launcher will do instead
    std::size_t end_column = 0;     // the column after the last byte it is about; 0 without a line
    std::string key;                // the record's key of its line; empty for none
    std::string remedy;             // one sentence: what to write instead; may be empty
    std::vector<Edit> edits;        // the remedy as edits, when it is certain; empty otherwise

    // The code's stable, kebab-case name: "unknown-key".
    [[nodiscard]] const char* code_name() const { return code_info(code).name; }
    // The severity the code carries.
    [[nodiscard]] Severity severity() const { return code_info(code).severity; }
};

}  // namespace quorbix
