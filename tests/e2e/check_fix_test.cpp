// The checker's certain fixes end to end: its diff of a file with several
// mistakes, applied with patch -p0, gives settings the real launcher reads as
// they were meant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "rig.h"

namespace quorbix::e2e {
namespace {

TEST(CheckFix, ThePatchedSettingsStartTheGatewayAsMeant) {
    const std::string settings = test_data("check/fixable.settings");
    const std::string diff = test_data("check/fixable.diff");
    ASSERT_FALSE(settings.empty());
    ASSERT_FALSE(diff.empty());
    Case c;
    c.settings = std::nullopt;
    c.setup = [&settings, &diff] {
        put_file("/opt/quorbix/etc/fixable.settings", settings);
        put_file("/opt/quorbix/etc/fixable.diff", diff);
        if (std::system("cd /opt/quorbix/etc && patch -p0 --quiet < fixable.diff && "
                        "mv fixable.settings settings") != 0) {
            rig_fail("patch -p0 did not apply the checker's diff");
        }
    };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.check_status, 0) << r.check_json;
    EXPECT_EQ(r.status(), 0) << r.log_added;
    // Keys written under other names, behind "export " or with blanks now read.
    EXPECT_EQ(r.config_lines("mqtt_host", "mqtt_keepalive"),
              "mqtt_host=hub-17.example.net\nmqtt_port=8883\n");
    EXPECT_EQ(r.config_lines("mqtt_keepalive", "mqtt_qos"), "mqtt_keepalive=60\n");
    EXPECT_EQ(r.config_lines("mqtt_clientid", "mqtt_anonymous"), "mqtt_clientid=gateway-0042\n");
    EXPECT_EQ(r.config_lines("mqtt_username", "mqtt_ssltls"),
              "mqtt_username=gw\nmqtt_password=s3cret\n");
    EXPECT_EQ(r.config_lines("mb_interval", "mb_timeout"), "mb_interval=1000\n");
    EXPECT_EQ(r.config_lines("json_msg_custom_enable", "json_msg_custom"),
              "json_msg_custom_enable=1\n");
    // The wrapped CA and the pasted client certificate are staged whole.
    EXPECT_EQ(r.file("/tmp/quorbix/etc/ca.crt"), test_data("check/fixable-ca.pem"));
    EXPECT_EQ(r.file("/tmp/quorbix/etc/local.crt"), test_data("check/fixable-client.pem"));
}

// A file made by a template, a spreadsheet, another format or another
// machine, and what the launcher must read once the checker's diff of it is
// applied: configuration lines (from one key up to another) and staged files.
struct FormatRow {
    const char* name;
    std::string settings;
    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> config;
    std::map<std::string, std::string> staged;
};

std::vector<FormatRow> format_rows() {
    const std::string csv =
        "# slave,function,address,count,type,name\n1,3,40001,2,float,boiler_temp\n";
    const std::string script = "#!/bin/sh\necho restarting\n\nexit 0\n";
    const std::string bom_script = "\xef\xbb\xbf#!/bin/sh\necho hi\n";
    std::string mac = "QUORBIX_ENABLE=1\nQUORBIX_CSV=" + base64(csv) +
                      "\nQUORBIX_MQTT_ADDR=hub-17.example.net\nQUORBIX_MQTT_PORT=8883\n"
                      "QUORBIX_CLIENT_ID=gateway-0042\n";
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    return {
        {"YAML, a spreadsheet's tab, a URL, CSV rows, scripts as text and behind a mark",
         "QUORBIX_ENABLE: 1\n"
         "QUORBIX_CSV=" +
             csv.substr(0, csv.size() - 1) +
             "\n"
             "\n"
             "QUORBIX_MQTT_ADDR=mqtts://hub-17.example.net:8883\n"
             "QUORBIX_CLIENT_ID\tgateway-0042\n"
             "QUORBIX_MQTT_USR gw\n"
             "QUORBIX_DIRECTMETHOD_EN=1\n"
             "QUORBIX_DIRECTMETHOD_TOPIC1=restart\n"
             "QUORBIX_DIRECTMETHOD_SCRIPT1=" +
             script + "QUORBIX_DIRECTMETHOD_SCRIPT2=" + base64(bom_script) + "\n",
         {{{"mqtt_host", "mqtt_keepalive"}, "mqtt_host=hub-17.example.net\nmqtt_port=8883\n"},
          {{"mqtt_clientid", "mqtt_anonymous"}, "mqtt_clientid=gateway-0042\n"},
          {{"mqtt_username", "mqtt_password"}, "mqtt_username=gw\n"}},
         {{"/tmp/quorbix/etc/config.csv", csv},
          {"/tmp/quorbix/script-1.sh", script},
          {"/tmp/quorbix/script-2.sh", "#!/bin/sh\necho hi\n"}}},
        {"a quoted URL whose port QUORBIX_MQTT_PORT already says",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=\"" + csv.substr(0, csv.size() - 1) +
             "\"\n"
             "QUORBIX_MQTT_ADDR=\"tcp://hub-17.example.net:1883/\"\nQUORBIX_MQTT_PORT=1883\n"
             "QUORBIX_CLIENT_ID=gateway-0042\n",
         {{{"mqtt_host", "mqtt_keepalive"}, "mqtt_host=hub-17.example.net\nmqtt_port=1883\n"}},
         {{"/tmp/quorbix/etc/config.csv", csv}}},
        {"classic Mac line ends",
         mac,
         {{{"mqtt_host", "mqtt_keepalive"}, "mqtt_host=hub-17.example.net\nmqtt_port=8883\n"},
          {{"mqtt_clientid", "mqtt_anonymous"}, "mqtt_clientid=gateway-0042\n"}},
         {{"/tmp/quorbix/etc/config.csv", csv}}},
    };
}

TEST(CheckFix, FilesOfOtherFormatsStartTheGatewayAsMeantOnceFixed) {
    for (const FormatRow& row : format_rows()) {
        SCOPED_TRACE(row.name);
        Case c;
        c.settings = row.settings;
        c.setup = [] {
            const std::string fix = "cd /opt/quorbix/etc && " + checker_command() +
                                    " --diff settings > fix.diff 2>/dev/null;"
                                    " test -s fix.diff && patch -p0 --quiet < fix.diff";
            if (std::system(fix.c_str()) != 0) {
                rig_fail("the checker's diff did not apply with patch -p0");
            }
        };
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.check_status, 0) << r.check_json;
        EXPECT_EQ(r.status(), 0) << r.log_added;
        for (const auto& [keys, lines] : row.config) {
            EXPECT_EQ(r.config_lines(keys.first, keys.second), lines);
        }
        for (const auto& [path, bytes] : row.staged) {
            EXPECT_EQ(r.file(path), bytes) << path;
        }
    }
}

}  // namespace
}  // namespace quorbix::e2e
