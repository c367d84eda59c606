// How the checker shows text it read: which characters are escaped and
// which are kept (the formats over it are tested in check_hostile_test);
// and which file names a patch may carry, and how.
#include <gtest/gtest.h>

#include <string>

#include "check/report/diff.h"
#include "check/text/text.h"

namespace quorbix {
namespace {

struct EscapeRow {
    const char* what;
    std::string text;
    std::string shown;
};

TEST(CheckEscape, ControlsAndInvalidUtf8AreShownAsTheirBytes) {
    const EscapeRow rows[] = {
        {"printable ASCII and a tab", "a b\t~", "a b\t~"},
        {"a line feed and a carriage return", "a\nb\r", "a<0a>b<0d>"},
        {"NUL, ESC and BEL", std::string("\0\033]2;t\007", 7), "<00><1b>]2;t<07>"},
        {"DEL", "\x7f", "<7f>"},
        {"the first and last C1 controls", "\xc2\x80\xc2\x9f", "<c2><80><c2><9f>"},
        {"a no-break space, after the C1 controls", "\xc2\xa0", "\xc2\xa0"},
        {"the embeddings and overrides", "\xe2\x80\xaa\xe2\x80\xae", "<e2><80><aa><e2><80><ae>"},
        {"the isolates", "\xe2\x81\xa6\xe2\x81\xa9", "<e2><81><a6><e2><81><a9>"},
        {"their neighbours", "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
         "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        {"UTF-8 of two, three and four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
         "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"a byte that begins nothing", "\xff\xfe\x80", "<ff><fe><80>"},
        {"an overlong form", "\xc0\xaf\xe0\x80\xaf", "<c0><af><e0><80><af>"},
        {"a surrogate", "\xed\xa0\x80", "<ed><a0><80>"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "<f4><90><80><80>"},
        {"a sequence cut short", "\xe2\x82x", "<e2><82>x"},
        {"a sequence cut at the end", "x\xf0\x9f\x98", "x<f0><9f><98>"},
        {"escaped text", "<1b>", "<1b>"},
    };
    for (const EscapeRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(escaped(row.text), row.shown);
        EXPECT_EQ(escaped(row.shown), row.shown) << "escaping twice is escaping once";
    }
    EXPECT_EQ(escaped("a\nb\r\n", true), "a\nb<0d>\n");
    // A quoted value cut inside a character shows the bytes it keeps of it.
    EXPECT_EQ(quoted_text("ab\xc3\xa9", 3), "'ab<c3>'... (4 bytes)");
}

// A value is shown as the launcher reads it: nothing to undo but the <xx> of
// control bytes, and words where a quote or backslash is the value's own.
TEST(CheckEscape, ValuesAreShownAsTheLauncherReadsThem) {
    const EscapeRow rows[] = {
        {"a plain value", "s3cret", "'s3cret'"},
        {"single quotes kept in the value", "'s3cret'",
         "''s3cret'' (the quotes are part of the value)"},
        {"a backslash and an n, not a line feed", "{\\n}",
         "'{\\n}' (the backslash is part of the value)"},
        {"double quotes inside are plain to see", "{\"state\":\"alive", "'{\"state\":\"alive'"},
        {"a double quote at an end", "\"x", "'\"x' (the quote is part of the value)"},
        {"one of each", "a\\b'c", "'a\\b'c' (the quote and the backslash are part of the value)"},
        {"a tab, a carriage return and a NUL", std::string("a\tb\r\0", 5), "'a<09>b<0d><00>'"},
        {"elided, the remark about what is shown", "'" + std::string(50, 'a'),
         "''" + std::string(39, 'a') + "'... (51 bytes; the quote is part of the value)"},
    };
    for (const EscapeRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(shown(row.text), row.shown);
    }
}

TEST(CheckEscape, APatchNamesAFileOnlyWhereItReadsAsThatFile) {
    const std::pair<std::string, std::string> names[] = {
        {"./x", "x"},       {"././x", "x"},   {".//x", "x"}, {"./.hidden", ".hidden"},
        {"a/./b", "a/./b"}, {"../x", "../x"},
    };
    for (const auto& [name, patched] : names) {
        EXPECT_EQ(patch_name(name), patched) << name;
    }
    const std::pair<std::string, bool> patchable[] = {
        {"a b", true},        {"a\"b", true},           {"a\xff", true},    {"caf\xc3\xa9", true},
        {"a\tb", false},      {"a\nb", false},          {"a\rb", false},    {"a\x7f", false},
        {"a\xc2\x9b", false}, {"a\xe2\x80\xae", false}, {" a", false},      {"./ a", false},
        {"a ", false},        {"\"a\"", false},         {"././\"a", false},
    };
    for (const auto& [name, ok] : patchable) {
        EXPECT_EQ(unpatchable(name) == nullptr, ok) << escaped(name);
    }
}

}  // namespace
}  // namespace quorbix
