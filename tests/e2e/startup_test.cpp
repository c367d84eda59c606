// The start-up sequence end to end: gates, log lines, exit statuses and the
// commands given to the shell.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsvText = "register,address,type\ntemp,40001,float\n";
const std::string kCsv = base64(kCsvText);
const std::string kNoCsvLog = "Can't find CSV config file in Appcapsule\n";
const std::string kNoCaLog = "Can't find CA Certificate file in Appcapsule\n";
const std::string kNoCertLog = "Can't find Local Certificate file in Appcapsule\n";
const std::string kNoKeyLog = "Can't Local Private Key file in Appcapsule\n";
const std::string kDisabledLog = "quorbix is disabled.\n";
const std::string kMapCleanup = "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";
const std::string kMap = "/tmp/quorbix/quorbix_map.txt";
const std::string kExMap = "/tmp/quorbix/ex_quorbix_map.txt";

// The lines of the configuration from the TLS mode up to the Modbus poll.
std::string tls_lines(const RunResult& r) {
    return r.config_lines("mqtt_ssltls", "mb_interval");
}

void put_map_files() {
    put_file(kMap, "map");
    put_file(kExMap, "exmap");
}

// Settings that the CSV gate refuses, however they are broken.
struct NoCsvCase {
    const char* name;
    std::optional<std::string> settings;
    std::function<void()> setup;
};

TEST(Startup, EveryUnusableSettingsFileEndsAtTheCsvGate) {
    const NoCsvCase cases[] = {
        {"no settings file", std::nullopt, nullptr},
        {"empty file", std::string(), nullptr},
        {"one byte", std::string("Q"), nullptr},
        {"only NUL bytes", std::string(4096, '\0'), nullptr},
        {"NUL bytes before the CSV key", std::string(3, '\0') + "QUORBIX_CSV=" + kCsv + "\n",
         nullptr},
        {"lines of any length", std::string(100000, 'x') + "\n=\n\"\n" + std::string(16384, '='),
         nullptr},
        {"invalid numbers, no CSV",
         settings_file({{"QUORBIX_ENABLE", "-1x"}, {"QUORBIX_MQTT_TLS", "zz"}}), nullptr},
        {"CSV value that decodes to nothing", settings_file({{"QUORBIX_CSV", "=== ___ ***"}}),
         nullptr},
        {"CSV value with an opening quote only", settings_file({{"QUORBIX_CSV", "\"" + kCsv}}),
         nullptr},
        {"a directory in place of the file", std::nullopt,
         [] { put_dir("/opt/quorbix/etc/settings"); }},
        {"a FIFO with no writer", std::nullopt,
         [] {
             if (::mkfifo("/opt/quorbix/etc/settings", 0644) != 0) {
                 rig_fail("mkfifo");
             }
         }},
        {"a symbolic link loop in place of the file", std::nullopt,
         [] {
             if (::symlink("settings", "/opt/quorbix/etc/settings") != 0) {
                 rig_fail("symlink");
             }
         }},
    };
    for (const NoCsvCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.settings = t.settings;
        c.setup = [&t] {
            put_map_files();
            if (t.setup) {
                t.setup();
            }
        };
        c.timeout_seconds = 20;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 255);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kNoCsvLog);
        EXPECT_FALSE(r.has("/tmp/quorbix/etc/config.csv"));
        EXPECT_FALSE(r.has("/tmp/quorbix/config"));
        // The map cleanup ran, not only was asked for.
        EXPECT_FALSE(r.has(kMap));
        EXPECT_FALSE(r.has(kExMap));
        const std::vector<std::string> expected = {"mkdir -p /tmp/quorbix/etc",
                                                   "rm -rf /tmp/quorbix/etc/*.*", kMapCleanup};
        EXPECT_EQ(r.commands, expected);
        EXPECT_TRUE(r.daemon_calls.empty());
        EXPECT_TRUE(r.token_calls.empty());
    }
}

// Numbers that are not plain decimals still decide the gates by the "%u"
// rules on 32 bits: no sign or junk may turn a gate the wrong way.
struct NumberCase {
    const char* enable;
    const char* tls;
    int status;
    std::string log;
    std::string tls_lines;  // what the configuration holds, when written
};

