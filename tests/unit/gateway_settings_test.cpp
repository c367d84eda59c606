#include "settings/gateway_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "settings/scanner.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::TempDir;

GatewaySettings load_text(const std::string& content) {
    TempDir dir;
    std::string path = dir.write("settings", content);
    auto stream = settings_open_path(path.c_str());
    EXPECT_NE(stream, nullptr);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    return s;
}

// The table's keys are distinct, each found at its own position, and their
// count is the one every table sized by the record's fields takes.
TEST(GatewaySettings, KeyTableHasDistinctKeys) {
    GatewaySettings s;
    std::set<std::string> keys;
    int position = 0;
    settings_for_each_field(s, [&](Scanner, const char* key, auto&) {
        keys.insert(key);
        EXPECT_EQ(settings_key_position(key), position++) << key;
    });
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(position));
    EXPECT_EQ(settings_field_count(), keys.size());
}

// The README states the number of the record's keys, once ("the record's N
// keys"), and every other text says "every key" or derives it: the
// statement must be the key table's count.
TEST(GatewaySettings, ReadmeStatesTheKeyCount) {
    std::string readme = test::read_file(QUORBIX_TEST_DATA_DIR "/../../README.md");
    std::replace(readme.begin(), readme.end(), '\n', ' ');
    const std::string before = "record's ";
    std::vector<std::size_t> stated;
    for (std::size_t at = readme.find(before); at != std::string::npos;
         at = readme.find(before, at + 1)) {
        const std::size_t digits = at + before.size();
        const std::size_t end = readme.find_first_not_of("0123456789", digits);
        if (end != digits && readme.compare(end, 5, " keys") == 0) {
            stated.push_back(std::stoul(readme.substr(digits, end - digits)));
        }
    }
    ASSERT_EQ(stated.size(), 1u) << "README.md states the record's key count once";
    EXPECT_EQ(stated.front(), settings_field_count());
}

// The reader takes a line for a key's line from the bytes before its first
// "=" alone, and reads the value without comparing the key again: that holds
// because no key holds a byte that the line grammar cuts at.
TEST(GatewaySettings, KeysHoldOnlyCapitalsDigitsAndUnderscores) {
    GatewaySettings s;
    settings_for_each_field(s, [&](Scanner, const char* key, auto&) {
        EXPECT_EQ(std::strspn(key, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"), std::strlen(key))
            << key;
    });
}

// tests/data/all_keys.settings gives the field at record position i (from 1)
// the number 1000 + i, or a text beginning "t<i>-" (bounded) or "L<i> "
// (large). Its key list was written independently of the loader's table, so
// a key that feeds the wrong field shows as a wrong position.
TEST(GatewaySettings, EveryKeyFeedsItsOwnField) {
    auto stream = settings_open_path(QUORBIX_TEST_DATA_DIR "/all_keys.settings");
    ASSERT_NE(stream, nullptr);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    int position = 0;
    settings_for_each_field(s, [&](Scanner scanner, const char* key, auto& field) {
        ++position;
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::uint32_t>) {
            EXPECT_EQ(scanner, Scanner::kUint) << key;
            EXPECT_EQ(field, 1000u + static_cast<unsigned>(position)) << key;
        } else {
            const std::string prefix = (scanner == Scanner::kLargeText ? "L" : "t") +
                                       std::to_string(position) +
                                       (scanner == Scanner::kLargeText ? " " : "-");
            EXPECT_EQ(field.rfind(prefix, 0), 0u) << key << " = «" << field << "»";
        }
    });
    // A few fields by name, against the keys they must come from.
    EXPECT_EQ(s.mqtt_host, "t3-mqtt_addr");
    EXPECT_EQ(s.custom[0].value, "t39-custom_value");
    EXPECT_EQ(s.custom[9].value, "t57-custom10_value");
    EXPECT_EQ(s.messages[9].name, "t104-msg_name10");
    EXPECT_EQ(s.serial[2].parity, "t119-uport_parity");
    EXPECT_EQ(s.direct_methods[9].script, "L161 directmethod_script10");
}

TEST(GatewaySettings, OnlyEnableSetLeavesEverythingElseEmpty) {
    GatewaySettings s = load_text("quorbix_enable=1\n");
    EXPECT_EQ(s.enable, 1u);
    int set_fields = 0;
    settings_for_each_field(s, [&](Scanner, const char*, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::uint32_t>) {
            set_fields += field != 0 ? 1 : 0;
        } else {
            set_fields += field.empty() ? 0 : 1;
        }
    });
    EXPECT_EQ(set_fields, 1);
}

TEST(GatewaySettings, KeysAreMatchedWhole) {
    GatewaySettings s = load_text(
        "QUORBIX_CUSTOM1_EN=1\n"
        "QUORBIX_CUSTOM1_VALUE=one\n"
        "QUORBIX_MSG_NAME10=tenth\n"
        "QUORBIX_PORT_VALUE=502\n"
        "QUORBIX_PORT3_BAUDRATE=9600\n"
        "QUORBIX_UPORT_BAUDRATE=115200\n");
    EXPECT_EQ(s.custom[0].enable, 0u);
    EXPECT_EQ(s.custom[0].value, "");
    EXPECT_EQ(s.messages[9].name, "tenth");
    EXPECT_EQ(s.messages[0].name, "");
    EXPECT_EQ(s.port, "502");
    EXPECT_EQ(s.serial[0].baudrate, 0u);
    EXPECT_EQ(s.serial[2].baudrate, 115200u);
}

