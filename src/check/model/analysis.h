// What the launcher will make of one settings file, as the rules find it
// (rules/analyse.h) and every report renders it: every finding, the outcome
// of its gates, the record as it reads it and the configuration it would
// write.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "check/model/codes.h"
#include "check/model/finding.h"
#include "settings/gateway_settings.h"

namespace quorbix {

struct AnalysisOptions {
    std::time_t now = 0;               // the clock for certificate dates
    std::optional<std::string> token;  // the token tool's output, when known
    CodeSet ignored;                   // codes neither reported nor counted
    bool with_record = true;           // whether FileAnalysis::record is filled
    bool keep_ignored = false;         // whether FileAnalysis::ignored is filled
};

// What the launcher would do with the file, judged from the settings alone.
struct Outcome {
    enum class Action { kStart, kRefuse, kDisabled };
    Action action = Action::kStart;
    int exit_status = 0;       // as the parent sees it: 0, 1 or 255
    std::string log_line;      // the line appended to the log, line feed included
    bool map_cleanup = false;  // whether the map files are removed
    bool config_written = false;
    std::optional<Code> gate_code;  // the code of the gate that ends a run that does not start
};

// One field of the record as the launcher reads it.
struct FieldReading {
    std::string key;
    Scanner scanner = Scanner::kText;
    std::string value;         // the text, or the number in decimal
    std::uint32_t number = 0;  // the number, for a number field
    std::uint64_t line = 0;    // the line it came from; 0 when the key is absent
};

// A finding that a line of the file hides ("# quorbix-check: ignore=CODE").
struct IgnoredFinding {
    Finding finding;
    std::uint64_t by_line = 0;  // the line that hides it
    std::string reason;         // what that line says after " -- ", escaped
};

// The whole check of one file: the model every report renders.
struct FileAnalysis {
    std::vector<Finding> findings;  // in the order of the file's lines, the file's own last
    // Findings by severity, all of them, those beyond what one code shows in
    // `findings` included.
    SeverityCounts by_severity;
    std::array<std::size_t, kCodeCount> by_code{};  // all findings, by code
    Outcome outcome;
    std::vector<FieldReading> record;  // every field, in record order, when asked for
    std::string config;                // the configuration, when one is written
    // What the file's own lines hide, in line order, when asked for; neither
    // shown nor counted among the findings.
    std::vector<IgnoredFinding> ignored;
};

}  // namespace quorbix
