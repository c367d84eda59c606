#include "settings/scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "settings/key_index.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::TempDir;

struct LineCase {
    const char* line;
    const char* key;
    bool matches;
    const char* value;
};

TEST(SettingsLine, GrammarOfOneLine) {
    const LineCase cases[] = {
        {"KEY=\"some value\"\n", "KEY", true, "some value"},
        {"KEY=plain\n", "KEY", true, "plain"},
        {"KEY=\"\"\n", "KEY", true, ""},
        {"KEY=\"a \"b\" c\"\n", "KEY", true, "a \"b\" c"},
        {"KEY=abc\"def\n", "KEY", true, "abc"},
        {"KEY=\"abc\n", "KEY", true, ""},
        {"KEY= a \n", "KEY", true, " a "},
        {"KEY= \"x\"\n", "KEY", true, " \"x"},
        {"KEY=a=b\n", "KEY", true, "a=b"},
        {"key=1\n", "KEY", true, "1"},
        {"KEY=1\n", "kEy", true, "1"},
        {"KEY =1\n", "KEY", false, ""},
        {" KEY=1\n", "KEY", false, ""},
        {"KEYS=1\n", "KEY", false, ""},
        {"KE=1\n", "KEY", false, ""},
        {"KEY=crlf\r\n", "KEY", true, "crlf"},
        {"KEY=a\rb=c\n", "KEY", true, "a"},
        {"KEY\r=1\n", "KEY", false, ""},
        {"KEY\"=x\n", "KEY", false, ""},
        {"KEY=x", "KEY", true, "x"},
        {"=empty key\n", "", true, "empty key"},
        {"KEY\n", "KEY", false, ""},
        {"", "KEY", false, ""},
        {"A\"B=x\"\n", "A\"B", true, "x"},
        {"KEY=\xc3\xa9t\xc3\xa9\n", "KEY", true, "\xc3\xa9t\xc3\xa9"},
        // Only ASCII letters fold: the key's bytes above 0x7f must match as they are.
        {"K\xc3\x89Y=1\n", "K\xc3\xa9Y", false, ""},
    };
    for (const LineCase& c : cases) {
        std::string_view value;
        bool matched = settings_match_line(c.line, c.key, &value);
        EXPECT_EQ(matched, c.matches) << "line «" << c.line << "» key «" << c.key << "»";
        if (matched && c.matches) {
            EXPECT_EQ(value, c.value) << "line «" << c.line << "»";
        }
    }
    std::string_view value;
    const std::string with_nul("KEY=ab\0cd\n", 10);
    ASSERT_TRUE(settings_match_line(with_nul, "KEY", &value));
    EXPECT_EQ(value, "ab");
    EXPECT_FALSE(settings_match_line(std::string("K\0Y=1\n", 6), "K", &value));
}

TEST(SettingsLine, WhetherADoubleQuoteOpensTheValue) {
    struct QuoteCase {
        const char* line;
        bool quoted;
        bool opens_quote;
    };
    const QuoteCase cases[] = {
        {"KEY=\"a\"\n", true, true},      {"KEY=\"\"\n", true, true},
        {"KEY=\"a\n", false, true},       {"KEY=\"\n", false, true},
        {"KEY=a\"b\"\n", false, false},   {"KEY= \"a\"\n", false, false},
        {"KEY=\"\r\"x\"\n", false, true},
    };
    for (const QuoteCase& c : cases) {
        const SettingsLine read = settings_read_line(c.line);
        EXPECT_EQ(read.quoted, c.quoted) << "line «" << c.line << "»";
        EXPECT_EQ(read.opens_quote, c.opens_quote) << "line «" << c.line << "»";
    }
}

TEST(SettingsScanner, LookupsOverAFile) {
    TempDir dir;
    std::string path = dir.write("settings", std::string("# comment without equals\n"
                                                         "QUORBIX_ENABLE=1\n"
                                                         "quorbix_enable=0\n"
                                                         "QUORBIX_NUM=\"42\"\r\n"
                                                         "QUORBIX_NEG=-1\n"
                                                         "QUORBIX_TEXT=\"hello world\"\n") +
                                                 std::string("QUORBIX_NUL=ab\0cd\n", 16) +
                                                 "QUORBIX_TEXT=second\n"
                                                 "QUORBIX_AFTER_NUL=yes\n");
    auto stream = settings_open_path(path.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_ENABLE"), 1u);  // first line wins
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_NUM"), 42u);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_NEG"), 4294967295u);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_TEXT"), 0u);
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_ABSENT"), 0u);
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_TEXT"), "hello world");
    EXPECT_EQ(settings_get_large_text(stream.get(), "quorbix_text"), "hello world");
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_ABSENT"), "");
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_ABSENT"), "");
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_AFTER_NUL"), "yes");
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_NUL"), "ab");
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_NUL"), "ab");
    // Every lookup rescans from the first line, in any order.
    EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_ENABLE"), 1u);
    settings_close(std::move(stream));
}