TEST(GatewaySettings, CertificatesAndKeyAreReadWholeLikeTheCsv) {
    const std::string chain(40000, 'C');
    GatewaySettings s =
        load_text("QUORBIX_CA=" + chain + "\nQUORBIX_LOCALCERT=\"" + chain +
                  "\"\nQUORBIX_LOCALKEY=" + chain + "K\nQUORBIX_CSV=" + chain + "V\n");
    EXPECT_EQ(s.ca_data, chain);
    EXPECT_EQ(s.local_cert_data, chain);
    EXPECT_EQ(s.local_key_data, chain + "K");
    EXPECT_EQ(s.csv_data, chain + "V");
}

// Which scanner each field uses: a quoted value longer than the bounded line
// buffer reads as empty through the bounded scanner and whole through the
// large one. The large fields are named here apart from the loader's table.
TEST(GatewaySettings, EachTextFieldUsesItsOwnScanner) {
    auto is_large = [](std::string_view key) {
        for (std::string_view part :
             {"QUORBIX_CSV", "QUORBIX_CA", "QUORBIX_LOCALCERT", "QUORBIX_LOCALKEY",
              "QUORBIX_MSG_TOPIC", "QUORBIX_MSG_CONTENT", "QUORBIX_DIRECTMETHOD_TOPIC",
              "QUORBIX_DIRECTMETHOD_RESP_", "QUORBIX_DIRECTMETHOD_SCRIPT"}) {
            if (key.substr(0, part.size()) == part) {
                return true;
            }
        }
        return false;
    };
    const std::string value(kBoundedLineSize + 100, 'v');
    GatewaySettings names;
    std::string content;
    settings_for_each_field(names, [&](Scanner, const char* key, auto&) {
        content.append(key).append("=\"").append(value).append("\"\n");
    });
    GatewaySettings s = load_text(content);
    settings_for_each_field(s, [&](Scanner, const char* key, auto& field) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
            EXPECT_EQ(field.size(), is_large(key) ? value.size() : 0u) << key;
        }
    });
}

// A file too large to hold in memory is read through a window: a key line
// across the window's edge, values longer than the window and a key set twice
// read as they do from memory.
TEST(GatewaySettings, WindowedReadingGivesTheSameRecord) {
    const std::string csv(3 * kReadWindow + 7, 'C');
    const std::string content(70000, 'm');
    const std::string filler = "#" + std::string(kReadWindow - 10, 'f') + "\n";
    const std::string file = filler + "QUORBIX_MQTT_ADDR=broker.example\n" + "QUORBIX_CSV=" + csv +
                             "\n" + "quorbix_mqtt_addr=second\n" + "QUORBIX_MSG_CONTENT3=\"" +
                             content + "\"\nQUORBIX_TOPIC_VALUE=\"" + content +
                             "\"\nQUORBIX_ENABLE=1";
    TempDir dir;
    const std::string path = dir.write("settings", file);
    GatewaySettings read[2];
    for (int windowed = 0; windowed < 2; ++windowed) {
        const std::size_t previous = settings_set_in_memory_limit(windowed ? 0 : file.size());
        auto stream = settings_open_path(path.c_str());
        settings_set_in_memory_limit(previous);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(settings_holds_whole_file(stream.get()), windowed == 0);
        settings_load_from(read[windowed], stream.get());
        EXPECT_EQ(settings_key_line(stream.get(), "QUORBIX_MQTT_ADDR").number, 2u);
        // A value left out of the record, and read as a view instead.
        GatewaySettings without_csv;
        settings_load_from(without_csv, stream.get(), "QUORBIX_CSV");
        EXPECT_EQ(without_csv.csv_data, "");
        EXPECT_EQ(without_csv.messages[2].content, content);
        EXPECT_EQ(settings_get_large_view(stream.get(), "QUORBIX_CSV"), csv);
    }
    for (const GatewaySettings& s : read) {
        EXPECT_EQ(s.mqtt_host, "broker.example");
        EXPECT_EQ(s.csv_data, csv);
        EXPECT_EQ(s.messages[2].content, content);
        EXPECT_EQ(s.topic, "");  // quoted, and longer than the bounded buffer
        EXPECT_EQ(s.enable, 1u);
    }
    int field = 0;
    settings_for_each_field(read[0], [&](Scanner, const char* key, auto& whole) {
        int other = 0;
        settings_for_each_field(read[1], [&](Scanner, const char*, auto& windowed) {
            if constexpr (std::is_same_v<decltype(whole), decltype(windowed)>) {
                if (other == field) {
                    EXPECT_EQ(whole, windowed) << key;
                }
            }
            ++other;
        });
        ++field;
    });
}

TEST(GatewaySettings, NoFileGivesEmptyRecord) {
    GatewaySettings s;
    s.enable = 7;
    s.mqtt_host = "stale";
    settings_load_from(s, nullptr);
    EXPECT_EQ(s.enable, 0u);
    EXPECT_EQ(s.mqtt_host, "");
}

}  // namespace
}  // namespace quorbix