TEST(Startup, NumbersReachTheGatesByTheConversionRules) {
    const std::string started = kStart + "\n";
    const std::string no_ca_file = "mqtt_cafile=\n";
    const NumberCase cases[] = {
        {"abc", "0", 1, kDisabledLog, ""},
        {"0x1", "0", 1, kDisabledLog, ""},
        {"", "0", 1, kDisabledLog, ""},
        {"-0", "0", 1, kDisabledLog, ""},
        {" \t+1", "0", 0, started, "mqtt_ssltls=0\n"},
        {"-1", "x", 0, started, "mqtt_ssltls=0\n"},
        {"99999999999999999999", "0", 0, started, "mqtt_ssltls=0\n"},
        {"1", "1abc", 255, kNoCaLog, "mqtt_ssltls=1\n" + no_ca_file},
        {"1", "+2", 255, kNoCertLog,
         "mqtt_ssltls=2\n" + no_ca_file +
             "mqtt_localcert=/tmp/quorbix/etc/local.crt\n"
             "mqtt_localkey=/tmp/quorbix/etc/local.key\n"},
        // Beyond 32 bits the value saturates; it does not wrap to 1.
        {"1", "4294967297", 0, started, "mqtt_ssltls=4294967295\n" + no_ca_file},
        // A negative value is negated modulo 2^32: this one is 1.
        {"1", "-4294967295", 255, kNoCaLog, "mqtt_ssltls=1\n" + no_ca_file},
    };
    for (const NumberCase& t : cases) {
        SCOPED_TRACE(std::string("enable «") + t.enable + "» tls «" + t.tls + "»");
        Case c;
        c.settings = settings_file(
            {{"QUORBIX_ENABLE", t.enable}, {"QUORBIX_MQTT_TLS", t.tls}, {"QUORBIX_CSV", kCsv}});
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), t.status);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), t.log);
        EXPECT_EQ(r.daemon_calls.size(), t.status == 0 ? 1u : 0u);
        if (t.status == 1) {
            EXPECT_FALSE(r.has("/tmp/quorbix/config"));
        } else {
            EXPECT_EQ(tls_lines(r), t.tls_lines);
        }
    }
}

TEST(Startup, DisabledGatewayRefreshesUploadsAndTouchesNothingElse) {
    for (bool earlier_run : {true, false}) {
        SCOPED_TRACE(earlier_run ? "after an earlier run" : "on a fresh /tmp");
        Case c;
        c.settings = settings_file({{"QUORBIX_ENABLE", "0"},
                                    {"QUORBIX_CSV", kCsv},
                                    {"QUORBIX_CA", base64("ca-cert")},
                                    {"QUORBIX_MQTT_SASGEN", "1"},
                                    {"QUORBIX_MQTT_PWD", "key"},
                                    {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
        if (earlier_run) {
            c.setup = [] {
                put_map_files();
                put_file("/tmp/quorbix/config", "earlier run\n", 0600);
                put_file("/tmp/quorbix/etc/config.csv", "old csv\n");
                put_file("/tmp/quorbix/etc/local.crt", "old cert\n");
                put_file("/tmp/quorbix/script-2.sh", "earlier script\n", 0755);
            };
        }
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 1);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kDisabledLog);
        // The uploaded files are this run's, and only this run's.
        EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), kCsvText);
        EXPECT_EQ(r.file("/tmp/quorbix/etc/ca.crt"), "ca-cert");
        EXPECT_FALSE(r.has("/tmp/quorbix/etc/local.crt"));
        // No configuration, no script, no token, no daemon; the map files stay.
        EXPECT_EQ(r.has("/tmp/quorbix/config"), earlier_run);
        EXPECT_EQ(r.file("/tmp/quorbix/config"), earlier_run ? "earlier run\n" : "");
        EXPECT_FALSE(r.has("/tmp/quorbix/script-1.sh"));
        EXPECT_EQ(r.file("/tmp/quorbix/script-2.sh"), earlier_run ? "earlier script\n" : "");
        EXPECT_EQ(r.file(kMap), earlier_run ? "map" : "");
        EXPECT_EQ(r.file(kExMap), earlier_run ? "exmap" : "");
        EXPECT_TRUE(r.token_calls.empty());
        EXPECT_TRUE(r.daemon_calls.empty());
        const std::vector<std::string> expected = {"mkdir -p /tmp/quorbix/etc",
                                                   "rm -rf /tmp/quorbix/etc/*.*"};
        EXPECT_EQ(r.commands, expected);
    }
}