// The pass tries the key after the last one it found before the hash: files
// in record order, out of it, with keys set twice, in other letter cases or
// with names that only begin like the expected key, find each key's first
// line alike, through the key and through its position, whether the file is
// held whole or read through the window, and whichever key is asked first.
TEST(SettingsScanner, RecordKeysInAnyOrderFindTheirFirstLine) {
    struct OrderCase {
        const char* file;
        const char* enable;  // QUORBIX_ENABLE, position 0
        const char* log;     // QUORBIX_LOG_EN, position 1
        const char* addr;    // QUORBIX_MQTT_ADDR, position 2
        const char* name1;   // QUORBIX_MSG_NAME1
        const char* rule1;   // QUORBIX_MSG_RULE1, the key after it
    };
    const OrderCase cases[] = {
        {"QUORBIX_ENABLE=1\nQUORBIX_LOG_EN=2\nQUORBIX_MQTT_ADDR=h\n", "1", "2", "h", "", ""},
        {"QUORBIX_MQTT_ADDR=h\nQUORBIX_LOG_EN=2\nQUORBIX_ENABLE=1\n", "1", "2", "h", "", ""},
        {"QUORBIX_ENABLE=1\nQUORBIX_LOG_EN=2\nQUORBIX_LOG_EN=3\nQUORBIX_ENABLE=4\n", "1", "2", "",
         "", ""},
        {"quorbix_enable=1\n# QUORBIX_LOG_EN=9\nQuorbix_Log_En=2\nQUORBIX_MQTT_ADDR =x\n"
         "QUORBIX_MQTT_ADDRESS=x\nQUORBIX_MQTT_ADDR=h",
         "1", "2", "h", "", ""},
        // Expected next: QUORBIX_LOG_EN; a name one longer, one shorter, or
        // with a byte that equals an underscore once bit 0x20 is set.
        {"QUORBIX_ENABLE=1\nQUORBIX_LOG_ENX=9\nQUORBIX_LOG_E=9\nQUORBIX\x7fLOG_EN=9\n"
         "QUORBIX_LOG_EN=2\n",
         "1", "2", "", "", ""},
        {"QUORBIX_MSG_NAME1=a\nQUORBIX_MSG_NAME10=b\nQUORBIX_MSG_RULE1=7\nQUORBIX_MSG_RULE1=8\n",
         "", "", "", "a", "7"},
        {"QUORBIX_MSG_NAME10=b\nQUORBIX_MSG_RULE1=7\nQUORBIX_MSG_NAME1=a\n", "", "", "", "a", "7"},
        {"QUORBIX_MSG_RULE1=\"7\"\r\nQUORBIX_MSG_NAME1=\"a\"b\"\r\n", "", "", "", "a\"b", "7"},
        // After the record's last key, its first is expected.
        {"QUORBIX_DIRECTMETHOD_SCRIPT10=s\nQUORBIX_ENABLE=1\nQUORBIX_LOG_EN=2\n", "1", "2", "", "",
         ""},
    };
    const char* const keys[] = {"QUORBIX_ENABLE", "QUORBIX_LOG_EN", "QUORBIX_MQTT_ADDR",
                                "QUORBIX_MSG_NAME1", "QUORBIX_MSG_RULE1"};
    for (const OrderCase& c : cases) {
        const char* const values[] = {c.enable, c.log, c.addr, c.name1, c.rule1};
        TempDir dir;
        const std::string path = dir.write("settings", c.file);
        for (std::size_t limit : {kDefaultInMemoryLimit, std::size_t{0}}) {
            for (bool backwards : {false, true}) {
                const std::size_t previous = settings_set_in_memory_limit(limit);
                auto stream = settings_open_path(path.c_str());
                settings_set_in_memory_limit(previous);
                ASSERT_NE(stream, nullptr);
                for (std::size_t n = 0; n < std::size(keys); ++n) {
                    const std::size_t i = backwards ? std::size(keys) - 1 - n : n;
                    const int position = settings_key_position(keys[i]);
                    ASSERT_GE(position, 0) << keys[i];
                    const std::string where = std::string(c.file) + " / " + keys[i] +
                                              (limit == 0 ? " windowed" : " whole") +
                                              (backwards ? " backwards" : "");
                    EXPECT_EQ(settings_get_text_at(stream.get(), position), values[i]) << where;
                    EXPECT_EQ(settings_get_large_text_at(stream.get(), position), values[i])
                        << where;
                    EXPECT_EQ(settings_get_text(stream.get(), keys[i]), values[i]) << where;
                }
            }
        }
    }
}

