// The daemon's configuration file "/tmp/quorbix/config": one "[CFG_INFO]"
// section of key=value lines formed from the settings record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon_config/token.h"
#include "settings/gateway_settings.h"

namespace quorbix {

// Line bounds, terminating NUL included: every line is at most one byte less.
inline constexpr std::size_t kConfigLineSize = 1024;
inline constexpr std::size_t kMessageLineSize = 5120;  // the cust_msg_ lines

// Formats one line from fmt, whose "%u" and "%d" take the numbers in order and
// whose single "%s" takes text; a line longer than bound - 1 bytes is cut in
// its text, so that it keeps what follows the text (closing quote, line feed).
// *lost, when given, receives the number of the text's bytes cut away.
std::string config_line(std::size_t bound, std::string_view fmt,
                        std::initializer_list<std::uint32_t> numbers, std::string_view text = {},
                        std::size_t* lost = nullptr);

// A line of the configuration whose text was cut to keep it within its bound:
// its index among the lines, the bytes of the text kept and lost, and the
// field of the record the text came from (its position in record order).
struct ConfigCut {
    std::size_t line = 0;
    std::size_t kept = 0;
    std::size_t lost = 0;
    int field = -1;
};

// Whether the configuration gets an empty mqtt_cafile= line: TLS is on and
// no CA certificate file is there.
bool daemon_config_empty_cafile(const GatewaySettings& s, bool ca_file_present);

// Where the password line's value comes from.
enum class PasswordPlan {
    kStored,          // no generated token is asked for: mqtt_password as it is
    kToken,           // the token tool's first output line, mqtt_password being its key
    kNoKey,           // a token is asked for with no key: the tool is not run, the line is empty
    kCommandTooLong,  // the token command is too long for the shell: not run, the line is empty
};

// The plan for s's password line.
PasswordPlan daemon_config_password_plan(const GatewaySettings& s);

// The password line's value under `plan`, with token_line standing for the
// token tool's first output line.
std::string daemon_config_password_value(const GatewaySettings& s, PasswordPlan plan,
                                         std::string_view token_line);

// The password line's value, the token tool run when the plan says so (and
// its run then kept in *token).
std::string daemon_config_password(const GatewaySettings& s, std::optional<TokenRun>* token);

// Every line of the configuration file in order, without touching any file:
// ca_file_present decides the CA line, password is the password line's value;
// each line cut at its bound is added to *cuts when given.
std::vector<std::string> daemon_config_lines(const GatewaySettings& s, bool ca_file_present,
                                             std::string_view password,
                                             std::vector<ConfigCut>* cuts = nullptr);

// What writing the configuration came to: whether it was written whole, and
// the token tool's run when it was asked for the password.
struct DaemonConfigWrite {
    bool whole = false;
    std::optional<TokenRun> token;
};

// Rewrites "/tmp/quorbix/config" from s, readable only by the launcher's user
// (it holds the MQTT password): formed in a temporary file and renamed into
// place; ca_staged (this run staged the CA certificate) decides the CA line.
// Leaves no configuration when it cannot be written whole.
DaemonConfigWrite daemon_config_write(const GatewaySettings& s, bool ca_staged);

}  // namespace quorbix
