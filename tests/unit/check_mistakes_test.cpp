// Mistakes people really make in settings files, each in a file that is
// otherwise sound: the one finding it gets, its line and its remedy, and no
// other finding on that line or on the lines a spread value runs on over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/rules/analyse.h"
#include "check/rules/shapes.h"
#include "test_pki.h"

namespace quorbix {
namespace {

// A sound enabled file of four lines; a mistake row adds its lines after them.
const std::string kSound =
    "QUORBIX_ENABLE=1\n"
    "QUORBIX_CSV=YSxiCjEsMgo=\n"
    "QUORBIX_MQTT_ADDR=hub-17.example.net\n"
    "QUORBIX_MQTT_PORT=8883\n";
const std::string kClientId = "QUORBIX_CLIENT_ID=gateway-0042\n";
constexpr std::time_t k20270101 = 1798761600;

struct Mistake {
    const char* name;
    std::string settings;
    const char* code;
    std::uint64_t line;
    std::string remedy;
    std::uint64_t quiet_through = 0;  // lines after `line` that must say nothing
    const char* message_has = "";
};

// Base64 wrapped at 76 columns, as base64 without -w0 writes it.
std::string wrapped(const std::string& bytes) {
    const std::string text = base64_encode(bytes);
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 76) {
        out += text.substr(i, 76) + "\n";
    }
    return out;
}

std::string utf16le(const std::string& text) {
    std::string out = "\xff\xfe";
    for (const char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

// A client certificate file with its CA first, and the client's key.
std::string ca_first_chain() {
    const test::Pkey ca_key = test::ec_key("P-256");
    const test::Pkey key = test::ec_key("P-256");
    const test::Cert ca = test::make_cert({"Hall CA", ca_key.get(), nullptr, nullptr, EVP_sha256(),
                                           "critical,CA:TRUE", nullptr, nullptr, k20270101});
    const test::Cert leaf =
        test::make_cert({"gateway-0042", key.get(), ca.get(), ca_key.get(), EVP_sha256(),
                         "CA:FALSE", "clientAuth", nullptr, k20270101});
    return "QUORBIX_LOCALCERT=" + base64_encode(test::pem(ca.get()) + test::pem(leaf.get())) +
           "\nQUORBIX_LOCALKEY=" + base64_encode(test::pem(key.get())) + "\n";
}

std::vector<Mistake> mistakes() {
    const std::string der(900, '\x30');
    const std::string sound = kSound + kClientId;
    const std::string b64 = "Encode the file on one line with base64 -w0, or join the lines.";
    return {
        {"certificate encoded without -w0", sound + "QUORBIX_CA=" + wrapped(der), "value-spread", 6,
         b64, 6 + 15, "lines 7 to 21"},
        {"quoted certificate encoded without -w0",
         sound + "QUORBIX_CA=\"" + wrapped(der).substr(0, wrapped(der).size() - 1) + "\"\n",
         "value-spread", 6, b64, 6 + 15},
        {"PEM pasted as it is",
         sound + "QUORBIX_CA=-----BEGIN CERTIFICATE-----\nMIIBizCCATGgAwIBAgIU\nAAAA\n"
                 "-----END CERTIFICATE-----\n",
         "pem-not-base64", 6, "Put the output of base64 -w0 on the file on this line.", 9},
        {"script pasted as it is",
         sound + "QUORBIX_DIRECTMETHOD_SCRIPT1=#!/bin/sh\necho restarting\n\nexit 0\n",
         "value-spread", 6, "Put the output of base64 -w0 on the script on this line.", 9},
        {"byte-order mark", "\xef\xbb\xbf" + sound, "byte-order-mark", 1,
         "Save the file without the byte-order mark.", 0, "<ef><bb><bf>QUORBIX_ENABLE"},
        {"no-break space in a key", sound + "QUORBIX_MQTT_USR\xc2\xa0=gw\n", "misspelled-key", 6,
         "Write the key as QUORBIX_MQTT_USR.", 0, "'QUORBIX_MQTT_USR<c2><a0>'"},
        {"saved as UTF-16", utf16le(sound), "wide-encoding", 0,
         "Save it as UTF-8, for example with iconv -f UTF-16LE -t UTF-8."},
        {"password under its English name", sound + "QUORBIX_MQTT_PASSWORD=s3cret\n",
         "misspelled-key", 6, "Write the key as QUORBIX_MQTT_PWD."},
        {"client id run together", kSound + "QUORBIX_CLIENTID=gateway-0042\n", "misspelled-key", 5,
         "Write the key as QUORBIX_CLIENT_ID."},
        {"export before a key", sound + "export QUORBIX_MB_POLL=1000\n", "comment-line", 6,
         "Write the line without \"export \".", 0, "QUORBIX_MB_POLL is not read"},
        {"key commented out with //", sound + "// QUORBIX_MB_POLL=1000\n", "comment-line", 6,
         "Delete the line, or the '//' to set QUORBIX_MB_POLL."},
        {"key commented out with ;", sound + ";QUORBIX_MB_POLL=1000\n", "comment-line", 6,
         "Delete the line, or the ';' to set QUORBIX_MB_POLL."},
        {"no MQTT host while enabled", "QUORBIX_ENABLE=1\nQUORBIX_CSV=YSxiCjEsMgo=\n" + kClientId,
         "no-mqtt-host", 0, "Set QUORBIX_MQTT_ADDR to the broker's host name."},
        {"no client id while enabled", kSound, "no-client-id", 0,
         "Set QUORBIX_CLIENT_ID to the device's id at the broker."},
        {"no enable line at all", sound.substr(sound.find('\n') + 1), "no-enable", 0,
         "Add the line QUORBIX_ENABLE=1 to run the gateway."},
        {"password in single quotes", sound + "QUORBIX_MQTT_PWD='s3cret'\n", "single-quotes", 6,
         "Write the value without them, or in double quotes."},
        {"host in typographic quotes",
         "QUORBIX_MQTT_ADDR=\xe2\x80\x9chub-17.example.net\xe2\x80\x9d\n" + sound,
         "typographic-quotes", 1, "Write plain double quotes, or none."},
        {"trailing blank after the user", sound + "QUORBIX_MQTT_USR=gw \n", "trailing-blanks", 6,
         "Delete them, or put the value in double quotes if they are meant."},
        {"escaped quote in a topic", sound + "QUORBIX_TOPIC_VALUE=\"a\\\"b\"\n", "backslash-quote",
         6, "Write the double quote without the backslash."},
        {"script with CRLF line ends",
         sound + "QUORBIX_DIRECTMETHOD_SCRIPT1=" + base64_encode("#!/bin/sh\r\necho hi\r\n") + "\n",
         "script-crlf", 6, "Convert it with dos2unix before encoding it."},
        {"gzip data as the CSV",
         "QUORBIX_ENABLE=1\nQUORBIX_CSV=" + base64_encode("\x1f\x8b\x08\x00\x00\x00") +
             "\nQUORBIX_MQTT_ADDR=hub\nQUORBIX_MQTT_PORT=1883\n" + kClientId,
         "csv-binary", 2, "Encode the CSV text itself with base64 -w0, uncompressed."},
        {"comment after the closing quote", sound + "QUORBIX_MQTT_PWD=\"s3cret\" # rotated\n",
         "comment-after-quote", 6, ""},
        {"certificate chain with the CA first", sound + ca_first_chain(), "tls-chain-order", 6,
         "Put certificate 2 first and the others after it in their order.", 0,
         "certificate 2 of 2 in the client certificate file (CN=gateway-0042)"},
        {"URL-safe Base64 of a DER certificate",
         sound + "QUORBIX_CA=MIIB_w-_" + std::string(40, 'A') + "\n", "base64-url-safe", 6,
         "Encode the file with plain base64 -w0, or turn every \"_\" into \"/\" and \"-\" into "
         "\"+\"."},
    };
}

TEST(CheckMistakes, EachMistakeIsSaidOnceWithItsRemedy) {
    for (const Mistake& m : mistakes()) {
        SCOPED_TRACE(m.name);
        AnalysisOptions options;
        options.now = k20270101;
        options.with_record = false;  // as the command line checks, the CSV not in the record
        const FileAnalysis analysis = analyse_settings(m.settings, options);
        int found = 0;
        for (const Finding& f : analysis.findings) {
            const bool on_its_lines =
                f.line != 0 && f.line >= m.line && f.line <= std::max(m.line, m.quiet_through);
            if (f.code_name() == std::string(m.code) && f.line == m.line) {
                ++found;
                EXPECT_EQ(f.remedy, m.remedy);
                EXPECT_NE(f.message.find(m.message_has), std::string::npos) << f.message;
            } else if (on_its_lines || f.code == Code::kNoEquals || f.code == Code::kUnknownKey ||
                       is_tls_material_code(f.code)) {
                ADD_FAILURE() << "also " << f.code_name() << " at line " << f.line << ": "
                              << f.message;
            }
        }
        EXPECT_EQ(found, 1) << m.code << " at line " << m.line;
    }
}

}  // namespace
}  // namespace quorbix
