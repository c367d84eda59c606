#include "staging/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace quorbix {
namespace {

std::string decode(const std::string& text) {
    DecodedBytes d = base64_decode_dup(text.c_str());
    EXPECT_NE(d.data, nullptr);
    if (!d.data) {
        return "<null>";
    }
    EXPECT_EQ(d.data[d.size], '\0');
    return std::string(reinterpret_cast<const char*>(d.data.get()), d.size);
}

struct DecodeCase {
    const char* text;
    std::string bytes;
};

TEST(Base64, DecodesLeniently) {
    const DecodeCase cases[] = {
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TQ==", "M"},
        {"TQ", "M"},
        {"T", ""},
        {"", ""},
        {"TW\nFu", "Man"},
        {"T W F u", "Man"},
        {"TW\r\nFu\r\n", "Man"},
        {"TW+u", "Mo\xae"},
        {"TW-u", "Mo\xae"},             // "-" is 62 like "+"
        {"TW_u", "Mk"},                 // "_" is no symbol: "TWu" decodes
        {"TQ==TWFu", "M\x04\xd6\x16"},  // symbols after padding go on
        {"//8=", "\xff\xff"},
        {"AAAA", std::string(3, '\0')},
        {"\x80\xff*TWFu!", "Man"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(decode(c.text), c.bytes) << "«" << c.text << "»";
    }
    EXPECT_EQ(base64_decode_dup(nullptr).data, nullptr);
}

std::string encode(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int nbits = 0;
    for (char ch : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(ch);
        nbits += 8;
        while (nbits >= 6) {
            nbits -= 6;
            out.push_back(alphabet[(bits >> nbits) & 63]);
        }
    }
    if (nbits > 0) {
        out.push_back(alphabet[(bits << (6 - nbits)) & 63]);
    }
    while (out.size() % 4 != 0) {
        out.push_back('=');
    }
    return out;
}

TEST(Base64, RoundTripsEveryByteValueAtEveryLength) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    for (std::size_t len = 0; len <= all.size(); ++len) {
        std::string bytes = all.substr(all.size() - len);
        EXPECT_EQ(decode(encode(bytes)), bytes) << len;
    }
}

TEST(Base64, NeverWritesMoreThanThreeQuartersOfTheInput) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        std::size_t len = rng() % 300;
        std::string text;
        for (std::size_t i = 0; i < len; ++i) {
            // Any byte from 0x01 to 0xFF, biased towards symbols.
            text.push_back(rng() % 3 == 0 ? static_cast<char>(1 + rng() % 255)
                                          : "ABCxyz019+-/="[rng() % 13]);
        }
        const std::size_t bound = len * 3 / 4;
        std::vector<unsigned char> out(bound + 16, 0xA5);
        std::size_t n = base64_decode(text.c_str(), out.data());
        ASSERT_LE(n, bound) << "input length " << len;
        for (std::size_t i = bound; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0xA5) << "guard byte " << i << " overwritten";
        }
    }
}

}  // namespace
}  // namespace quorbix
