// The human report's excerpt of a line with a caret under a finding's spot:
// one row per rule of how bytes are shown and the caret is set.
#include <gtest/gtest.h>

#include <string>

#include "check/report/terminal.h"

namespace quorbix {
namespace {

struct CaretRow {
    const char* name;
    std::string line;
    std::uint64_t number;
    std::size_t column;
    std::string expected;
};

TEST(CheckCaret, UnderTheSpotWhateverTheLineHolds) {
    const std::string a70(70, 'a');
    const std::string a72(72, 'a');
    const CaretRow rows[] = {
        {"plain text", "AB=1\n", 3, 3, "    3 | AB=1\n      |   ^\n"},
        {"the line as a whole", "AB=1", 3, 0, "    3 | AB=1\n      | ^\n"},
        {"after a character of two bytes", "\xc3\xa9=x", 1, 3, "    1 | \xc3\xa9=x\n      |  ^\n"},
        {"inside a character of two bytes", "a\xc3\xa9", 1, 3, "    1 | a\xc3\xa9\n      |  ^\n"},
        {"after a control byte", "a\x01z", 1, 3, "    1 | a<01>z\n      |      ^\n"},
        {"under a byte that is no UTF-8", "\xffx", 1, 1, "    1 | <ff>x\n      | ^\n"},
        {"after a cut UTF-8 sequence", "\xe2\x82x", 1, 3, "    1 | <e2><82>x\n      |         ^\n"},
        {"a tab shown as its byte", "\tk", 1, 2, "    1 | <09>k\n      |     ^\n"},
        {"the gutter past line 99,999", "k=v", 123456, 3, "123456 | k=v\n       |   ^\n"},
        {"elided before the spot", std::string(100, 'a') + "=x", 1, 101,
         "    1 | ..." + a70 + "=x\n      | " + std::string(73, ' ') + "^\n"},
        {"elided on both sides", std::string(200, 'a'), 1, 100,
         "    1 | ..." + a72 + "...\n      | " + std::string(39, ' ') + "^\n"},
    };
    for (const CaretRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(caret_excerpt(row.line, row.number, row.column, false), row.expected);
    }
}

}  // namespace
}  // namespace quorbix
