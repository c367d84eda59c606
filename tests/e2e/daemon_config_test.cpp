// The daemon configuration end to end: the file a passing run leaves, and the
// token tool's part in it.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsv = base64("a,b\n");
std::string password_line(const RunResult& r) {
    return r.config_lines("mqtt_password", "mqtt_ssltls");
}

TEST(DaemonConfig, PassingRunWritesThePrivateConfiguration) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_MQTT_ADDR", "broker.example"},
                                {"QUORBIX_MQTT_PORT", "8883"},
                                {"QUORBIX_MQTT_TLS", "1"},
                                {"QUORBIX_CA", base64("ca")},
                                {"QUORBIX_MQTT_PWD", "secret"}});
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    const std::string config = r.file("/tmp/quorbix/config");
    EXPECT_EQ(config.rfind("[CFG_INFO]\n# files\ncsv_file=/tmp/quorbix/etc/config.csv\n", 0), 0u);
    EXPECT_NE(config.find("\nmqtt_host=broker.example\nmqtt_port=8883\n"), std::string::npos);
    EXPECT_NE(config.find("\nmqtt_password=secret\nmqtt_ssltls=1\n"
                          "mqtt_cafile=/tmp/quorbix/etc/ca.crt\nmb_interval=0\n"),
              std::string::npos);
    const std::string last = "\nser_port3_stopbits=0\n";
    ASSERT_GT(config.size(), last.size());
    EXPECT_EQ(config.substr(config.size() - last.size()), last);
    EXPECT_EQ(r.mode("/tmp/quorbix/config"), 0600u);
    EXPECT_TRUE(r.token_calls.empty());
}

TEST(DaemonConfig, EveryKeySetGivesTheWholeGoldenConfiguration) {
    // The settings with every key set to a distinctive value, through the real
    // binary: the configuration must be the golden file byte for byte, with
    // the token tool's answer (no line feed) as its password.
    const std::string golden = test_data("all_keys.config");
    ASSERT_FALSE(golden.empty());
    Case c;
    c.settings = test_data("all_keys.settings");
    ASSERT_FALSE(c.settings->empty());
    c.token_tool_body = "printf 't12-mqtt_pwd'\n";
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.file("/tmp/quorbix/config"), golden);
    EXPECT_EQ(r.mode("/tmp/quorbix/config"), 0600u);
    const std::vector<std::vector<std::string>> calls = {
        {"t3-mqtt_addr/devices/t8-client_id", "t12-mqtt_pwd"}};
    EXPECT_EQ(r.token_calls, calls);
}

TEST(DaemonConfig, AnEarlierConfigurationIsReplacedWhole) {
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    c.setup = [] { put_file("/tmp/quorbix/config", "[CFG_INFO]\nstale_key=1\n", 0644); };
    c.runs = 2;
    QUORBIX_RUN(r, c);
    const std::vector<int> statuses = {0, 0};
    EXPECT_EQ(r.statuses, statuses);
    const std::string config = r.file("/tmp/quorbix/config");
    EXPECT_EQ(config.find("[CFG_INFO]\n# files\n"), 0u);
    EXPECT_EQ(config.find("[CFG_INFO]", 1), std::string::npos);
    EXPECT_EQ(config.find("stale_key"), std::string::npos);
    EXPECT_EQ(r.mode("/tmp/quorbix/config"), 0600u);
}

// A configuration that cannot be written whole: the daemon is not started
// with a part of it, and no part of it is left.
struct UnwritableCase {
    const char* name;
    std::string tmp_options;
    std::function<void()> setup;
    std::set<std::string> left;  // under /tmp/quorbix afterwards
};

