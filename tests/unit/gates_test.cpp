// The gates of a run, one row per way the files and settings meet them: which
// gate stops the run, with what exit status, log line and map cleanup.
#include "staging/gates.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace quorbix {
namespace {

struct GateRow {
    const char* name;
    bool csv;
    std::uint32_t enable;
    std::uint32_t tls;
    TlsFilesPresent files;
    Gate gate;  // the first gate that stops the run; kNone: the daemon starts
    int exit_status;
    const char* log;  // without its line feed; null when nothing is logged
    bool cleanup;
};

// Runs the gates in the order the launcher meets them, the configuration
// taken as written.
GateVerdict run_gates(const GateRow& row) {
    GatewaySettings s;
    s.enable = row.enable;
    s.mqtt_tls = row.tls;
    const GateVerdict early = gate_before_config(s, row.csv);
    return early.stops ? early : gate_tls(s, row.files);
}

TEST(Gates, EachWayARunEnds) {
    const TlsFilesPresent none{};
    const TlsFilesPresent all{true, true, true};
    const TlsFilesPresent no_ca{false, true, true};
    const TlsFilesPresent only_ca{true, false, false};
    const TlsFilesPresent no_key{true, true, false};
    const char* no_csv = "Can't find CSV config file in Appcapsule";
    const GateRow rows[] = {
        {"no CSV, enabled", false, 1, 0, all, Gate::kNoCsv, -1, no_csv, true},
        {"no CSV beats disabled", false, 0, 0, all, Gate::kNoCsv, -1, no_csv, true},
        {"disabled", true, 0, 0, all, Gate::kDisabled, 1, "quorbix is disabled.", false},
        {"disabled beats TLS", true, 0, 1, none, Gate::kDisabled, 1, "quorbix is disabled.", false},
        {"no TLS needs no file", true, 1, 0, none, Gate::kNone, 0, nullptr, false},
        {"mode 1 without CA", true, 1, 1, no_ca, Gate::kNoCa, -1,
         "Can't find CA Certificate file in Appcapsule", true},
        {"mode 1 with CA only", true, 1, 1, only_ca, Gate::kNone, 0, nullptr, false},
        {"mode 2 without client certificate", true, 1, 2, only_ca, Gate::kNoLocalCert, -1,
         "Can't find Local Certificate file in Appcapsule", true},
        {"mode 2 without client key", true, 1, 2, no_key, Gate::kNoLocalKey, -1,
         "Can't Local Private Key file in Appcapsule", true},
        {"mode 2 needs no CA", true, 1, 2, no_ca, Gate::kNone, 0, nullptr, false},
        {"mode 3 needs no file", true, 7, 3, none, Gate::kNone, 0, nullptr, false},
    };
    for (const GateRow& row : rows) {
        SCOPED_TRACE(row.name);
        const GateVerdict v = run_gates(row);
        EXPECT_EQ(v.stops, row.gate != Gate::kNone);
        EXPECT_EQ(v.gate, row.gate);
        EXPECT_EQ(v.exit_status, row.exit_status);
        EXPECT_EQ(v.map_cleanup, row.cleanup);
        if (row.log == nullptr) {
            EXPECT_EQ(v.log_line, nullptr);
        } else {
            ASSERT_NE(v.log_line, nullptr);
            EXPECT_EQ(std::string(v.log_line), std::string(row.log) + "\n");
        }
    }
}

TEST(Gates, AConfigurationNotWrittenStopsTheRun) {
    EXPECT_FALSE(gate_config_written(true).stops);
    const GateVerdict v = gate_config_written(false);
    EXPECT_EQ(v.gate, Gate::kConfigNotWritten);
    EXPECT_EQ(exit_status_seen(v.exit_status), 255);
    EXPECT_STREQ(v.log_line, "Can't write daemon config file /tmp/quorbix/config\n");
    EXPECT_TRUE(v.map_cleanup);
}

// The two gates at the start: the daemon must be there to be started, and
// the shell must run the start command (any status but 0 says it did not:
// it only starts a background job).
TEST(Gates, NoStartIsReportedThatCannotHappen) {
    struct StartRow {
        const char* name;
        GateVerdict verdict;
        Gate gate;
        const char* log;
    };
    const char* unusable =
        "Can't start quorbix: /opt/quorbix/bin/quorbix is missing or not executable\n";
    const char* no_shell = "Can't start quorbix: the shell could not be run\n";
    const StartRow rows[] = {
        {"the daemon is usable", gate_daemon_usable(true), Gate::kNone, nullptr},
        {"the daemon is not", gate_daemon_usable(false), Gate::kDaemonUnusable, unusable},
        {"the shell ran", gate_shell_ran(0), Gate::kNone, nullptr},
        {"no shell could be started", gate_shell_ran(-1), Gate::kShellNotRun, no_shell},
        {"no shell could be executed (127)", gate_shell_ran(127 << 8), Gate::kShellNotRun,
         no_shell},
        {"the shell was killed", gate_shell_ran(SIGKILL), Gate::kShellNotRun, no_shell},
    };
    for (const StartRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.verdict.gate, row.gate);
        EXPECT_EQ(row.verdict.stops, row.log != nullptr);
        if (row.log != nullptr) {
            EXPECT_EQ(exit_status_seen(row.verdict.exit_status), 255);
            EXPECT_STREQ(row.verdict.log_line, row.log);
            EXPECT_TRUE(row.verdict.map_cleanup);
        }
    }
}

}  // namespace
}  // namespace quorbix
