#include "daemon_config/daemon_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daemon_config/token.h"
#include "golden.h"
#include "settings/scanner.h"
#include "temp_file.h"

namespace quorbix {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line;
    }
    return all;
}

using test::expect_golden;

TEST(DaemonConfig, EveryKeySetMatchesTheGoldenFile) {
    auto stream = settings_open_path(QUORBIX_TEST_DATA_DIR "/all_keys.settings");
    ASSERT_NE(stream, nullptr);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    // mqtt_tls is 1013 there: a mode other than 0, 1 and 2.
    expect_golden("all_keys.config", joined(daemon_config_lines(s, true, s.mqtt_password)));
}

TEST(DaemonConfig, EmptyRecordMatchesTheGoldenFile) {
    GatewaySettings s;
    expect_golden("empty.config", joined(daemon_config_lines(s, false, s.mqtt_password)));
}

// The TLS lines of each mode: what follows "mqtt_ssltls=N\n" up to the
// "mb_interval" line.
struct TlsCase {
    std::uint32_t mode;
    bool ca_present;
    const char* lines;
};

TEST(DaemonConfig, TlsLinesFollowTheModeAndTheStagedCa) {
    const TlsCase cases[] = {
        {0, true, "mqtt_ssltls=0\n"},
        {1, true, "mqtt_ssltls=1\nmqtt_cafile=/tmp/quorbix/etc/ca.crt\n"},
        {1, false, "mqtt_ssltls=1\nmqtt_cafile=\n"},
        {2, false,
         "mqtt_ssltls=2\nmqtt_cafile=\nmqtt_localcert=/tmp/quorbix/etc/local.crt\n"
         "mqtt_localkey=/tmp/quorbix/etc/local.key\n"},
        {2, true,
         "mqtt_ssltls=2\nmqtt_cafile=/tmp/quorbix/etc/ca.crt\n"
         "mqtt_localcert=/tmp/quorbix/etc/local.crt\nmqtt_localkey=/tmp/quorbix/etc/local.key\n"},
        {7, true, "mqtt_ssltls=7\nmqtt_cafile=/tmp/quorbix/etc/ca.crt\n"},
    };
    for (const TlsCase& c : cases) {
        GatewaySettings s;
        s.mqtt_tls = c.mode;
        const std::string all = joined(daemon_config_lines(s, c.ca_present, ""));
        std::size_t from = all.find("mqtt_ssltls=");
        std::size_t to = all.find("mb_interval=");
        ASSERT_NE(from, std::string::npos);
        EXPECT_EQ(all.substr(from, to - from), c.lines) << "mode " << c.mode;
    }
}

TEST(DaemonConfig, PasswordValueIsWrittenAsGiven) {
    GatewaySettings s;
    const std::string all = joined(daemon_config_lines(s, false, "token\n"));
    EXPECT_NE(all.find("\nmqtt_password=token\n\nmqtt_ssltls=0\n"), std::string::npos);
    s.mqtt_password = "stored";
    s.mqtt_token_gen = 0;
    std::optional<TokenRun> token;
    EXPECT_EQ(daemon_config_password(s, &token), "stored");
    s.mqtt_token_gen = 1;
    s.mqtt_password.clear();
    EXPECT_EQ(daemon_config_password(s, &token), "");  // the tool is not asked
    EXPECT_FALSE(token.has_value());
}

// Overlong values: the line is cut in its value and keeps its closing quote
// and line feed.
struct BoundCase {
    std::size_t bound;
    const char* fmt;
    const char* head;
    const char* tail;
};

