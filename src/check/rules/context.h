// The state of one file's analysis, shared by the rules, and the one path by
// which findings are added.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/model/analysis.h"
#include "check/model/codes.h"
#include "check/rules/suppress.h"
#include "settings/scanner.h"
#include "staging/gates.h"

namespace quorbix {

// Where a finding points: a line and a byte column, both from 1; line 0 is
// the file as a whole.
struct Spot {
    std::uint64_t line = 0;
    std::size_t column = 0;
};

// The TLS files as the launcher would stage them: each one's decoded bytes
// (by TlsFile), and which of them it stages.
struct StagedTls {
    std::string bytes[std::size(kTlsFiles)];
    TlsFilesPresent present;
};

// The gates of one run as the settings promise them, judged once.
struct JudgedGates {
    // The gates before the configuration, each on its own, in the run's order.
    std::array<GateVerdict, 2> before_config{};
    // Every stop of the TLS gate, in the order a run meets them when the
    // files before each are staged (the first is the gate's verdict), with
    // the file each one misses.
    struct TlsStop {
        GateVerdict verdict;
        TlsFile file;
    };
    std::vector<TlsStop> tls_stops;
    bool config_written = false;  // no gate before the configuration stops the run
    GateVerdict ends_run;         // the verdict that ends the run; kGoOn when it starts
};

// Judges the gates of the record s once: the CSV gate by `csv_present`, the
// TLS gate by the files `tls` stages.
JudgedGates judge_gates(const GatewaySettings& s, bool csv_present, const StagedTls& tls);

// What the rules share while they judge one file.
struct RuleContext {
    std::string_view file;  // the file's bytes
    SettingsStream* stream = nullptr;
    const GatewaySettings* s = nullptr;  // the record as the launcher reads it
    const AnalysisOptions* options = nullptr;
    // The line each field is read from (number 0: absent), in record order:
    // the first line of its key.
    std::vector<SettingsLineInfo> key_lines = std::vector<SettingsLineInfo>(settings_field_count());
    bool csv_present = false;  // whether the CSV configuration is staged
    StagedTls tls;
    std::uint64_t continued_through = 0;  // the last line of a value spread over lines
    // Fields whose value a finding of its own explains (spread over lines,
    // URL-safe Base64): findings about what they stage would only repeat it.
    std::vector<bool> explained = std::vector<bool>(settings_field_count());
    // The line meant to set each field where a finding says it is not read
    // there (a key misspelled, behind "export ", with ":" for "="): what the
    // file then lacks is said on that line, not again for the file.
    std::vector<std::uint64_t> meant = std::vector<std::uint64_t>(settings_field_count());
    // A finding about the file as a whole that explains every other (a wide
    // encoding, CR-only line ends): no other is added after it.
    bool file_explained = false;
    JudgedGates gates;
    Suppressions suppressions;  // what the file's own lines hide
    FileAnalysis analysis;      // what the rules found so far; by_code counts as they go
};

// Prepares the check of the record s, read from stream over the bytes file.
void context_init(RuleContext& c, std::string_view file, SettingsStream* stream,
                  const GatewaySettings& s, const AnalysisOptions& options);

// Adds a finding of `code` at `spot`; beyond a number per code it is
// counted, not shown. Its texts are escaped (text.h) for every format. After
// a finding that explains the whole file, nothing more is added; a code the
// options ignore is dropped, and one a line of the file hides is kept aside.
void add_finding(RuleContext& c, Code code, Spot spot, std::string_view message,
                 std::string_view launcher_does, std::string_view remedy = {},
                 std::vector<Edit> edits = {});

// Ends the check: says how many findings of a code are not shown and puts
// the findings in the order of the file's lines, the file's own last.
void context_finish(RuleContext& c);

// The bytes the launcher stages for the Base64 text `text`: empty when it
// decodes to nothing.
std::string staged_bytes(const std::string& text);

// A line's bytes, its line feed included.
std::string_view line_bytes(const RuleContext& c, const SettingsLineInfo& line);

// Where the value of a field's line begins: after the "=", and after an
// opening double quote; the file as a whole for an absent field.
Spot value_spot(const RuleContext& c, std::size_t field);

// How the checker speaks of a gate: the code it reports a stop under, what
// lets a run past it, and what follows the stop.
struct GateWords {
    Code code;
    std::string passed;  // "the CSV configuration is staged"
    const char* after;   // "; the daemon is not started"
};

// The words for gate, one of the gates before the daemon starts that stop
// a run (the CSV gate's for any other).
GateWords gate_words(Gate gate);

// The start of a sentence about a stage that an earlier gate keeps this run
// from: "once the CSV configuration is staged, " and the like, from the
// gates before the configuration that stop it (those before `stage` only,
// when it is one of them), then `conditions` of the stage's own; empty when
// nothing stands between.
std::string once_clause(const RuleContext& c, std::vector<std::string> conditions = {},
                        Gate stage = Gate::kNone);

// "the launcher writes " for a sentence about the configuration, behind
// once_clause().
std::string launcher_writes_clause(const RuleContext& c);

// How the launcher ends up reading the record's key: from which line, or
// not at all.
std::string reading_of(const RuleContext& c, std::string_view key);

// Says that `line` was meant to set `key`, a key of the record, and does not.
void note_meant(RuleContext& c, std::string_view key, std::uint64_t line);

}  // namespace quorbix
