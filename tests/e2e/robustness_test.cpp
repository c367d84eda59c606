// Hostile and malformed settings, end to end: the launcher never crashes,
// never runs what a value smuggles in, and ends where the gates say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsv = base64("a,b\n1,2\n");
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &\n";
const std::string kSmuggledHost = "elsewhere";

std::string config_value(const RunResult& r, const std::string& key) {
    const std::string config = r.file("/tmp/quorbix/config");
    const std::string at = "\n" + key + "=";
    std::size_t from = config.find(at);
    if (from == std::string::npos) {
        return "<absent>";
    }
    from += at.size();
    return config.substr(from, config.find('\n', from) - from);
}

// A settings text is never taken for more than text: shell syntax in the
// token command stays quoted, a key deep in a long line stays message text,
// and a token command too long for the shell is not run.
struct TextRow {
    const char* name;
    std::string settings;
    std::vector<std::string> token_args;  // the tool's one call; empty: not run
    std::string token_command;            // as handed to the shell; empty: none
    std::string login_lines;              // mqtt_username= and mqtt_password=
};
const std::vector<std::string> kNotRun;
const std::string kNoUser = "mqtt_username=\n";

std::string token_settings(const std::string& host, const std::string& client_id,
                           const std::string& key,
                           std::vector<std::pair<std::string, std::string>> more = {}) {
    more.insert(more.begin(), {{"QUORBIX_ENABLE", "1"},
                               {"QUORBIX_CSV", kCsv},
                               {"QUORBIX_MQTT_ADDR", host},
                               {"QUORBIX_CLIENT_ID", client_id},
                               {"QUORBIX_MQTT_SASGEN", "1"},
                               {"QUORBIX_MQTT_PWD", key}});
    return settings_file(more);
}

// A message content line with a key line standing at `offset`, where a later
// piece of the bounded scanner's reading begins.
std::string key_deep_in_a_line(std::size_t offset, bool quoted) {
    const std::string smuggled = "QUORBIX_MQTT_ADDR=" + kSmuggledHost;
    std::string line = std::string("QUORBIX_MSG_CONTENT1=") + (quoted ? "\"" : "");
    line += std::string(offset - line.size(), 'c') + smuggled + std::string(100, 'c');
    return line + (quoted ? "\"\n" : "\n") +
           settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
}

TEST(Robustness, SettingsTextsAreNeverTakenForCommandsOrKeys) {
    const std::string tool = "/opt/quorbix/bin/create-sas ";
    const std::string attack =
        "x;touch /tmp/pwned;$(touch /tmp/pwned)`touch /tmp/pwned`|touch /tmp/pwned";
    const std::string quotes(16000, '\'');  // grows fourfold when quoted
    const TextRow rows[] = {
        {"shell syntax in every text",
         token_settings(attack, attack, attack,
                        {{"QUORBIX_MQTT_USR", attack},
                         {"QUORBIX_MSG_CONTENT1", attack},
                         {"QUORBIX_DIRECTMETHOD_TOPIC1", attack},
                         {"QUORBIX_PORT1_PARITY", attack}}),
         {attack + "/devices/" + attack, attack},
         tool + "'" + attack + "'/devices/'" + attack + "' '" + attack + "'  2>/dev/null",
         "mqtt_username=" + attack + "\nmqtt_password=sas-token-1\n\n"},
        {"quotes, blanks, a glob and an option",
         token_settings("'", "it's\tme", "-n a'b\\c *"),
         {"'/devices/it's\tme", "-n a'b\\c *"},
         tool + "''\\'''/devices/'it'\\''s\tme' '-n a'\\''b\\c *'  2>/dev/null",
         kNoUser + "mqtt_password=sas-token-1\n\n"},
        {"a token command too long for the shell", token_settings(quotes, quotes, quotes), kNotRun,
         "", kNoUser + "mqtt_password=\n"},
        {"a key at the second piece of a quoted line", key_deep_in_a_line(16383, true), kNotRun, "",
         kNoUser + "mqtt_password=\n"},
        {"a key at the third piece of a plain line", key_deep_in_a_line(2 * 16383, false), kNotRun,
         "", kNoUser + "mqtt_password=\n"},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.name);
        Case c;
        c.settings = row.settings;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        std::vector<std::vector<std::string>> calls;
        std::vector<std::string> commands = passing_run_commands();
        if (!row.token_args.empty()) {
            calls.push_back(row.token_args);
        }
        if (!row.token_command.empty()) {
            commands.insert(commands.begin() + 3, row.token_command);
        }
        EXPECT_EQ(r.token_calls, calls);
        EXPECT_EQ(r.commands, commands);
        EXPECT_EQ(r.config_lines("mqtt_username", "mqtt_ssltls"), row.login_lines);
        EXPECT_FALSE(r.has("/tmp/pwned"));
        EXPECT_EQ(r.file("/tmp/quorbix/config").find(kSmuggledHost), std::string::npos);
    }
}