// Keys are matched with only the ASCII letters folded: every other byte in
// place of one of a key's bytes makes a text that is no key of the record.
TEST(SettingsScanner, KeyPositionsFoldOnlyAsciiLetters) {
    for (const char* key : {"QUORBIX_ENABLE", "QUORBIX_MSG_NAME10", "QUORBIX_UPORT_STOPBITS",
                            "QUORBIX_DIRECTMETHOD_RESP_FAIL10"}) {
        const int position = settings_key_position(key);
        ASSERT_GE(position, 0) << key;
        std::string text = key;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char original = key[i];
            for (int byte = 0; byte < 256; ++byte) {
                text[i] = static_cast<char>(byte);
                const bool same = byte == original ||
                                  (original >= 'A' && original <= 'Z' && byte == original + 32);
                EXPECT_EQ(settings_key_position(text), same ? position : -1)
                    << key << " byte " << i << " = " << byte;
            }
            text[i] = original;
        }
    }
}

TEST(SettingsScanner, NullStreamGivesEmptyTextsAndZero) {
    EXPECT_EQ(settings_open_path("/nonexistent/quorbix/settings"), nullptr);
    EXPECT_EQ(settings_get_text(nullptr, "QUORBIX_ENABLE"), "");
    EXPECT_EQ(settings_get_large_text(nullptr, "QUORBIX_ENABLE"), "");
    EXPECT_EQ(settings_get_uint(nullptr, "QUORBIX_ENABLE"), 0u);
    settings_close(nullptr);
}

TEST(SettingsScanner, OnlyRegularFilesAreSettings) {
    TempDir dir;
    EXPECT_EQ(settings_open_path(dir.path("").c_str()), nullptr);  // a directory
    EXPECT_EQ(settings_open_path("/dev/null"), nullptr);
}

// Lines longer than the bounded buffer: 16383 bytes reach the scanner in the
// first piece, and the rest of the line is never taken for a key line.
TEST(SettingsScanner, BoundedScannerCutsLongLinesAndNeverReadsTheirTail) {
    const std::size_t piece = kBoundedLineSize - 1;
    const std::string head = "QUORBIX_A=";
    const std::string fill(piece - head.size(), 'v');
    TempDir dir;
    std::string path = dir.write("settings",
                                 // Unquoted: cut to what fits in the first piece.
                                 head + fill + "TAIL\n" +
                                     // Quoted, closing beyond the first piece: empty.
                                     "QUORBIX_B=\"" + std::string(piece, 'w') + "\"\n" +
                                     // A smuggled key exactly at the start of the second piece.
                                     "QUORBIX_C=" + std::string(piece - 10, 'x') +
                                     "QUORBIX_MQTT_ADDR=elsewhere\n" +
                                     // The same line seen whole by the large scanner.
                                     "QUORBIX_MQTT_ADDR=broker\n");
    auto stream = settings_open_path(path.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_A"), fill);
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_A"), fill + "TAIL");
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_B"), "");
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_B"), std::string(piece, 'w'));
    EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_MQTT_ADDR"), "broker");
    EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_MQTT_ADDR"), "broker");
}

TEST(SettingsScanner, LineOfExactlyTheBufferLengthIsWhole) {
    for (std::size_t total : {kBoundedLineSize - 2, kBoundedLineSize - 1, kBoundedLineSize}) {
        // `total` bytes before the line feed.
        const std::string head = "QUORBIX_A=";
        const std::string value(total - head.size(), 'z');
        TempDir dir;
        std::string path = dir.write("settings", head + value + "\nQUORBIX_B=2\n");
        auto stream = settings_open_path(path.c_str());
        ASSERT_NE(stream, nullptr);
        std::string got = settings_get_text(stream.get(), "QUORBIX_A");
        EXPECT_EQ(got, value.substr(0, kBoundedLineSize - 1 - head.size())) << total;
        EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_B"), 2u) << total;
    }
}

TEST(SettingsScanner, LargeScannerReadsASingleLineFileWhole) {
    const std::string value(100000, 'L');
    for (const char* ending : {"", "\n", "\r\n"}) {
        TempDir dir;
        const std::string content = "QUORBIX_CSV=" + value + ending;
        std::string path = dir.write("settings", content);
        auto stream = settings_open_path(path.c_str());
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_CSV"), value)
            << "«" << ending << "»";
        EXPECT_EQ(settings_large_capacity(), content.size() + 1);
    }
}

TEST(SettingsScanner, TinyFilesGiveEmptyTexts) {
    for (const char* content : {"", "=", "\n", "Q"}) {
        TempDir dir;
        std::string path = dir.write("settings", content);
        auto stream = settings_open_path(path.c_str());
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(settings_get_large_text(stream.get(), "QUORBIX_CSV"), "");
        EXPECT_EQ(settings_get_large_text(stream.get(), ""), "");
        EXPECT_EQ(settings_get_text(stream.get(), "QUORBIX_CSV"), "");
        EXPECT_EQ(settings_get_uint(stream.get(), "QUORBIX_CSV"), 0u);
        EXPECT_EQ(settings_large_capacity(), std::strlen(content) + 1);
    }
}

}  // namespace
}  // namespace quorbix
