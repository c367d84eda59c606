// One row per finding code: a settings file, and the code, line and column
// it must be reported at. Columns count bytes from 1 and were worked out by
// hand from the rows' texts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "check/model/codes.h"
#include "check/rules/analyse.h"

namespace quorbix {
namespace {

struct FindingRow {
    std::string settings;
    const char* code;
    std::uint64_t line;  // 0: the file as a whole
    std::size_t column;
};

std::string repeated(const std::string& text, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += text;
    }
    return out;
}

std::vector<FindingRow> finding_rows() {
    const std::string quotes(16000, '\'');
    return {
        {"FOO=1\n", "unknown-key", 1, 1},
        {"QUORBIX_MQTT_ADRR=x\n", "misspelled-key", 1, 1},
        {"MQTT_ADDR=x\n", "misspelled-key", 1, 1},
        {"QUORBIX_CUSTOM1_EN=1\n", "slot-key", 1, 1},
        {"QUORBIX_PORT3_PARITY=odd\n", "slot-key", 1, 1},
        {"QUORBIX_ENABLE =1\n", "blank-in-key", 1, 15},
        {" QUORBIX_ENABLE=1\n", "blank-in-key", 1, 1},
        {"QUORBIX_ENABLE: 1\n", "key-separator", 1, 15},
        {"QUORBIX_MQTT_ADDR\thub\n", "key-separator", 1, 18},
        {"QUORBIX_ENABLE 1\n", "key-separator", 1, 15},
        {"QUORBIX_CUSTOM_VALUE: site=plant-3\n", "key-separator", 1, 21},
        {"ENABLE 1\n", "no-equals", 1, 1},
        {"QUORBIX_ENABLE\n", "no-equals", 1, 1},
        {"FOO\r=1\n", "no-equals", 1, 1},
        {"QUORBIX_ENABLE\r=1\n", "line-cut", 1, 15},
        {"[mqtt]\n", "ini-section", 1, 1},
        {"#QUORBIX_ENABLE=1\n", "comment-line", 1, 1},
        {"# quorbix-check: ignore=qos-range,no-such-code\n", "bad-ignore-line", 1, 35},
        {"# quorbix-check: ignore qos-range\n", "bad-ignore-line", 1, 18},
        {"export QUORBIX_ENABLE=1\n", "export-prefix", 1, 1},
        {"QUORBIX_ENABLE=1\nquorbix_enable=0\n", "duplicate-key", 2, 1},
        {"QUORBIX_ENABLE=1\nquorbix_enable=01\n", "duplicate-same-value", 2, 1},
        {"QUORBIX_ENABLE=1\rQUORBIX_CSV=TWFu\r", "cr-line-ends", 0, 0},
        {"\xef\xbb\xbfQUORBIX_ENABLE=1\n", "byte-order-mark", 1, 1},
        {std::string("Q\0U\0O\0R\0=\0"
                     "1\0\n\0",
                     14),
         "wide-encoding", 0, 0},
        {"QUORBIX_CSV=" + std::string(76, 'A') + "\nAAAA\n", "value-spread", 1, 13},
        {"QUORBIX_CA=-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n",
         "pem-not-base64", 1, 12},
        {"QUORBIX_MQTT_PWD=\"s3cret\" # rotated\n", "comment-after-quote", 1, 26},
        {"QUORBIX_MQTT_PWD='s3cret'\n", "single-quotes", 1, 18},
        {"QUORBIX_MQTT_ADDR=\xe2\x80\x9chub\xe2\x80\x9d\n", "typographic-quotes", 1, 19},
        {"QUORBIX_MQTT_USR=gw \n", "trailing-blanks", 1, 20},
        {"QUORBIX_MQTT_PWD=\"a\\\"b\"\n", "backslash-quote", 1, 20},
        {"QUORBIX_MQTT_ADDR=x.${MQTT_HOST}\n", "template-placeholder", 1, 21},
        {"QUORBIX_CLIENT_ID=\"{{ inventory_hostname }}\"\n", "template-placeholder", 1, 20},
        {"QUORBIX_MQTT_PORT=@MQTT_PORT@\n", "template-placeholder", 1, 19},
        {"QUORBIX_CSV=$CSV_B64\n", "template-placeholder", 1, 13},
        {"QUORBIX_MQTT_USR=gw  # ops\n", "comment-in-value", 1, 22},
        {"QUORBIX_MQTT_ADDR=mqtt://hub\n", "host-not-a-name", 1, 19},
        {"QUORBIX_MQTT_ADDR=hub ; prod\n", "comment-in-value", 1, 23},
        {"QUORBIX_MQTT_ADDR=\"broker\n", "unclosed-quote", 1, 19},
        {"QUORBIX_MQTT_ADDR=\"a\" b\n", "text-after-quote", 1, 22},
        {"QUORBIX_CLIENT_ID=ab\"\n", "stray-quote", 1, 21},
        {"QUORBIX_MQTT_USR= \"x\"\n", "blank-before-quote", 1, 18},
        {"QUORBIX_TIME_VALUE=ab\rcd\n", "line-cut", 1, 22},
        {std::string("QUORBIX_TIME_VALUE=ab\0cd\n", 25), "line-cut", 1, 22},
        {"QUORBIX_MQTT_ADDR=" + std::string(20000, 'a') + "\n", "bounded-cut", 1, 16384},
        {"QUORBIX_MQTT_PORT=abc\n", "number-no-digits", 1, 19},
        {"QUORBIX_MQTT_PORT=0x10\n", "number-hex", 1, 19},
        {"QUORBIX_MQTT_PORT=-1\n", "number-negative", 1, 19},
        {"QUORBIX_MQTT_PORT=4294967296\n", "number-overflow", 1, 19},
        {"QUORBIX_MQTT_PORT=12abc\n", "number-trailing-text", 1, 21},
        {"QUORBIX_MQTT_PORT=8883/tcp\n", "number-unit-suffix", 1, 23},
        {"QUORBIX_MB_POLL=500 # ms\n", "number-unit-suffix", 1, 20},
        {"QUORBIX_MQTT_KEEPALIVE=+5\n", "number-plus", 1, 24},
        {"QUORBIX_MQTT_KEEPALIVE= 7\n", "number-blanks", 1, 24},
        {"QUORBIX_MQTT_TLS=7\n", "tls-mode-range", 1, 18},
        {"QUORBIX_MQTT_QOS=3\n", "qos-range", 1, 18},
        {"QUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=70000\n", "port-range", 2, 19},
        {"QUORBIX_PORT2_DATABITS=4\n", "databits-range", 1, 24},
        {"QUORBIX_UPORT_STOPBITS=3\n", "stopbits-range", 1, 24},
        {"QUORBIX_LOG_EN=2\n", "enable-flag", 1, 16},
        {"QUORBIX_CSV=TW*Fu\n", "base64-invalid-bytes", 1, 15},
        {"QUORBIX_CSV=TWFuT\n", "base64-dangling", 1, 18},
        {"QUORBIX_CSV=TQ==TWFu\n", "base64-after-padding", 1, 17},
        {"QUORBIX_CA=\"==\"\n", "base64-empty", 1, 13},
        {"QUORBIX_CA=ab_d-fgh\n", "base64-url-safe", 1, 14},
        {"QUORBIX_CSV=a,b\n", "not-base64", 1, 13},
        {"QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=a2V5Cg==\n", "value-ends-in-newline", 2, 18},
        {"QUORBIX_ENABLE=1\n", "no-csv", 0, 0},
        {"QUORBIX_CSV=*\n", "no-csv", 1, 13},
        {"QUORBIX_MQTT_TLS=1\n", "tls-no-ca", 1, 18},
        {"QUORBIX_MQTT_TLS=2\n", "tls-no-client-cert", 1, 18},
        {"QUORBIX_MQTT_TLS=2\nQUORBIX_LOCALCERT=TWFu\n", "tls-no-client-key", 1, 18},
        {"QUORBIX_MQTT_TLS=2\n", "tls-empty-cafile", 1, 18},
        {"QUORBIX_ENABLE=0\n", "disabled", 1, 16},
        {"QUORBIX_CSV=TWFu\n", "no-enable", 0, 0},
        {"QUORBIX_ENABLE=1\n", "no-mqtt-host", 0, 0},
        {"QUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR=\n", "no-mqtt-host", 2, 19},
        {"QUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR=\"\"\n", "no-mqtt-host", 2, 20},
        {"QUORBIX_ENABLE=1\nQUORBIX_CLIENT_ID=\n", "no-client-id", 2, 19},
        {"QUORBIX_CSV=H4sIAA==\n", "csv-binary", 1, 13},
        {"QUORBIX_DIRECTMETHOD_SCRIPT1=IyEvYmluL3NoDQplY2hvDQo=\n", "script-crlf", 1, 30},
        {"QUORBIX_DIRECTMETHOD_SCRIPT1=ZWNobyBoaQo=\n", "script-no-interpreter", 1, 30},
        {"QUORBIX_DIRECTMETHOD_SCRIPT1=77u/IyEvYmluL3NoCg==\n", "script-byte-order-mark", 1, 30},
        {"QUORBIX_DIRECTMETHOD_SCRIPT1=IyEvYmluL3NoXG5lY2hvIGhp\n", "script-escaped-newlines", 1,
         30},
        {"QUORBIX_MQTT_SASGEN=1\n", "token-no-password", 1, 21},
        {"QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=k\n", "token-missing-part", 1, 21},
        {"QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=" + quotes + "\nQUORBIX_MQTT_ADDR=" + quotes +
             "\nQUORBIX_CLIENT_ID=" + quotes + "\n",
         "token-command-too-long", 1, 21},
        // cust_msg_content1="...": 19 bytes before the text, 2 after, 5119 in
        // all; the text keeps 5098 bytes from column 23 on.
        {"QUORBIX_MSG_CONTENT1=\"" + std::string(6000, 'x') + "\"\n", "config-line-cut", 1,
         23 + 5098},
        {repeated("FOO=1\n", 101), "more-not-shown", 0, 0},
    };
}

TEST(CheckFindings, EachCodeAtItsLineAndColumn) {
    for (const FindingRow& row : finding_rows()) {
        const FileAnalysis analysis = analyse_settings(row.settings, AnalysisOptions{});
        bool found = false;
        std::string seen;
        for (const Finding& f : analysis.findings) {
            seen += " " + std::string(f.code_name()) + "@" + std::to_string(f.line) + ":" +
                    std::to_string(f.column);
            found = found || (std::string(f.code_name()) == row.code && f.line == row.line &&
                              f.column == row.column);
        }
        EXPECT_TRUE(found) << row.code << " at " << row.line << ":" << row.column
                           << " not reported for «" << row.settings.substr(0, 80)
                           << "»; reported:" << seen;
    }
}

// The codes of the TLS files' contents have their rows in tls_material_test.cpp,
// those of the connection in connection_test.cpp, and a file that cannot be
// read in check_ci_test.cpp.
TEST(CheckFindings, EveryCodeHasARow) {
    std::set<std::string> covered;
    for (const FindingRow& row : finding_rows()) {
        covered.insert(row.code);
    }
    for (const CodeInfo& info : kCodes) {
        if (!is_tls_material_code(info.code) && !is_connection_code(info.code) &&
            info.code != Code::kUnreadable) {
            EXPECT_EQ(covered.count(info.name), 1u) << info.name << " has no row";
        }
    }
}

// What the launcher reads without a word must not be reported: lower-case
// keys, CRLF line ends, inner quotes of a quoted value, blanks in Base64 and
// padding, a key set once.
TEST(CheckFindings, SoundLinesSayNothing) {
    const FileAnalysis analysis = analyse_settings(
        "quorbix_enable=1\r\n"
        "QUORBIX_CSV=\"TWFu TWE=\"\r\n"
        "QUORBIX_MSG_CONTENT1=\"{\"state\":\"alive\"}\"\n"
        "QUORBIX_MQTT_PORT=08883\n"
        "QUORBIX_MQTT_ADDR=broker\n"
        "QUORBIX_CLIENT_ID=gateway-0042\n"
        "QUORBIX_MQTT_PWD=\"s3cret \"\n"
        "# a comment\n"
        "// another = comment\n"
        "; and one more\n"
        "\n",
        AnalysisOptions{});
    for (const Finding& f : analysis.findings) {
        ADD_FAILURE() << f.code_name() << " at " << f.line << ":" << f.column << ": " << f.message;
    }
    EXPECT_EQ(analysis.outcome.action, Outcome::Action::kStart);
}

}  // namespace
}  // namespace quorbix