TEST(Robustness, OddKeysAndDuplicatesFollowTheLineGrammar) {
    std::string settings;
    settings += std::string("QUORBIX_MQTT_ADDR\0=nul-in-key\n", 30);
    settings += "QUORBIX_MQTT_PORT\r=1\n";
    settings += "QUORBIX_MQTT_QOS=2\r\n";
    for (int i = 0; i < 10000; ++i) {
        settings += "QUORBIX_MQTT_KEEPALIVE=" + std::to_string(i + 1) + "\n";
    }
    settings += "QUORBIX_ENABLE=1\nQUORBIX_CSV=" + kCsv + "\n";
    settings += "QUORBIX_MQTT_USR=\"never closes\n";
    Case c;
    c.settings = settings;
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(config_value(r, "mqtt_host"), "");
    EXPECT_EQ(config_value(r, "mqtt_port"), "0");
    EXPECT_EQ(config_value(r, "mqtt_qos"), "2");
    EXPECT_EQ(config_value(r, "mqtt_keepalive"), "1");  // the first line wins
    EXPECT_EQ(config_value(r, "mqtt_username"), "");
}

TEST(Robustness, LinesAroundTheBoundedBufferLength) {
    const std::string head = "QUORBIX_MSG_CONTENT1=\"";
    for (std::size_t length : {16383u, 16384u, 16385u, 20000u}) {
        // A line of `length` bytes before its line feed.
        const std::string line = head + std::string(length - head.size() - 1, 'c') + "\"";
        Case c;
        c.settings = line + "\n" +
                     settings_file({{"QUORBIX_ENABLE", "1"},
                                    {"QUORBIX_CSV", kCsv},
                                    {"QUORBIX_MQTT_ADDR", "broker"},
                                    {"QUORBIX_MSG_NAME1", std::string(length - 18, 'n')}});
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0) << length;
        EXPECT_EQ(config_value(r, "mqtt_host"), "broker") << length;
        // The message content is read whole and its line bounded to 5119.
        const std::string content = config_value(r, "cust_msg_content1");
        EXPECT_EQ(content.size(), 5119u - 1 - std::string("cust_msg_content1=").size()) << length;
        EXPECT_EQ(content.back(), '"') << length;
        // The name line too keeps its bound.
        EXPECT_EQ(config_value(r, "cust_msg_name1").size(),
                  5119u - 1 - std::string("cust_msg_name1=").size())
            << length;
    }
}

TEST(Robustness, RunningOutOfMemoryAnywhereEndsWithALogLine) {
    if (wrapped_by("valgrind")) {
        // valgrind puts its own operator new in place of the failing one;
        // this case runs natively, under the sanitizers and under qemu.
        GTEST_SKIP() << "valgrind replaces the failing allocator";
    }
    // A test build of the launcher whose allocations fail from the N-th on.
    // N = 1 is the record; later ones reach the token command and the
    // configuration lines, until N lies beyond the run and it passes.
    const std::string out_of_memory = "Can't start quorbix: out of memory\n";
    const std::string no_csv = "Can't find CSV config file in Appcapsule\n";
    Case c;
    c.unforeseeable = "memory that runs out";
    // The test build beside the launcher under test (a cross-built one when
    // the launcher is).
    const char* failing = std::getenv("QUORBIX_E2E_FAILING_ALLOC_LAUNCHER");
    c.launcher =
        failing != nullptr && *failing != '\0' ? failing : QUORBIX_FAILING_ALLOC_LAUNCHER_PATH;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_MQTT_SASGEN", "1"},
                                {"QUORBIX_MQTT_PWD", "key"}});
    bool passed = false;
    for (unsigned long n = 1, next = 2; n < 100000 && !passed; n = std::exchange(next, n + next)) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        c.environment = {"QUORBIX_TEST_FAILING_ALLOCATION=" + std::to_string(n)};
        QUORBIX_RUN(r, c);
        passed = r.status() == 0;
        if (passed) {
            // The record alone needs an allocation: a first run that passes
            // means the failing allocator was never called.
            EXPECT_GT(n, 1u) << "operator new did not fail";
            EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart);
            break;
        }
        EXPECT_EQ(r.status(), 255);
        const std::string log = r.file("/tmp/quorbix/quorbix.log");
        // Opening the settings may fail first: they then read as empty.
        if (n == 1 || log != no_csv) {
            EXPECT_EQ(log, out_of_memory);
        }
        EXPECT_TRUE(r.daemon_calls.empty());
        ASSERT_FALSE(r.commands.empty());
        EXPECT_EQ(r.commands.back(),
                  "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt");
    }
    EXPECT_TRUE(passed) << "no run got past its last allocation";
}

TEST(Robustness, FiftyMebibytesOfLines) {
    if (wrapped_by("valgrind")) {
        // A rescan of 50 MiB for every key through valgrind's own memchr takes minutes;
        // this case runs natively, under the sanitizers and under qemu.
        GTEST_SKIP() << "too slow under valgrind";
    }
    std::string settings = settings_file({{"QUORBIX_ENABLE", "1"}});
    const std::string line = "QUORBIX_FILLER=" + std::string(84, 'f') + "\n";
    while (settings.size() < (std::size_t{50} << 20)) {
        settings += line;
    }
    settings += "QUORBIX_CSV=" + kCsv + "\n";
    Case c;
    c.settings = settings;
    c.tmp_options = "size=64m";
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), "a,b\n1,2\n");
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart);
}

}  // namespace
}  // namespace quorbix::e2e
