// The whole daemon configuration formed from an arbitrary loaded record:
// one key per line, every line bounded, closing quotes kept.
#include <string>
#include <string_view>
#include <vector>

#include "daemon_config/daemon_config.h"
#include "fuzz_file.h"

using namespace quorbix;

namespace {

std::string key_of(const std::string& line) {
    return line.substr(0, line.find('='));
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Three bytes choose the TLS mode, the CA test and a password that may
    // end in a line feed, as a token does; the rest is the settings file.
    const std::uint32_t tls = data[0] % 4 == 3 ? data[0] : data[0] % 4;
    const bool ca_present = (data[1] & 1) != 0;
    auto stream = fuzz::open_as_settings(data + 3, size - 3);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    settings_close(std::move(stream));
    s.mqtt_tls = tls;
    // A loaded value holds no line feed, so the only one a password can hold
    // is the token's own at its end.
    const bool token_feed = (data[2] & 1) != 0;
    std::string password = s.mqtt_password;
    if (token_feed) {
        password += '\n';
    }

    const std::vector<std::string> lines = daemon_config_lines(s, ca_present, password);
    GatewaySettings empty;
    empty.mqtt_tls = tls;
    const std::vector<std::string> reference = daemon_config_lines(empty, ca_present, "");
    QUORBIX_FUZZ_CHECK(lines.size() == reference.size());
    QUORBIX_FUZZ_CHECK(lines.front() == "[CFG_INFO]\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool message = starts_with(line, "cust_msg_");
        QUORBIX_FUZZ_CHECK(line.size() <= (message ? kMessageLineSize : kConfigLineSize) - 1);
        QUORBIX_FUZZ_CHECK(line.back() == '\n');
        QUORBIX_FUZZ_CHECK(line.find('\0') == std::string::npos);
        std::size_t feeds = 0;
        for (char c : line) {
            feeds += c == '\n' ? 1 : 0;
        }
        if (token_feed && starts_with(line, "mqtt_password=") && line.size() >= 2 &&
            line[line.size() - 2] == '\n') {
            QUORBIX_FUZZ_CHECK(feeds == 2);
        } else {
            QUORBIX_FUZZ_CHECK(feeds == 1);
        }
        QUORBIX_FUZZ_CHECK(key_of(line) == key_of(reference[i]));
        const bool quoted = reference[i].size() >= 2 &&
                            reference[i].compare(reference[i].size() - 2, 2, "\"\n") == 0;
        if (quoted) {
            QUORBIX_FUZZ_CHECK(line.size() >= 2 && line.compare(line.size() - 2, 2, "\"\n") == 0);
        }
    }
    return 0;
}
