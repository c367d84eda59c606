// The checker's own lines in a settings file: "# quorbix-check: ignore=CODE"
// hides those codes on the next line, "ignore-file=CODE" in the whole file,
// what follows " -- " is the reason, and a line that names a code wrongly is
// a finding of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/cli/connection.h"
#include "check/rules/analyse.h"
#include "check/rules/suppress.h"

namespace quorbix {
namespace {

// A file the launcher starts with no finding, to which each row adds lines.
#define QUORBIX_SOUND                                                                   \
    "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\n" \
    "QUORBIX_CLIENT_ID=c\n"

// "code@line" of each finding, or of each hidden one with "<by_line:reason>".
std::string shown_of(const FileAnalysis& a) {
    std::string out;
    for (const Finding& f : a.findings) {
        out += std::string(out.empty() ? "" : " ") + f.code_name() + "@" + std::to_string(f.line);
    }
    return out;
}

std::string hidden_of(const FileAnalysis& a) {
    std::string out;
    for (const IgnoredFinding& i : a.ignored) {
        out += std::string(out.empty() ? "" : " ") + i.finding.code_name() + "@" +
               std::to_string(i.finding.line) + "<" + std::to_string(i.by_line) + ":" + i.reason +
               ">";
    }
    return out;
}

TEST(CheckSuppress, LinesHideCodesWhereTheySay) {
    struct Row {
        const char* name;
        std::string settings;
        const char* shown;   // the findings, "code@line" each
        const char* hidden;  // what the file's lines hide, with the line and reason
    };
    const Row rows[] = {
        {"the next line, with its reason",
         QUORBIX_SOUND
         "# quorbix-check: ignore=qos-range -- the broker caps it\nQUORBIX_MQTT_QOS=3\n",
         "", "qos-range@7<6:the broker caps it>"},
        {"the next line only, not one further",
         QUORBIX_SOUND "# quorbix-check: ignore=qos-range\n\nQUORBIX_MQTT_QOS=3\n", "qos-range@8",
         ""},
        {"not the line before",
         QUORBIX_SOUND "QUORBIX_MQTT_QOS=3\n# quorbix-check: ignore=qos-range\n", "qos-range@6",
         ""},
        {"another code is not hidden",
         QUORBIX_SOUND "# quorbix-check: ignore=tls-mode-range\nQUORBIX_MQTT_QOS=3\n",
         "qos-range@7", ""},
        {"the whole file, from its last line",
         "QUORBIX_MQTT_QOS=3\n" QUORBIX_SOUND "# quorbix-check: ignore-file=qos-range -- lab\n", "",
         "qos-range@1<7:lab>"},
        {"a finding about the whole file, by ignore-file only",
         "QUORBIX_CSV=TWFu\n# quorbix-check: ignore=no-enable\n# quorbix-check: "
         "ignore-file=no-enable\n",
         "", "no-enable@0<3:>"},
        {"several codes, blanks after the commas",
         QUORBIX_SOUND "# quorbix-check: ignore=tls-mode-range, qos-range\nQUORBIX_MQTT_QOS=3\n",
         "", "qos-range@7<6:>"},
        {"no blanks, CR LF, and a reason with its own ' -- '",
         QUORBIX_SOUND "#quorbix-check:ignore=qos-range -- a -- b \r\nQUORBIX_MQTT_QOS=3\n", "",
         "qos-range@7<6:a -- b>"},
        {"an unknown code is a finding; the known one still hides",
         QUORBIX_SOUND "# quorbix-check: ignore=qos-rang,qos-range\nQUORBIX_MQTT_QOS=3\n",
         "bad-ignore-line@6", "qos-range@7<6:>"},
        {"a word other than ignore and ignore-file hides nothing",
         QUORBIX_SOUND "# quorbix-check: ignore-line=qos-range\nQUORBIX_MQTT_QOS=3\n",
         "bad-ignore-line@6 qos-range@7", ""},
        {"an empty code", QUORBIX_SOUND "# quorbix-check: ignore=\nQUORBIX_MQTT_QOS=3\n",
         "bad-ignore-line@6 qos-range@7", ""},
        {"a line of its own hides its fault only by ignore-file",
         QUORBIX_SOUND
         "# quorbix-check: ignore=nope\n# quorbix-check: ignore-file=bad-ignore-line\n",
         "", "bad-ignore-line@6<7:>"},
        {"another tool's comment is no line of the checker",
         QUORBIX_SOUND "# quorbix-checker: ignore=qos-range\nQUORBIX_MQTT_QOS=3\n", "qos-range@7",
         ""},
        {"not first on the line: a key, as to the launcher",
         QUORBIX_SOUND " # quorbix-check: ignore=qos-range\nQUORBIX_MQTT_QOS=3\n",
         "unknown-key@6 qos-range@7", ""},
    };
    AnalysisOptions options;
    options.keep_ignored = true;
    for (const Row& row : rows) {
        const FileAnalysis a = analyse_settings(row.settings, options);
        EXPECT_EQ(shown_of(a), row.shown) << row.name;
        EXPECT_EQ(hidden_of(a), row.hidden) << row.name;
    }
}

// What a line hides is neither counted nor kept unless asked for; what the
// options ignore is not listed as hidden by the file.
TEST(CheckSuppress, HiddenFindingsAreNotCounted) {
    const std::string settings = QUORBIX_SOUND
        "# quorbix-check: ignore=qos-range\nQUORBIX_MQTT_QOS=3\n"
        "# quorbix-check: ignore=number-unit-suffix\nQUORBIX_MQTT_KEEPALIVE=60s\n";
    AnalysisOptions options;
    FileAnalysis a = analyse_settings(settings, options);
    EXPECT_EQ(a.by_severity.warnings, 0u);
    EXPECT_EQ(a.by_code[static_cast<std::size_t>(Code::kQosRange)], 0u);
    EXPECT_EQ(hidden_of(a), "");
    options.keep_ignored = true;
    options.ignored.set(static_cast<std::size_t>(Code::kQosRange));
    a = analyse_settings(settings, options);
    EXPECT_EQ(hidden_of(a), "number-unit-suffix@9<8:>");
}

// The launcher reads no key from the checker's lines: a well-formed one gets
// no finding of the comment rules, and changes nothing the launcher reads.
TEST(CheckSuppress, TheLinesAreCommentsToTheLauncher) {
    const std::string lines =
        "# quorbix-check: ignore=comment-line -- QUORBIX_ENABLE=0 is not read\n"
        "# quorbix-check: ignore-file=unknown-key,qos-range\n";
    AnalysisOptions options;
    const FileAnalysis with = analyse_settings(lines + QUORBIX_SOUND + lines, options);
    const FileAnalysis without = analyse_settings(QUORBIX_SOUND, options);
    EXPECT_EQ(shown_of(with), "");
    EXPECT_EQ(with.config, without.config);
    EXPECT_EQ(with.outcome.exit_status, without.outcome.exit_status);
}

TEST(CheckSuppress, ReadsOneLine) {
    struct Row {
        const char* line;
        bool read;
        bool whole_file;
        std::size_t codes;
        const char* reason;
        std::size_t first_fault_column;  // 0: none
    };
    const Row rows[] = {
        {"# quorbix-check: ignore=qos-range", true, false, 1, "", 0},
        {"# quorbix-check: ignore-file=qos-range,port-range -- why", true, true, 2, "why", 0},
        {"#\tquorbix-check:\tignore=qos-range", true, false, 1, "", 0},
        {"# quorbix-check: ignore=qos-range -- \x1b[2J", true, false, 1, "<1b>[2J", 0},
        {"# quorbix-check: ignore=x", true, false, 0, "", 25},
        {"# quorbix-check:", true, false, 0, "", 17},
        {"# quorbix-check ignore=qos-range", false, false, 0, "", 0},
        {"QUORBIX_ENABLE=1 # quorbix-check: ignore=qos-range", false, false, 0, "", 0},
        {"// quorbix-check: ignore=qos-range", false, false, 0, "", 0},
    };
    for (const Row& row : rows) {
        const std::optional<SuppressionLine> line = read_suppression_line(row.line);
        ASSERT_EQ(line.has_value(), row.read) << row.line;
        if (!line) {
            continue;
        }
        EXPECT_EQ(line->whole_file, row.whole_file) << row.line;
        EXPECT_EQ(line->codes.count(), row.codes) << row.line;
        EXPECT_EQ(line->reason, row.reason) << row.line;
        EXPECT_EQ(line->faults.empty() ? 0 : line->faults.front().column, row.first_fault_column)
            << row.line;
    }
}

// The finding of --connect goes through the same context as every rule's:
// the file's lines hide it too, and their faults are said once.
TEST(CheckSuppress, TheConnectionsFindingIsHiddenToo) {
    const std::string settings =
        QUORBIX_SOUND "# quorbix-check: ignore-file=connect-tcp,nope -- the lab has no broker\n";
    ConnectResult refused;
    refused.stage = ConnectStage::kTcp;
    refused.outcome = ConnectOutcome::kFailed;
    refused.cause = ConnectCause::kTcpRefused;
    refused.reason = "Connection refused";
    refused.address = "192.0.2.7:1883";
    ConnectionSeams seams;
    seams.attempt = [&refused](const ConnectRequest&) { return refused; };
    ConnectionOptions connection;
    connection.enabled = true;
    AnalysisOptions options;
    options.keep_ignored = true;
    FileAnalysis a = analyse_settings(settings, options);
    check_connection(settings, options, connection, &a, seams);
    EXPECT_EQ(shown_of(a), "bad-ignore-line@6");
    ASSERT_EQ(a.ignored.size(), 1u);
    EXPECT_EQ(a.ignored[0].finding.code, Code::kConnectTcp);
    EXPECT_EQ(a.ignored[0].reason, "the lab has no broker");
    EXPECT_EQ(a.by_severity.errors, 0u);
}

}  // namespace
}  // namespace quorbix
