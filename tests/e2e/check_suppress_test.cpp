// The checker's own lines ("# quorbix-check: ignore=CODE") through the real
// launcher: they begin with "#" and hold no key of the record, so a file with
// them starts the launcher exactly as the same file without them.
#include <gtest/gtest.h>

#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

TEST(CheckSuppress, TheLauncherReadsTheSameWithAndWithoutTheLines) {
    const std::string csv = base64("slave,function\n1,3\n");
    // Every line names a record key, in a code list and in a reason, and one
    // stands before each key it could be taken to set.
    const std::string lines[] = {
        "# quorbix-check: ignore-file=qos-range -- QUORBIX_ENABLE=0 on the bench\n",
        "# quorbix-check: ignore=number-hex,no-enable -- QUORBIX_MQTT_PORT=1883\n",
        "#quorbix-check:ignore=QUORBIX_CSV=\n",
        "# quorbix-check: ignore=qos-range\n",
    };
    const std::string keys[] = {
        "QUORBIX_ENABLE=1\n",
        "QUORBIX_CSV=" + csv + "\n",
        "QUORBIX_MQTT_ADDR=hub-17.example.net\n",
        "QUORBIX_MQTT_PORT=8883\n",
        "QUORBIX_CLIENT_ID=gateway-0042\n",
        "QUORBIX_MQTT_QOS=3\n",
    };
    std::string with;
    std::string without;
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        with += lines[i % std::size(lines)] + keys[i];
        without += keys[i];
    }
    with += lines[0];
    RunResult runs[2];
    for (int i = 0; i < 2; ++i) {
        Case c;
        c.settings = i == 0 ? with : without;
        QUORBIX_RUN(r, c);
        runs[i] = r;
    }
    EXPECT_EQ(runs[0].status(), 0) << runs[0].log_added;
    EXPECT_EQ(runs[0].status(), runs[1].status());
    EXPECT_EQ(runs[0].log_added, runs[1].log_added);
    EXPECT_EQ(runs[0].file("/tmp/quorbix/config"), runs[1].file("/tmp/quorbix/config"));
    EXPECT_EQ(runs[0].config_lines("mqtt_host", "mqtt_keepalive"),
              "mqtt_host=hub-17.example.net\nmqtt_port=8883\n");
    EXPECT_EQ(runs[0].file("/tmp/quorbix/etc/config.csv"), "slave,function\n1,3\n");
    EXPECT_EQ(runs[0].files, runs[1].files);
    EXPECT_EQ(runs[0].commands, runs[1].commands);
}

}  // namespace
}  // namespace quorbix::e2e