TEST(DaemonConfig, OverlongValuesKeepTheLineBoundedAndWhole) {
    const BoundCase cases[] = {
        {kConfigLineSize, "mqtt_host=%s\n", "mqtt_host=", "\n"},
        {kConfigLineSize, "json_msg_custom%d=%s\n", "json_msg_custom7=", "\n"},
        {kConfigLineSize, "direct_method_topic%d=\"%s\"\n", "direct_method_topic7=\"", "\"\n"},
        {kConfigLineSize, "direct_method_resp_ok%d=\"%s\"\n", "direct_method_resp_ok7=\"", "\"\n"},
        {kConfigLineSize, "direct_method_resp_fail%d=\"%s\"\n", "direct_method_resp_fail7=\"",
         "\"\n"},
        {kMessageLineSize, "cust_msg_name%u=%s\n", "cust_msg_name7=", "\n"},
        {kMessageLineSize, "cust_msg_topic%u=\"%s\"\n", "cust_msg_topic7=\"", "\"\n"},
        {kMessageLineSize, "cust_msg_content%u=\"%s\"\n", "cust_msg_content7=\"", "\"\n"},
    };
    for (const BoundCase& c : cases) {
        const std::string head = c.head;
        const std::string tail = c.tail;
        // The longest value that fits whole, one byte more, and far more.
        const std::size_t fits = c.bound - 1 - head.size() - tail.size();
        for (std::size_t length : {std::size_t{0}, fits, fits + 1, c.bound * 3}) {
            const std::string value(length, 'v');
            std::string line = config_line(c.bound, c.fmt, {7}, value);
            std::size_t full = head.size() + length + tail.size();
            EXPECT_EQ(line.size(), std::min(full, c.bound - 1)) << c.fmt << " " << length;
            EXPECT_EQ(line.rfind(head, 0), 0u) << c.fmt;
            EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << c.fmt << " " << length;
            EXPECT_EQ(line.substr(head.size(), line.size() - head.size() - tail.size()),
                      value.substr(0, fits))
                << c.fmt << " " << length;
        }
    }
    EXPECT_EQ(config_line(kConfigLineSize, "cust_msg_rule%u=%u\n", {3, 4294967295u}),
              "cust_msg_rule3=4294967295\n");
    EXPECT_EQ(config_line(kConfigLineSize, "k=\"%s\"\n", {}, std::string("ab\0cd", 5)),
              "k=\"ab\"\n");
    // A conversion with no number left, a second "%s" and a lone "%" are
    // written as they stand; a format longer than the bound keeps no text.
    EXPECT_EQ(config_line(kConfigLineSize, "n=%u,%d,%u;%s|%s%", {0, 10}, "t"), "n=0,10,%u;t|%s%");
    std::size_t lost = 0;
    EXPECT_EQ(config_line(4, "abcdef%s", {}, "xyz", &lost), "abcdef");
    EXPECT_EQ(lost, 3u);
    EXPECT_EQ(config_line(kConfigLineSize, "no text\n", {}, "xyz", &lost), "no text\n");
    EXPECT_EQ(lost, 0u);
}

TEST(DaemonConfig, CustomSlotOneHasNoNumber) {
    GatewaySettings s;
    for (std::uint32_t n = 0; n < 10; ++n) {
        s.custom[n].enable = 100 + n;
        s.custom[n].value = "c" + std::to_string(n + 1);
    }
    const std::string all = joined(daemon_config_lines(s, false, ""));
    std::string expected = "json_msg_custom_enable=100\njson_msg_custom=c1\n";
    for (std::uint32_t n = 2; n <= 10; ++n) {
        expected += "json_msg_custom" + std::to_string(n) + "_enable=" + std::to_string(99 + n) +
                    "\njson_msg_custom" + std::to_string(n) + "=c" + std::to_string(n) + "\n";
    }
    EXPECT_NE(all.find("\njson_msg_value=\n" + expected + "direct_method_enable=0\n"),
              std::string::npos)
        << all;
    EXPECT_EQ(all.find("json_msg_custom1_enable="), std::string::npos);
    EXPECT_EQ(all.find("json_msg_custom1="), std::string::npos);
}

