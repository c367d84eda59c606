// The checker's findings by code: each code's severity and what it is about,
// in one list (codes.def) from which the enum and the table both come.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace quorbix {

// What a finding's mistake does, by the rule at the head of codes.def.
enum class Severity {
    kNote,
    kWarning,
    kError,
};

// Counts of findings by severity.
struct SeverityCounts {
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::size_t notes = 0;

    // Counts n more findings of severity s.
    constexpr void add(Severity s, std::size_t n = 1) {
        (s == Severity::kError ? errors : s == Severity::kWarning ? warnings : notes) += n;
    }
};

// A finding's code.
enum class Code : std::uint8_t {
#define QUORBIX_CODE(enumerator, code, severity, about, detail) enumerator,
#include "check/model/codes.def"
#undef QUORBIX_CODE
};

struct CodeInfo {
    Code code;
    const char* name;    // as reports say it: "unknown-key"
    Severity severity;   // the severity every finding of the code carries
    const char* about;   // what the code is about, for the manual and --help
    const char* detail;  // the rule's longer text: why it matters, what to write instead
};

// Every code, in the enum's order.
inline constexpr CodeInfo kCodes[] = {
#define QUORBIX_CODE(enumerator, code, severity, about, detail) \
    {Code::enumerator, code, Severity::severity, about, detail},
#include "check/model/codes.def"
#undef QUORBIX_CODE
};

// The number of codes.
inline constexpr std::size_t kCodeCount = std::size(kCodes);

// A set of codes, by their place in kCodes.
using CodeSet = std::bitset<kCodeCount>;

// True for the codes of the TLS files' contents (check/tls), apart from the
// gates' TLS codes.
constexpr bool is_tls_material_code(Code code) {
    return code >= Code::kTlsNotPemOrDer && code <= Code::kTlsChainOrder;
}

// True for the codes of the connection tried with --connect (cli/connection).
constexpr bool is_connection_code(Code code) {
    return code >= Code::kConnectOk && code <= Code::kConnectNotTried;
}

// False for a code that nothing hides: not --ignore or --select, nor any
// other filter of the findings. A file that cannot be read is always said,
// for its run has told nothing about it.
constexpr bool can_be_hidden(Code code) {
    return code != Code::kUnreadable;
}

// The table's entry for code.
constexpr const CodeInfo& code_info(Code code) {
    return kCodes[static_cast<std::size_t>(code)];
}

// Every code a filter of the findings may hide (can_be_hidden).
inline CodeSet hideable_codes() {
    CodeSet set;
    for (const CodeInfo& info : kCodes) {
        set.set(static_cast<std::size_t>(info.code), can_be_hidden(info.code));
    }
    return set;
}

// The code named `name` as reports say it ("unknown-key"); none for a name
// that is no code's.
inline std::optional<Code> code_named(std::string_view name) {
    const auto* info = std::find_if(std::begin(kCodes), std::end(kCodes),
                                    [name](const CodeInfo& i) { return name == i.name; });
    return info == std::end(kCodes) ? std::nullopt : std::optional<Code>(info->code);
}

}  // namespace quorbix
