// What the checker sees in text written for another reader than the
// launcher, row by row: placeholders, hosts, comments, units, plain text
// where Base64 belongs, separators after a key, INI sections, CR-only line
// ends and the shapes of staged scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/rules/shapes.h"
#include "check/rules/value_shapes.h"

namespace quorbix {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

TEST(CheckValueShapes, TemplatePlaceholders) {
    struct Row {
        std::string value;
        std::size_t at;
        std::size_t size;
    };
    const Row rows[] = {
        {"${MQTT_HOST}", 0, 12},
        {"x.${H}.y", 2, 4},
        {"${HOST:-hub}", 0, 12},
        {"${1}", kNone, 0},
        {"${HOST", kNone, 0},
        {"$MQTT_HOST", 0, 10},
        {" $HOST ", 1, 5},
        {"$mqtt_host", kNone, 0},
        {"a$MQTT", kNone, 0},
        {"$", kNone, 0},
        {"{{ inventory_hostname }}", 0, 24},
        {"gw-{{ id }}", 3, 8},
        {"{{x", kNone, 0},
        {"{% if x %}", 0, 10},
        {"<%= @host %>", 0, 12},
        {"@MQTT_HOST@", 0, 11},
        {"@@", kNone, 0},
        {"gw@host@", kNone, 0},
        {"hub-17.example.net", kNone, 0},
    };
    for (const Row& row : rows) {
        const Placeholder p = template_placeholder(row.value);
        EXPECT_EQ(p.at, row.at) << row.value;
        if (row.at != kNone) {
            EXPECT_EQ(p.size, row.size) << row.value;
        }
    }
}

TEST(CheckValueShapes, HostsTakenApartAsAUrlWouldBe) {
    struct Row {
        std::string host;
        std::string scheme;
        std::string name;
        std::string port;
        std::string path;
        bool blanks;
        bool bare;
        bool certain;
    };
    const Row rows[] = {
        {"hub-17.example.net", "", "hub-17.example.net", "", "", false, true, true},
        {"mqtts://hub:8883", "mqtts", "hub", "8883", "", false, false, true},
        {"tcp://hub:1883/", "tcp", "hub", "1883", "/", false, false, true},
        {"hub:8883", "", "hub", "8883", "", false, false, true},
        {"hub/mqtt", "", "hub", "", "/mqtt", false, false, true},
        {"fe80::1", "", "fe80::1", "", "", false, true, true},
        {"[fd00::17]:1883", "", "fd00::17", "1883", "", false, false, true},
        {" hub", "", "hub", "", "", true, false, true},
        {"hub 17", "", "hub 17", "", "", true, false, false},
        {"hub:99999", "", "hub", "99999", "", false, false, false},
        {"hub:0", "", "hub", "0", "", false, false, false},
        {"hub:abc", "", "hub", "abc", "", false, false, false},
        {"ssl://:8883", "ssl", "", "8883", "", false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        const HostShape h = host_shape(row.host);
        EXPECT_EQ(h.scheme, row.scheme);
        EXPECT_EQ(h.name, row.name);
        EXPECT_EQ(h.port, row.port);
        EXPECT_EQ(h.path, row.path);
        EXPECT_EQ(h.blanks, row.blanks);
        EXPECT_EQ(h.bare(), row.bare);
        EXPECT_EQ(h.certain, row.certain);
    }
}

TEST(CheckValueShapes, CommentsAfterAValue) {
    const std::pair<std::string, std::size_t> rows[] = {
        {"hub ; prod", 3}, {"hub #1", 3},    {"a  # b", 1}, {"a\t;b", 1},
        {"hub;x", kNone},  {"hub #", kNone}, {"#x", kNone}, {"a b", kNone},
    };
    for (const auto& [value, at] : rows) {
        EXPECT_EQ(comment_in_value(value), at) << value;
    }
}

TEST(CheckValueShapes, WhatFollowsANumber) {
    const std::pair<std::string, NumberSuffix> rows[] = {
        {"/tcp", NumberSuffix::kUnit},     {"/TCP ", NumberSuffix::kUnit},
        {"bps", NumberSuffix::kUnit},      {"ms", NumberSuffix::kUnit},
        {" s", NumberSuffix::kUnit},       {"seconds", NumberSuffix::kUnit},
        {" # ms", NumberSuffix::kComment}, {";", NumberSuffix::kComment},
        {".5", NumberSuffix::kNone},       {"abc", NumberSuffix::kNone},
        {"k", NumberSuffix::kNone},        {"/", NumberSuffix::kNone},
        {"", NumberSuffix::kNone},         {"  ", NumberSuffix::kNone},
    };
    for (const auto& [rest, suffix] : rows) {
        EXPECT_EQ(number_suffix(rest), suffix) << "'" << rest << "'";
    }
}

TEST(CheckValueShapes, PlainTextWhereBase64Belongs) {
    const std::string wrapped_with_blanks = base64_encode(std::string(120, 'x')).insert(76, " ");
    const std::string stray_backslash = base64_encode(std::string(120, 'x')).insert(76, "\\");
    const std::pair<std::string, PlainText> rows[] = {
        {"YSxiCjEsMgo=", PlainText::kNone},
        {"TWFu TWE=", PlainText::kNone},
        {"TW*Fu", PlainText::kNone},
        {wrapped_with_blanks, PlainText::kNone},
        {stray_backslash, PlainText::kNone},
        {"/9j/4AAQSkZJRgABAQ", PlainText::kNone},
        {"MIIB_w-_AAAA", PlainText::kNone},
        {"", PlainText::kNone},
        {std::string("a,b\x01"), PlainText::kNone},
        {"a,b", PlainText::kCsvRows},
        {"slave,function,address,count,type,name", PlainText::kCsvRows},
        {"# slave;function", PlainText::kCsvRows},
        {"#!/bin/sh", PlainText::kScript},
        {"echo restarting && reboot", PlainText::kText},
        {"/etc/ssl/certs/ca.pem", PlainText::kPath},
        {"ca.pem", PlainText::kPath},
    };
    for (const auto& [value, kind] : rows) {
        EXPECT_EQ(plain_text(value), kind) << value;
    }
    // Where a text file belongs, a word that decodes to no text is text.
    EXPECT_EQ(plain_text("reboot", true), PlainText::kText);
    EXPECT_EQ(plain_text("reboot"), PlainText::kNone);
    EXPECT_EQ(plain_text("YSxiCg", true), PlainText::kNone);      // "a,b\n"
    EXPECT_EQ(plain_text("f0VMRgEBAQ", true), PlainText::kNone);  // an ELF program's head
    EXPECT_EQ(plain_text(std::string(25, 'q'), true), PlainText::kNone);
    EXPECT_EQ(describe_bytes("abc"), "3 bytes of text");
    EXPECT_EQ(describe_bytes("a"), "1 byte of text");
    EXPECT_EQ(describe_bytes("caf\xc3\xa9\n"), "6 bytes of text");
    EXPECT_EQ(describe_bytes("\x01\xff"), "2 bytes of binary data");
    EXPECT_EQ(describe_bytes("a\x1b[2J"), "5 bytes of binary data");
}

TEST(CheckValueShapes, ASeparatorWhereTheEqualsSignBelongs) {
    struct Row {
        std::string line;
        std::size_t key_size;
        std::size_t value_at;
    };
    const Row rows[] = {
        {"QUORBIX_ENABLE: 1", 14, 16},   {"QUORBIX_ENABLE:1", 14, 15},
        {"quorbix_enable\t1", 14, 15},   {"QUORBIX_ENABLE 1", 14, 15},
        {"QUORBIX_ENABLE :  1", 14, 18}, {"QUORBIX_CUSTOM_VALUE: site=plant-3", 20, 22},
        {"QUORBIX_ENABLE =1", 0, 0},     {"QUORBIX_ENABLE: =1", 0, 0},
        {"QUORBIX_ENABLE=1", 0, 0},      {"QUORBIX_ENABLED: 1", 0, 0},
        {"QUORBIX_ENABLE", 0, 0},        {"QUORBIX_MQTT_ADDR=mqtt://hub", 0, 0},
    };
    for (const Row& row : rows) {
        const SeparatedKey k = separated_key(row.line);
        EXPECT_EQ(k.key_size, row.key_size) << row.line;
        if (row.key_size != 0) {
            EXPECT_EQ(k.value_at, row.value_at) << row.line;
        }
    }
    EXPECT_TRUE(is_ini_section("[mqtt]"));
    EXPECT_TRUE(is_ini_section(" [MQTT Settings] "));
    for (const char* not_one : {"[]", "[a]b", "[a=b]", "[a[b]", "mqtt]"}) {
        EXPECT_FALSE(is_ini_section(not_one)) << not_one;
    }
}

TEST(CheckValueShapes, CarriageReturnsThatEndLines) {
    const std::pair<std::string, std::vector<std::size_t>> rows[] = {
        {"A=1\rQUORBIX_B=2\r", {3, 15}},
        {"QUORBIX_A=1\rQUORBIX_B=2\n", {11}},
        {"A=1\r\r", {3, 4}},
        {"KEY=ab\rcd\n", {}},
        {"QUORBIX_A=1\nQUORBIX_B=2\rQUORBIX_C=3\nD\n", {}},
        {"A=1\r\nB=2\r\n", {}},
        {"", {}},
    };
    for (const auto& [file, crs] : rows) {
        EXPECT_EQ(cr_line_ends(file), crs) << file;
    }
}

TEST(CheckValueShapes, StagedScripts) {
    struct Row {
        std::string script;
        bool byte_order_mark;
        bool escaped_newlines;
        bool no_interpreter;
    };
    const Row rows[] = {
        {"#!/bin/sh\necho hi\n", false, false, false},
        {"\xef\xbb\xbf#!/bin/sh\necho hi\n", true, false, false},
        {"\xef\xbb\xbf"
         "echo hi\n",
         true, false, false},
        {"#!/bin/sh\\necho hi", false, true, false},
        {"#!/bin/sh\\necho hi\n", false, true, false},
        {"echo a\\necho b", false, true, false},
        {"printf 'a\\n'", false, false, true},
        {"echo \"a\\n\" \\n", false, true, false},
        {"#!/bin/sh\necho 'a\\n'\\n\n", false, false, false},
    };
    for (const Row& row : rows) {
        const ScriptShape s = script_shape(row.script);
        EXPECT_EQ(s.byte_order_mark, row.byte_order_mark) << row.script;
        EXPECT_EQ(s.escaped_newlines, row.escaped_newlines) << row.script;
        EXPECT_EQ(s.no_interpreter, row.no_interpreter) << row.script;
    }
}

}  // namespace
}  // namespace quorbix