TEST(Startup, PassingRunStartsTheDaemonAndLogsTheCommandOnItsOwnLine) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    c.runs = 2;
    QUORBIX_RUN(r, c);
    const std::vector<int> statuses = {0, 0};
    EXPECT_EQ(r.statuses, statuses);
    // One line per run: the command, then its own line feed.
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + "\n" + kStart + "\n");
    const std::vector<std::string> args = {"-c", "/tmp/quorbix/config", "-l"};
    const std::vector<std::vector<std::string>> calls = {args, args};
    EXPECT_EQ(r.daemon_calls, calls);
    std::vector<std::string> once = passing_run_commands();
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(r.commands, twice);
    EXPECT_EQ(r.mode("/tmp/quorbix/quorbix.log"), 0644u);
}

TEST(Startup, ArgumentsAreIgnored) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_MQTT_SASGEN", "1"},
                                {"QUORBIX_MQTT_PWD", "key"},
                                {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
    QUORBIX_RUN(plain, c);
    c.args = {"--help", "-c", "/etc/other.conf", "", "x;touch /tmp/pwned", "-l"};
    QUORBIX_RUN(with_args, c);
    EXPECT_EQ(plain.status(), 0);
    EXPECT_EQ(with_args.status(), plain.status());
    EXPECT_EQ(with_args.files, plain.files);
    EXPECT_EQ(with_args.commands, plain.commands);
    EXPECT_EQ(with_args.daemon_calls, plain.daemon_calls);
    EXPECT_EQ(with_args.token_calls, plain.token_calls);
}

TEST(Startup, TheLogGrowsByOneLinePerRunWhateverTheOutcome) {
    // Four runs in one namespace, each with other settings: the log keeps
    // every earlier line and gains exactly the one of this run.
    const std::string csv = settings_file({{"QUORBIX_CSV", kCsv}});
    const std::optional<std::string> settings[] = {
        std::nullopt,
        csv + "QUORBIX_ENABLE=0\n",
        csv + "QUORBIX_ENABLE=1\nQUORBIX_MQTT_TLS=1\n",
        csv + "QUORBIX_ENABLE=1\n",
    };
    Case c;
    c.runs = 4;
    c.before_run = [&settings](int run) {
        ::unlink("/opt/quorbix/etc/settings");
        if (settings[run]) {
            put_file("/opt/quorbix/etc/settings", *settings[run]);
        }
    };
    QUORBIX_RUN(r, c);
    const std::vector<int> statuses = {255, 1, 255, 0};
    EXPECT_EQ(r.statuses, statuses);
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"),
              kNoCsvLog + kDisabledLog + kNoCaLog + kStart + "\n");
    EXPECT_EQ(r.daemon_calls.size(), 1u);
}

// The TLS gate: which file is looked for, which message, and what is left.
struct TlsCase {
    const char* name;
    const char* tls;
    bool ca, cert, key;
    int status;
    std::string log;
    std::string tls_lines;
};

