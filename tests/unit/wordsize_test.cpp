// What only a 32-bit build shows: a settings file larger than the process can
// allocate sends the large-value scanner to its fixed fallback area.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "settings/gateway_settings.h"
#include "settings/scanner.h"
#include "temp_file.h"

namespace quorbix {
namespace {

TEST(WordSize, HugeSparseSettingsFallBackToTheFixedArea) {
    if (sizeof(void*) > 4) {
        GTEST_SKIP() << "a 64-bit process can allocate a buffer as large as the file";
    }
    test::TempDir dir;
    const std::string long_csv(20000, 'C');
    const std::string head =
        "QUORBIX_ENABLE=1\n"
        "QUORBIX_MQTT_ADDR=\"broker.example\"\n"
        "QUORBIX_MQTT_PORT=-1\n"
        "QUORBIX_MQTT_KEEPALIVE=99999999999\n"
        "QUORBIX_MSG_CONTENT3=\"short content\"\n"
        "QUORBIX_CSV=" +
        long_csv + "\n";
    const std::string path = dir.write("settings", head);
    // 5 GiB: more than any 32-bit size, and sparse, so it costs no space.
    ASSERT_EQ(::truncate(path.c_str(), std::int64_t{5} << 30), 0);

    auto stream = settings_open_path(path.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_ENABLE"), 1u);
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_MQTT_ADDR"), "broker.example");
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_MQTT_PORT"), 4294967295u);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_MQTT_KEEPALIVE"), 4294967295u);
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_MSG_CONTENT3"), "short content");
    EXPECT_EQ(settings_large_capacity(), kBoundedLineSize);
    // The CSV line is longer than the fallback area: what fits arrives.
    const std::string csv = settings_get_large_text(stream.get(), "QUORBIX_CSV");
    EXPECT_EQ(csv, long_csv.substr(0, kBoundedLineSize - 1 - 12));
}

TEST(WordSize, WholeLoadCompletesOnAHugeSparseFile) {
    if (sizeof(void*) > 4) {
        GTEST_SKIP() << "a 64-bit process can allocate a buffer as large as the file";
    }
    // Every key near the start, so that no lookup has to read the gigabytes
    // of NUL bytes behind them.
    test::TempDir dir;
    const std::string all_keys = test::read_file(QUORBIX_TEST_DATA_DIR "/all_keys.settings");
    ASSERT_FALSE(all_keys.empty());
    const std::string path = dir.write("settings", all_keys);
    ASSERT_EQ(::truncate(path.c_str(), std::int64_t{5} << 30), 0);
    auto stream = settings_open_path(path.c_str());
    ASSERT_NE(stream, nullptr);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    EXPECT_EQ(s.enable, 1001u);
    EXPECT_EQ(s.mqtt_host, "t3-mqtt_addr");
    EXPECT_EQ(s.csv_data, "L16 csv");
    EXPECT_EQ(s.direct_methods[9].script, "L161 directmethod_script10");
    EXPECT_EQ(settings_large_capacity(), kBoundedLineSize);
}

}  // namespace
}  // namespace quorbix
