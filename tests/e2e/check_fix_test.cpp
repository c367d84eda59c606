// The checker's certain fixes end to end: its diff of a file with several
// mistakes, applied with patch -p0, gives settings the real launcher reads as
// they were meant.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace
}  // namespace quorbix::e2e
