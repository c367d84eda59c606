// What quorbix-check says about a settings file: findings, each tied to a
// spot in the file, with a stable code and one sentence of what the launcher
// will do instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorbix {

enum class Severity {
    kNote,     // informational
    kWarning,  // probably not what was meant
    kError,    // the launcher will refuse to start, or a value written is lost or changed
};

struct Finding {
    std::string code;  // stable, kebab-case: "unknown-key"
    Severity severity = Severity::kNote;
    std::uint64_t line = 0;  // 1-based line of the settings file; 0 for the file as a whole
    std::size_t column = 0;  // 1-based byte column; 0 for the line as a whole
    std::string message;     // what is wrong
    std::string fix;         // one sentence: what the launcher will do instead
};

}  // namespace quorbix
