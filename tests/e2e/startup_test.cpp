// The start-up sequence end to end: gates, log lines, exit statuses and the
// commands given to the shell.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsv = base64("register,address,type\ntemp,40001,float\n");
const std::string kNoCsvLog = "Can't find CSV config file in Appcapsule\n";
const std::string kMapCleanup = "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt";
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &";

void write_text(const char* path, const std::string& text) {
    std::FILE* f = std::fopen(path, "w");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
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
        {"lines of any length", std::string(100000, 'x') + "\n=\n\"\n" + std::string(16384, '='),
         nullptr},
        {"invalid numbers, no CSV",
         settings_file({{"QUORBIX_ENABLE", "-1x"}, {"QUORBIX_MQTT_TLS", "zz"}}), nullptr},
        {"CSV value that decodes to nothing", settings_file({{"QUORBIX_CSV", "=== ___ ***"}}),
         nullptr},
        {"CSV value with an opening quote only", settings_file({{"QUORBIX_CSV", "\"" + kCsv}}),
         nullptr},
        {"a directory in place of the file", std::nullopt,
         [] { ::mkdir("/opt/quorbix/etc/settings", 0755); }},
        {"a FIFO with no writer", std::nullopt,
         [] { ::mkfifo("/opt/quorbix/etc/settings", 0644); }},
    };
    for (const NoCsvCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.settings = t.settings;
        c.setup = t.setup;
        c.timeout_seconds = 20;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 255);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kNoCsvLog);
        EXPECT_FALSE(r.has("/tmp/quorbix/etc/config.csv"));
        EXPECT_FALSE(r.has("/tmp/quorbix/config"));
        const std::vector<std::string> expected = {"mkdir -p /tmp/quorbix/etc",
                                                   "rm -rf /tmp/quorbix/etc/*.*", kMapCleanup};
        EXPECT_EQ(r.commands, expected);
        EXPECT_TRUE(r.daemon_calls.empty());
    }
}

TEST(Startup, DisabledGatewayStagesUploadsButNothingElse) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "0"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_CA", base64("ca-cert")},
                                {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
    c.setup = [] {
        ::mkdir("/tmp/quorbix", 0755);
        write_text("/tmp/quorbix/quorbix_map.txt", "map");
        write_text("/tmp/quorbix/ex_quorbix_map.txt", "exmap");
        write_text("/tmp/quorbix/config", "earlier run\n");
    };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 1);
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), "quorbix is disabled.\n");
    EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), "register,address,type\ntemp,40001,float\n");
    EXPECT_EQ(r.file("/tmp/quorbix/etc/ca.crt"), "ca-cert");
    EXPECT_EQ(r.file("/tmp/quorbix/config"), "earlier run\n");
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix_map.txt"), "map");
    EXPECT_EQ(r.file("/tmp/quorbix/ex_quorbix_map.txt"), "exmap");
    EXPECT_FALSE(r.has("/tmp/quorbix/script-1.sh"));
    const std::vector<std::string> expected = {"mkdir -p /tmp/quorbix/etc",
                                               "rm -rf /tmp/quorbix/etc/*.*"};
    EXPECT_EQ(r.commands, expected);
}

TEST(Startup, PassingRunStartsTheDaemonAndLogsTheCommandOnItsOwnLine) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    c.runs = 2;
    QUORBIX_RUN(r, c);
    ASSERT_EQ(r.statuses.size(), 2u);
    EXPECT_EQ(r.statuses[0], 0);
    EXPECT_EQ(r.statuses[1], 0);
    // One line per run: the command, then its own line feed.
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + "\n" + kStart + "\n");
    ASSERT_EQ(r.daemon_calls.size(), 2u);
    const std::vector<std::string> args = {"-c", "/tmp/quorbix/config", "-l"};
    EXPECT_EQ(r.daemon_calls[0], args);
    std::vector<std::string> once = passing_run_commands();
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(r.commands, twice);
}

TEST(Startup, MissingOrBrokenDaemonStillExitsZero) {
    for (Case::Daemon daemon : {Case::Daemon::kMissing, Case::Daemon::kNotExecutable}) {
        Case c;
        c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
        c.daemon = daemon;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + "\n");
        EXPECT_TRUE(r.daemon_calls.empty());
    }
}

// The TLS gate: which file is looked for, which message, and what is left.
struct TlsCase {
    const char* name;
    const char* tls;
    bool ca, cert, key;
    int status;
    const char* log;
};

TEST(Startup, TlsGateLooksForTheFilesOfItsMode) {
    const std::string start = kStart + "\n";
    const TlsCase cases[] = {
        {"mode 0 needs nothing", "0", false, false, false, 0, nullptr},
        {"mode 1 with CA", "1", true, false, false, 0, nullptr},
        {"mode 1 without CA", "1", false, true, true, 255,
         "Can't find CA Certificate file in Appcapsule\n"},
        {"mode 2 with both client files, no CA", "2", false, true, true, 0, nullptr},
        {"mode 2 without both client files", "2", true, false, false, 255,
         "Can't find Local Certificate file in Appcapsule\n"},
        {"mode 2 without the key", "2", true, true, false, 255,
         "Can't Local Private Key file in Appcapsule\n"},
        {"mode 3 tests nothing", "3", false, false, false, 0, nullptr},
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
            ::mkdir("/tmp/quorbix", 0755);
            write_text("/tmp/quorbix/script-7.sh", "earlier\n");
        };
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), t.status);
        // The configuration is written before the gate and stays in place.
        EXPECT_TRUE(r.has("/tmp/quorbix/config"));
        if (t.status == 0) {
            EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), start);
            EXPECT_EQ(r.daemon_calls.size(), 1u);
            EXPECT_TRUE(r.has("/tmp/quorbix/script-2.sh"));
            EXPECT_FALSE(r.has("/tmp/quorbix/script-7.sh"));
        } else {
            EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), t.log);
            EXPECT_TRUE(r.daemon_calls.empty());
            EXPECT_EQ(r.commands.back(), kMapCleanup);
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
        EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"),
                  "register,address,type\ntemp,40001,float\n");
        EXPECT_EQ(r.file("/tmp/quorbix/script-1.sh"), "#!/bin/sh\n");
    }
}

}  // namespace
}  // namespace quorbix::e2e
