#include "check/rules/analyse.h"

#include <type_traits>

#include "check/rules/context.h"
#include "check/rules/line_checks.h"
#include "check/rules/run_checks.h"
#include "check/rules/suppress.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

// Every field of the record as the launcher reads it, with its line.
void fill_record(RuleContext& c) {
    std::size_t position = 0;
    settings_for_each_field(*c.s, [&](Scanner scanner, const char* key, const auto& field) {
        FieldReading r;
        r.key = key;
        r.scanner = scanner;
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
            r.value = dec(field);
            r.number = field;
        } else {
            r.value = field;
        }
        r.line = c.key_lines[position++].number;
        c.analysis.record.push_back(std::move(r));
    });
}

}  // namespace

FileAnalysis analyse_settings(std::string_view bytes, const AnalysisOptions& options) {
    SettingsStreamPtr stream = settings_open_view(bytes);
    GatewaySettings s;
    // The CSV value, a fleet file's largest by far, is read as a view of the
    // file (context_init) rather than copied into the record, unless the
    // record is asked for: an analysis then holds little more than the file.
    settings_load_from(s, stream.get(), options.with_record ? "" : "QUORBIX_CSV");
    RuleContext c;
    context_init(c, settings_whole_bytes(stream.get()), stream.get(), s, options);
    report_suppression_faults(c);
    check_lines(c);
    check_run(c);
    if (options.with_record) {
        fill_record(c);
    }
    context_finish(c);
    return std::move(c.analysis);
}

}  // namespace quorbix
