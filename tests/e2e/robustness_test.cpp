// Hostile and malformed settings, end to end: the launcher never crashes,
// never runs what a value smuggles in, and ends where the gates say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsv = base64("a,b\n1,2\n");
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &\n";

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

TEST(Robustness, InjectionAttemptsInEveryTextRunNothing) {
    const std::string attack =
        "x;touch /tmp/pwned;$(touch /tmp/pwned)`touch /tmp/pwned`|touch /tmp/pwned";
    std::string settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                          {"QUORBIX_CSV", kCsv},
                                          {"QUORBIX_MQTT_SASGEN", "1"},
                                          {"QUORBIX_MQTT_PWD", attack},
                                          {"QUORBIX_MQTT_ADDR", attack},
                                          {"QUORBIX_CLIENT_ID", attack},
                                          {"QUORBIX_MQTT_USR", attack},
                                          {"QUORBIX_MSG_CONTENT1", attack},
                                          {"QUORBIX_DIRECTMETHOD_TOPIC1", attack},
                                          {"QUORBIX_PORT1_PARITY", attack}});
    Case c;
    c.settings = settings;
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_FALSE(r.has("/tmp/pwned"));
    ASSERT_EQ(r.token_calls.size(), 1u);
    EXPECT_EQ(r.token_calls[0][1], attack);
    EXPECT_EQ(config_value(r, "mqtt_username"), attack);
    EXPECT_EQ(config_value(r, "ser_port1_parity"), attack);
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
    const std::string smuggled = "QUORBIX_MQTT_ADDR=elsewhere";
    for (std::size_t length : {16383u, 16384u, 16385u, 20000u}) {
        // A line of `length` bytes before its line feed; where it is long
        // enough, a key stands exactly where its second piece begins.
        std::string line = head + std::string(length - head.size() - 1, 'c') + "\"";
        if (length >= 16383 + smuggled.size() + 1) {
            line.replace(16383, smuggled.size(), smuggled);
        }
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
        // 161 rescans of 50 MiB through valgrind's own memchr take minutes;
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
