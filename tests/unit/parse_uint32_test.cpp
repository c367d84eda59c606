#include <gtest/gtest.h>

#include "settings/scanner.h"

namespace quorbix {
namespace {

struct NumberCase {
    const char* text;
    std::uint32_t expected;
};

TEST(ParseUint32, FollowsTheUnsignedDecimalRulesOn32Bits) {
    const NumberCase cases[] = {
        {"12", 12u},
        {" 7", 7u},
        {"\t\v\f9", 9u},
        {"+5", 5u},
        {"12abc", 12u},
        {"0x10", 0u},
        {"abc", 0u},
        {"", 0u},
        {"-", 0u},
        {"+-3", 0u},
        {"-0", 0u},
        {"-1", 4294967295u},
        {"-2", 4294967294u},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"-4294967296", 4294967295u},
        {"99999999999999999999999", 4294967295u},
        {"-4294967295", 1u},
        {"0000000000000000000000012", 12u},
        {"\n5", 0u},
        {" - 5", 0u},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(parse_uint32(c.text), c.expected) << "input «" << c.text << "»";
    }
}

}  // namespace
}  // namespace quorbix
