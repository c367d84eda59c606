#include "check/rules/code_examples.h"

#include <algorithm>
#include <iterator>

namespace quorbix {

namespace {

struct CodeExample {
    Code code;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    std::string_view settings;
};

using namespace std::string_view_literals;

// clang-format off
constexpr CodeExample kExamples[] = {
    {Code::kUnknownKey, "FOO=1\n"},
    {Code::kMisspelledKey, "QUORBIX_MQTT_ADRR=hub-17.example.net\n"},
    {Code::kSlotKey, "QUORBIX_CUSTOM1_EN=1\n"},
    {Code::kBlankInKey, "QUORBIX_ENABLE = 1\n"},
    {Code::kKeySeparator, "QUORBIX_ENABLE: 1\n"},
    {Code::kNoEquals, "ENABLE 1\n"},
    {Code::kIniSection, "[mqtt]\n"},
    {Code::kCommentLine, "#QUORBIX_ENABLE=1\n"},
    {Code::kExportPrefix, "export QUORBIX_ENABLE=1\n"},
    {Code::kDuplicateKey, "QUORBIX_ENABLE=1\nQUORBIX_ENABLE=0\n"},
    {Code::kDuplicateSameValue, "QUORBIX_ENABLE=1\nQUORBIX_ENABLE=01\n"},
    {Code::kByteOrderMark, "\xef\xbb\xbfQUORBIX_ENABLE=1\n"},
    {Code::kWideEncoding, "Q\0U\0O\0R\0=\0" "1\0\n\0"sv},
    {Code::kCrLineEnds, "QUORBIX_ENABLE=1\rQUORBIX_CSV=TWFu\r"},
    {Code::kUnclosedQuote, "QUORBIX_MQTT_ADDR=\"broker\n"},
    {Code::kTextAfterQuote, "QUORBIX_MSG_CONTENT1=\"{\"state\":\"alive\"}\n"},
    {Code::kStrayQuote, "QUORBIX_CLIENT_ID=ab\"\n"},
    {Code::kBlankBeforeQuote, "QUORBIX_MQTT_USR= \"gw\"\n"},
    {Code::kLineCut, "QUORBIX_TIME_VALUE=ab\rcd\n"},
    {Code::kValueSpread, "QUORBIX_CSV=c2xhdmUsZnVuY3Rpb24sYWRkcmVzcyxjb3VudCx0eXBlLG5hbWUKMSwzLDQwMDAxLDIsZmxvYXQs\nYm9pbGVyX3RlbXAK\n"},
    {Code::kPemNotBase64, "QUORBIX_CA=-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n"},
    {Code::kCommentAfterQuote, "QUORBIX_MQTT_PWD=\"s3cret\" # rotated\n"},
    {Code::kSingleQuotes, "QUORBIX_MQTT_PWD='s3cret'\n"},
    {Code::kTypographicQuotes, "QUORBIX_MQTT_ADDR=\xe2\x80\x9chub\xe2\x80\x9d\n"},
    {Code::kTrailingBlanks, "QUORBIX_MQTT_USR=gw \n"},
    {Code::kBackslashQuote, "QUORBIX_MQTT_PWD=\"a\\\"b\"\n"},
    {Code::kTemplatePlaceholder, "QUORBIX_MQTT_ADDR=${MQTT_HOST}\n"},
    {Code::kCommentInValue, "QUORBIX_MQTT_ADDR=hub-17 ; production broker\n"},
    {Code::kHostNotAName, "QUORBIX_MQTT_ADDR=mqtts://hub-17.example.net:8883\n"},
    {Code::kNumberNoDigits, "QUORBIX_MQTT_PORT=abc\n"},
    {Code::kNumberHex, "QUORBIX_MB_TIMEOUT=0x1F4\n"},
    {Code::kNumberNegative, "QUORBIX_MQTT_PORT=-1\n"},
    {Code::kNumberOverflow, "QUORBIX_MQTT_PORT=4294967296\n"},
    {Code::kNumberTrailingText, "QUORBIX_MQTT_PORT=12abc\n"},
    {Code::kNumberUnitSuffix, "QUORBIX_MQTT_PORT=8883/tcp\n"},
    {Code::kNumberPlus, "QUORBIX_MQTT_KEEPALIVE=+5\n"},
    {Code::kNumberBlanks, "QUORBIX_MQTT_KEEPALIVE= 7\n"},
    {Code::kTlsModeRange, "QUORBIX_MQTT_TLS=7\n"},
    {Code::kQosRange, "QUORBIX_MQTT_QOS=3\n"},
    {Code::kPortRange, "QUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=70000\n"},
    {Code::kDatabitsRange, "QUORBIX_PORT2_DATABITS=4\n"},
    {Code::kStopbitsRange, "QUORBIX_UPORT_STOPBITS=3\n"},
    {Code::kEnableFlag, "QUORBIX_LOG_EN=2\n"},
    {Code::kBase64InvalidBytes, "QUORBIX_CSV=TW*Fu\n"},
    {Code::kBase64Dangling, "QUORBIX_CSV=TWFuT\n"},
    {Code::kBase64AfterPadding, "QUORBIX_CSV=TQ==TWFu\n"},
    {Code::kBase64Empty, "QUORBIX_CA=\"==\"\n"},
    {Code::kBase64UrlSafe, "QUORBIX_CA=ab_d-fgh\n"},
    {Code::kNotBase64, "QUORBIX_CSV=slave,function,address\n"},
    {Code::kValueEndsInNewline, "QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=a2V5Cg==\n"},
    {Code::kNoCsv, "QUORBIX_ENABLE=1\n"},
    {Code::kTlsNoCa, "QUORBIX_MQTT_TLS=1\n"},
    {Code::kTlsNoClientCert, "QUORBIX_MQTT_TLS=2\n"},
    {Code::kTlsNoClientKey, "QUORBIX_MQTT_TLS=2\nQUORBIX_LOCALCERT=TWFu\n"},
    {Code::kTlsEmptyCafile, "QUORBIX_MQTT_TLS=2\n"},
    {Code::kDisabled, "QUORBIX_ENABLE=0\n"},
    {Code::kNoEnable, "QUORBIX_CSV=TWFu\n"},
    {Code::kNoMqttHost, "QUORBIX_ENABLE=1\nQUORBIX_MQTT_ADDR=\n"},
    {Code::kNoClientId, "QUORBIX_ENABLE=1\nQUORBIX_CLIENT_ID=\n"},
    {Code::kCsvBinary, "QUORBIX_CSV=H4sIAA==\n"},
    {Code::kScriptCrlf, "QUORBIX_DIRECTMETHOD_SCRIPT1=IyEvYmluL3NoDQplY2hvDQo=\n"},
    {Code::kScriptNoInterpreter, "QUORBIX_DIRECTMETHOD_SCRIPT1=ZWNobyBoaQo=\n"},
    {Code::kScriptByteOrderMark, "QUORBIX_DIRECTMETHOD_SCRIPT1=77u/IyEvYmluL3NoCg==\n"},
    {Code::kScriptEscapedNewlines, "QUORBIX_DIRECTMETHOD_SCRIPT1=IyEvYmluL3NoXG5lY2hvIGhp\n"},
    {Code::kTokenNoPassword, "QUORBIX_MQTT_SASGEN=1\n"},
    {Code::kTokenMissingPart, "QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=k\n"},
    {Code::kBadIgnoreLine, "# quorbix-check: ignore=qos-rang\nQUORBIX_MQTT_QOS=3\n"},
};
// clang-format on

}  // namespace

std::string_view code_example(Code code) {
    const auto* row = std::find_if(std::begin(kExamples), std::end(kExamples),
                                   [code](const CodeExample& e) { return e.code == code; });
    return row == std::end(kExamples) ? std::string_view() : row->settings;
}

const char* example_missing(Code code) {
    if (is_tls_material_code(code)) {
        return "its example needs certificates or keys made for it";
    }
    if (is_connection_code(code)) {
        return "it is found only by --connect, from what a broker answers";
    }
    if (code == Code::kMoreNotShown) {
        return "it needs over a hundred findings of one code";
    }
    if (code == Code::kUnreadable) {
        return "it is about a file that cannot be read, which no lines show";
    }
    return "its example needs a value of thousands of bytes";
}

}  // namespace quorbix