TEST(Startup, TlsGateLooksForTheFilesOfItsMode) {
    const std::string ca_line = "mqtt_cafile=/tmp/quorbix/etc/ca.crt\n";
    const std::string no_ca_line = "mqtt_cafile=\n";
    const std::string client_lines =
        "mqtt_localcert=/tmp/quorbix/etc/local.crt\nmqtt_localkey=/tmp/quorbix/etc/local.key\n";
    const TlsCase cases[] = {
        {"mode 0 needs nothing", "0", false, false, false, 0, "", "mqtt_ssltls=0\n"},
        {"mode 0 names no file it has", "0", true, true, true, 0, "", "mqtt_ssltls=0\n"},
        {"mode 1 with CA", "1", true, false, false, 0, "", "mqtt_ssltls=1\n" + ca_line},
        {"mode 1 without CA", "1", false, true, true, 255, kNoCaLog,
         "mqtt_ssltls=1\n" + no_ca_line},
        {"mode 2 with both client files, no CA", "2", false, true, true, 0, "",
         "mqtt_ssltls=2\n" + no_ca_line + client_lines},
        {"mode 2 without both client files", "2", true, false, false, 255, kNoCertLog,
         "mqtt_ssltls=2\n" + ca_line + client_lines},
        {"mode 2 without the certificate", "2", false, false, true, 255, kNoCertLog,
         "mqtt_ssltls=2\n" + no_ca_line + client_lines},
        {"mode 2 without the key", "2", true, true, false, 255, kNoKeyLog,
         "mqtt_ssltls=2\n" + ca_line + client_lines},
        {"mode 3 tests nothing", "3", false, false, false, 0, "", "mqtt_ssltls=3\n" + no_ca_line},
    };
    for (const TlsCase& t : cases) {
        SCOPED_TRACE(t.name);
        std::vector<std::pair<std::string, std::string>> lines = {
            {"QUORBIX_ENABLE", "1"},
            {"QUORBIX_MQTT_TLS", t.tls},
            {"QUORBIX_CSV", kCsv},
            {"QUORBIX_DIRECTMETHOD_SCRIPT2", base64("#!/bin/sh\necho two\n")}};
        if (t.ca)
            lines.emplace_back("QUORBIX_CA", base64("CA"));
        if (t.cert)
            lines.emplace_back("QUORBIX_LOCALCERT", base64("CERT"));
        if (t.key)
            lines.emplace_back("QUORBIX_LOCALKEY", base64("KEY"));
        Case c;
        c.settings = settings_file(lines);
        c.setup = [] {
            put_map_files();
            put_file("/tmp/quorbix/script-7.sh", "earlier\n", 0755);
        };
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), t.status);
        // The configuration is written before the gate and stays in place.
        EXPECT_EQ(tls_lines(r), t.tls_lines);
        EXPECT_EQ(r.mode("/tmp/quorbix/config"), 0600u);
        if (t.status == 0) {
            EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + "\n");
            EXPECT_EQ(r.daemon_calls.size(), 1u);
            EXPECT_EQ(r.file("/tmp/quorbix/script-2.sh"), "#!/bin/sh\necho two\n");
            EXPECT_FALSE(r.has("/tmp/quorbix/script-7.sh"));
            EXPECT_EQ(r.commands, passing_run_commands());
            EXPECT_TRUE(r.has(kMap));
        } else {
            EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), t.log);
            EXPECT_TRUE(r.daemon_calls.empty());
            const std::vector<std::string> expected = {"mkdir -p /tmp/quorbix/etc",
                                                       "rm -rf /tmp/quorbix/etc/*.*",
                                                       "rm -f /tmp/quorbix/config", kMapCleanup};
            EXPECT_EQ(r.commands, expected);
            EXPECT_FALSE(r.has(kMap));
            // No script is staged, and an earlier run's script is kept.
            EXPECT_FALSE(r.has("/tmp/quorbix/script-2.sh"));
            EXPECT_EQ(r.file("/tmp/quorbix/script-7.sh"), "earlier\n");
        }
    }
}

TEST(Startup, ClosedStandardOutputOrErrorChangesNothing) {
    for (int fd : {1, 2}) {
        if (fd == 2 && wrapped_by("valgrind")) {
            continue;  // valgrind itself exits 127 without standard error
        }
        Case c;
        c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                    {"QUORBIX_CSV", kCsv},
                                    {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
        c.closed_fds = {fd};
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0) << "fd " << fd << ": " << r.stderr_text;
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + "\n");
        EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), kCsvText);
        EXPECT_EQ(r.file("/tmp/quorbix/script-1.sh"), "#!/bin/sh\n");
    }
}

}  // namespace
}  // namespace quorbix::e2e