TEST(DaemonConfig, OverlongRecordStillGivesOneKeyPerLine) {
    GatewaySettings s;
    const std::string huge(20000, 'h');
    s.mqtt_host = huge;
    s.messages[4].content = huge;
    s.direct_methods[9].resp_fail = huge;
    s.custom[1].value = huge;
    auto lines = daemon_config_lines(s, true, huge);
    ASSERT_EQ(lines.size(), daemon_config_lines(GatewaySettings{}, true, "").size());
    for (const std::string& line : lines) {
        std::size_t bound = line.rfind("cust_msg_", 0) == 0 ? kMessageLineSize : kConfigLineSize;
        EXPECT_LE(line.size(), bound - 1);
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1);
    }
}

TEST(TokenCommand, QuotesEachTextForTheShell) {
    EXPECT_EQ(token_command("hub.example", "dev-1", "key"),
              "/opt/quorbix/bin/create-sas 'hub.example'/devices/'dev-1' 'key'  2>/dev/null");
    EXPECT_EQ(token_command("", "", ""),
              "/opt/quorbix/bin/create-sas ''/devices/'' ''  2>/dev/null");
    EXPECT_EQ(token_command(std::string(40000, '\''), "", ""), "");
    // At the bound: one byte less is formed whole, the bound itself is refused.
    const std::size_t base = token_command("", "", "").size();
    EXPECT_EQ(token_command("", "", std::string(kMaxTokenCommand - 1 - base, 'k')).size(),
              kMaxTokenCommand - 1);
    EXPECT_EQ(token_command("", "", std::string(kMaxTokenCommand - base, 'k')), "");
}

// Runs command through the shell with printf in the tool's place, each
// argument framed by < >, and returns what it printed. The stand-in is padded
// to the tool path's length, so the shell is handed a command just as long.
// With after_cd, the command follows a "cd DIR && " of the caller's.
std::string run_with_printf(std::string command, bool after_cd = false) {
    const std::string tool = "/opt/quorbix/bin/create-sas";
    std::string stand_in = "printf '<%s>'";
    stand_in.insert(6, tool.size() - stand_in.size(), ' ');
    const std::size_t at = after_cd ? command.find(" && ") + 4 : 0;
    EXPECT_EQ(command.compare(at, tool.size(), tool), 0) << command.substr(0, 80);
    command.replace(at, tool.size(), stand_in);
    std::FILE* p = ::popen(command.c_str(), "r");
    EXPECT_NE(p, nullptr);
    std::string out;
    if (p != nullptr) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        ::pclose(p);
    }
    return out;
}

TEST(TokenCommand, HostileTextsComeBackFromTheShellUnchanged) {
    // A fault in the quoting would let "touch x" or "a>b" act: they act on
    // names in a private directory, never on the machine's own files.
    const test::TempDir dir;
    const char* texts[] = {"a b",   "x;touch x", "$(id)", "`id`", "'", "''\\'",
                           "\"q\"", "*",         "-n",    "a\tb", "~", "!x",
                           "a\nb",  "${HOME}",   "a|b",   "a>b",  "&", "#c"};
    for (const char* text : texts) {
        std::string command = token_command(text, text, text);
        ASSERT_FALSE(command.empty());
        EXPECT_EQ(run_with_printf("cd '" + dir.path("") + "' && " + command, true),
                  "<" + std::string(text) + "/devices/" + text + "><" + text + ">")
            << text;
    }
    EXPECT_NE(::access(dir.path("x").c_str(), F_OK), 0) << "a quoted text ran as a command";
}

TEST(TokenCommand, LongestFormedCommandStillReachesTheTool) {
    // The bound is only worth its name if the shell really accepts a command
    // that long and passes the key on whole.
    const std::size_t base = token_command("", "", "").size();
    const std::string key(kMaxTokenCommand - 1 - base - 2, 'k');
    const std::string command = token_command("h", "d", key);
    ASSERT_EQ(command.size(), kMaxTokenCommand - 1);
    EXPECT_EQ(run_with_printf(command), "<h/devices/d><" + key + ">");
}

}  // namespace
}  // namespace quorbix
