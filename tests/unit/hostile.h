// Names and texts built to forge the checker's output, and how a test tells
// that output holds none of them raw: terminal escapes, line feeds and tabs
// in file names, C1 and bidirectional controls and bytes that are no UTF-8
// in names and values.
#pragma once

#include <locale.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace quorbix::test {

// A value that retitles a terminal and erases it, then a C1 CSI (U+009B), a
// right-to-left override (U+202E), a byte that is no UTF-8 and DEL.
inline const std::string kHostile =
    "\033]2;owned\007\033[2J\xc2\x9b"
    "31m\xe2\x80\xae"
    "txt\xff\x7f";

// kHostile as the checker shows it.
inline const std::string kHostileShown =
    "<1b>]2;owned<07><1b>[2J<c2><9b>31m<e2><80><ae>txt<ff><7f>";

// Settings with which the launcher starts the daemon, that quote kHostile
// in two findings with their lines (7 and 8), in the record and in the
// configuration (the password, line 9), and hold one certain fix (line 6).
inline std::string hostile_settings() {
    return "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\n"
           "QUORBIX_CLIENT_ID=c\nQUORBIX_MQTT_KEEPALVE=60\nQUORBIX_MQTT_QOS=1" +
           kHostile + "\nQUORBIX_MQTT_USR=\"u\"" + kHostile + "\nQUORBIX_MQTT_PWD=" + kHostile +
           "\n";
}

// hostile_settings() with its certain fix made.
inline std::string hostile_settings_fixed() {
    std::string fixed = hostile_settings();
    fixed.replace(fixed.find("KEEPALVE"), 8, "KEEPALIVE");
    return fixed;
}

struct HostileName {
    const char* what;
    std::string name;   // the file's name
    std::string shown;  // as the checker shows it
    bool patchable;     // whether a patch may name it
};

inline const std::vector<HostileName>& hostile_names() {
    static const std::vector<HostileName> names = {
        {"terminal escapes", "title\033]2;owned\007\033[2J", "title<1b>]2;owned<07><1b>[2J", false},
        {"a forged diff header", "x\t\n+++ victim.txt\t\n@@ -1,9 +1,9 @@",
         "x\t<0a>+++ victim.txt\t<0a>@@ -1,9 +1,9 @@", false},
        {"a forged patch target", "a\t\n+++ victim.txt", "a\t<0a>+++ victim.txt", false},
        {"a forged gcc line", "y\nvictim.txt", "y<0a>victim.txt", false},
        {"a carriage return", "cr\rvictim.txt", "cr<0d>victim.txt", false},
        {"a tab", "tab\tvictim.txt", "tab\tvictim.txt", false},
        {"a C1 control",
         "csi\xc2\x9b"
         "2J",
         "csi<c2><9b>2J", false},
        {"a bidirectional override",
         "rlo\xe2\x80\xae"
         "txt.exe",
         "rlo<e2><80><ae>txt.exe", false},
        {"DEL", "del\x7f", "del<7f>", false},
        {"bytes that are no UTF-8, and a percent sign", "latin\xff\xfe%41", "latin<ff><fe>%41",
         true},
        {"UTF-8", "caf\xc3\xa9", "caf\xc3\xa9", true},
        {"the name of standard input", "<stdin>", "<stdin>", true},
    };
    return names;
}

// Where text holds a character that no output may hold raw: a C0 control
// but tab and line feed, DEL, a C1 or bidirectional control, or a byte that
// is no UTF-8; npos for none. Decoded by the C library, not the checker.
inline std::size_t raw_control(const std::string& text) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t saved = ::uselocale(utf8);
    std::mbstate_t state{};
    std::size_t at = std::string::npos;
    for (std::size_t i = 0; i < text.size();) {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        const auto c = static_cast<std::uint32_t>(wc);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) ||
            (c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7f && c <= 0x9f) ||
            (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069)) {
            at = i;
            break;
        }
        i += n == 0 ? 1 : n;
    }
    ::uselocale(saved);
    return at;
}

// The bytes around `at` in hex, for a failure message.
inline std::string hex_around(const std::string& text, std::size_t at) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = at > 16 ? at - 16 : 0; i < text.size() && i < at + 16; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += {kHex[c >> 4], kHex[c & 15], ' '};
    }
    return out;
}

// A percent-encoded text decoded: %XX as its byte.
inline std::string percent_decoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace quorbix::test