TEST(DaemonConfig, AConfigurationThatCannotBeWrittenWholeStopsTheRun) {
    // Ten messages of 5 KB topics and contents make a configuration of about
    // 150 KB: more than /tmp can take when it is limited to 64 KiB.
    std::vector<std::pair<std::string, std::string>> large = {
        {"QUORBIX_ENABLE", "1"},
        {"QUORBIX_CSV", kCsv},
        {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}};
    for (int n = 1; n <= 10; ++n) {
        large.emplace_back("QUORBIX_MSG_TOPIC" + std::to_string(n), std::string(5000, 't'));
        large.emplace_back("QUORBIX_MSG_CONTENT" + std::to_string(n), std::string(5000, 'c'));
    }
    // The staging directory, the staged CSV file and the log; no temporary
    // file, no script, and the map cleanup ran.
    const std::set<std::string> left = {"/tmp/quorbix", "/tmp/quorbix/etc",
                                        "/tmp/quorbix/etc/config.csv", "/tmp/quorbix/quorbix.log"};
    // (A directory in the configuration's place is cleared instead: see the
    // planted objects of the security cases.)
    const UnwritableCase cases[] = {
        {"/tmp limited to 64 KiB", "size=64k", nullptr, left},
    };
    for (const UnwritableCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.unforeseeable = "a /tmp where the configuration cannot be written";
        c.settings = settings_file(large);
        c.tmp_options = t.tmp_options;
        c.setup = [&t] {
            put_file("/tmp/quorbix/quorbix_map.txt", "map");
            if (t.setup) {
                t.setup();
            }
        };
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 255);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"),
                  "Can't write daemon config file /tmp/quorbix/config\n");
        std::set<std::string> paths;
        for (const auto& entry : r.files) {
            paths.insert(entry.first);
        }
        EXPECT_EQ(paths, t.left);
        const std::vector<std::string> commands = {
            "mkdir -p /tmp/quorbix/etc", "rm -rf /tmp/quorbix/etc/*.*", "rm -f /tmp/quorbix/config",
            "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt"};
        EXPECT_EQ(r.commands, commands);
        EXPECT_TRUE(r.daemon_calls.empty());
    }
}

// The password line for each way the token tool can answer.
struct TokenCase {
    const char* name;
    const char* token_gen;
    const char* password;
    std::optional<std::string> tool_body;
    std::string expected_line;
    std::size_t expected_calls;
};

TEST(DaemonConfig, PasswordLineFollowsTheTokenTool) {
    const TokenCase cases[] = {
        {"stored password", "0", "pw", std::string(kDefaultTokenBody), "mqtt_password=pw\n", 0},
        {"token asked, no password", "1", "", std::string(kDefaultTokenBody), "mqtt_password=\n",
         0},
        {"token ending in a line feed", "1", "key", std::string("printf 'token resource=x\\n'\n"),
         "mqtt_password=token resource=x\n\n", 1},
        {"token without a line feed", "1", "key", std::string("printf 'tok'\n"),
         "mqtt_password=tok\n", 1},
        {"CRLF token kept as read", "1", "key", std::string("printf 'tok\\r\\n'\n"),
         "mqtt_password=tok\r\n\n", 1},
        {"only the first line", "1", "key", std::string("printf 'one\\ntwo\\n'\n"),
         "mqtt_password=one\n\n", 1},
        {"tool missing", "1", "key", std::nullopt, "mqtt_password=\n", 0},
        {"tool prints nothing", "1", "key", std::string("exit 0\n"), "mqtt_password=\n", 1},
        {"tool fails after printing", "1", "key", std::string("echo partial; exit 3\n"),
         "mqtt_password=partial\n\n", 1},
        {"tool fails silently", "1", "key", std::string("echo noise >&2; exit 1\n"),
         "mqtt_password=\n", 1},
        {"standard error around the token", "1", "key",
         std::string("echo noise >&2; printf 'tok\\n'; echo noise >&2\n"), "mqtt_password=tok\n\n",
         1},
        {"line longer than the buffer", "1", "key",
         std::string("head -c 3000 /dev/zero | tr '\\0' a\n"),
         "mqtt_password=" + std::string(1023 - 15, 'a') + "\n", 1},
        {"binary output stops at its NUL", "1", "key", std::string("printf 'ab\\000cd\\n'\n"),
         "mqtt_password=ab\n", 1},
        {"output closed early", "1", "key", std::string("exec >&-; sleep 0.2\n"),
         "mqtt_password=\n", 1},
    };
    for (const TokenCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                    {"QUORBIX_CSV", kCsv},
                                    {"QUORBIX_MQTT_ADDR", "hub.example"},
                                    {"QUORBIX_CLIENT_ID", "dev-7"},
                                    {"QUORBIX_MQTT_SASGEN", t.token_gen},
                                    {"QUORBIX_MQTT_PWD", t.password}});
        c.token_tool_body = t.tool_body;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        EXPECT_EQ(password_line(r), t.expected_line);
        // The tool's standard error is discarded: it reaches neither the
        // configuration nor the launcher's own standard error.
        EXPECT_EQ(r.file("/tmp/quorbix/config").find("noise"), std::string::npos);
        EXPECT_EQ(r.stderr_text.find("noise"), std::string::npos);
        ASSERT_EQ(r.token_calls.size(), t.expected_calls);
        if (t.expected_calls == 1) {
            const std::vector<std::string> args = {"hub.example/devices/dev-7", "key"};
            EXPECT_EQ(r.token_calls[0], args);
        }
    }
}

}  // namespace
}  // namespace quorbix::e2e
