#include "daemon_config/daemon_config.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/file_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "daemon_config/token.h"

namespace quorbix {

namespace {

// Appends n in unsigned decimal, as "%u" writes it.
void append_decimal(std::string& out, std::uint32_t n) {
    char digits[10];
    char* first = digits + sizeof digits;
    do {
        *--first = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    out.append(first, static_cast<std::size_t>(digits + sizeof digits - first));
}

}  // namespace

std::string config_line(std::size_t bound, std::string_view fmt,
                        std::initializer_list<std::uint32_t> numbers, std::string_view text,
                        std::size_t* lost) {
    // The format with its numbers in place, formed in one string that the
    // text then goes into: the bytes between conversions are copied as runs.
    std::string line;
    line.reserve(fmt.size() + 10 * numbers.size() + std::min(text.size(), bound));
    std::size_t text_at = std::string::npos;  // where the text goes
    const std::uint32_t* number = numbers.begin();
    std::size_t run = 0;  // the first byte not copied yet
    for (std::size_t i = 0; i + 1 < fmt.size(); ++i) {
        if (fmt[i] != '%') {
            continue;
        }
        const char conv = fmt[i + 1];
        if ((conv == 'u' || conv == 'd') && number != numbers.end()) {
            line.append(fmt.data() + run, i - run);
            append_decimal(line, *number++);
        } else if (conv == 's' && text_at == std::string::npos) {
            line.append(fmt.data() + run, i - run);
            text_at = line.size();
        } else {
            continue;  // a "%" of its own
        }
        ++i;
        run = i + 1;
    }
    line.append(fmt.data() + run, fmt.size() - run);
    // A text never reaches past its first NUL, as in a C string.
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    if (text_at == std::string::npos) {
        text = {};
    }
    const std::size_t limit = bound - 1;
    const std::size_t fixed = line.size();
    const std::size_t whole = text.size();
    if (fixed + text.size() > limit) {
        text = text.substr(0, limit > fixed ? limit - fixed : 0);
    }
    if (lost != nullptr) {
        *lost = whole - text.size();
    }
    if (!text.empty()) {
        line.insert(text_at, text.data(), text.size());
    }
    return line;
}

bool daemon_config_empty_cafile(const GatewaySettings& s, bool ca_file_present) {
    return s.mqtt_tls != 0 && !ca_file_present;
}

PasswordPlan daemon_config_password_plan(const GatewaySettings& s) {
    if (s.mqtt_token_gen == 0) {
        return PasswordPlan::kStored;
    }
    if (s.mqtt_password.empty()) {
        return PasswordPlan::kNoKey;
    }
    if (token_command(s.mqtt_host, s.mqtt_client_id, s.mqtt_password).empty()) {
        return PasswordPlan::kCommandTooLong;
    }
    return PasswordPlan::kToken;
}

std::string daemon_config_password_value(const GatewaySettings& s, PasswordPlan plan,
                                         std::string_view token_line) {
    switch (plan) {
        case PasswordPlan::kStored:
            return s.mqtt_password;
        case PasswordPlan::kToken:
            return std::string(token_line);
        default:
            return std::string();
    }
}

std::string daemon_config_password(const GatewaySettings& s, std::optional<TokenRun>* token) {
    const PasswordPlan plan = daemon_config_password_plan(s);
    if (plan != PasswordPlan::kToken) {
        return daemon_config_password_value(s, plan, {});
    }
    *token = token_request(s.mqtt_host, s.mqtt_client_id, s.mqtt_password);
    return daemon_config_password_value(s, plan, (*token)->line);
}

std::vector<std::string> daemon_config_lines(const GatewaySettings& s, bool ca_file_present,
                                             std::string_view password,
                                             std::vector<ConfigCut>* cuts) {
    constexpr std::size_t L = kConfigLineSize;
    constexpr std::size_t M = kMessageLineSize;
    std::vector<std::string> lines;
    lines.reserve(160);  // the file has some 150 lines
    auto fixed = [&lines](const char* line) { lines.emplace_back(line); };
    // A line whose text, when there is one, comes from `field` (as `text`,
    // for the password line).
    auto line = [&lines, cuts, &s](std::size_t bound, std::string_view fmt,
                                   std::initializer_list<std::uint32_t> numbers,
                                   const std::string* field = nullptr,
                                   std::optional<std::string_view> text = std::nullopt) {
        const std::string_view value = text ? *text : field ? std::string_view(*field) : "";
        std::size_t lost = 0;
        lines.push_back(config_line(bound, fmt, numbers, value, &lost));
        if (lost != 0 && cuts != nullptr) {
            cuts->push_back(ConfigCut{lines.size() - 1, value.size() - lost, lost,
                                      settings_field_position(s, *field)});
        }
    };

    fixed("[CFG_INFO]\n");
    fixed("# files\n");
    fixed("csv_file=/tmp/quorbix/etc/config.csv\n");
    fixed("map_file=/tmp/quorbix/quorbix_map.txt\n");
    fixed("ex_map_file=/tmp/quorbix/ex_quorbix_map.txt\n");
    fixed("#mqtt\n");
    line(L, "mqtt_host=%s\n", {}, &s.mqtt_host);
    line(L, "mqtt_port=%u\n", {s.mqtt_port});
    line(L, "mqtt_keepalive=%u\n", {s.mqtt_keepalive});
    line(L, "mqtt_qos=%u\n", {s.mqtt_qos});
    line(L, "mqtt_retain=%u\n", {s.mqtt_retain});
    line(L, "mqtt_clientid=%s\n", {}, &s.mqtt_client_id);
    line(L, "mqtt_anonymous=%u\n", {s.mqtt_anonymous});
    line(L, "mqtt_username=%s\n", {}, &s.mqtt_username);
    line(L, "mqtt_password=%s\n", {}, &s.mqtt_password, password);
    line(L, "mqtt_ssltls=%u\n", {s.mqtt_tls});
    if (s.mqtt_tls != 0) {
        fixed(daemon_config_empty_cafile(s, ca_file_present)
                  ? "mqtt_cafile=\n"
                  : "mqtt_cafile=/tmp/quorbix/etc/ca.crt\n");
    }
    if (s.mqtt_tls == 2) {
        fixed("mqtt_localcert=/tmp/quorbix/etc/local.crt\n");
        fixed("mqtt_localkey=/tmp/quorbix/etc/local.key\n");
    }
    line(L, "mb_interval=%u\n", {s.mb_poll});
    line(L, "mb_timeout=%u\n", {s.mb_timeout});
    line(L, "json_msg_time_enable=%u\n", {s.time_enable});
    line(L, "json_msg_time=%s\n", {}, &s.time);
    line(L, "json_msg_ip_enable=%u\n", {s.ip_enable});
    line(L, "json_msg_ip=%s\n", {}, &s.ip);
    line(L, "json_msg_port_enable=%u\n", {s.port_enable});
    line(L, "json_msg_port=%s\n", {}, &s.port);
    line(L, "json_msg_id_enable=%u\n", {s.id_enable});
    line(L, "json_msg_id=%s\n", {}, &s.id);
    line(L, "json_msg_fc_enable=%u\n", {s.fc_enable});
    line(L, "json_msg_fc=%s\n", {}, &s.fc);
    line(L, "json_msg_addr_enable=%u\n", {s.addr_enable});
    line(L, "json_msg_addr=%s\n", {}, &s.addr);
    line(L, "json_msg_datelen_enable=%u\n", {s.datalen_enable});
    line(L, "json_msg_datelen=%s\n", {}, &s.datalen);
    line(L, "json_msg_topic_enable=%u\n", {s.topic_enable});
    line(L, "json_msg_topic=%s\n", {}, &s.topic);
    line(L, "json_msg_name=%s\n", {}, &s.name);
    line(L, "json_msg_value=%s\n", {}, &s.value);
    line(L, "json_msg_custom_enable=%u\n", {s.custom[0].enable});
    line(L, "json_msg_custom=%s\n", {}, &s.custom[0].value);
    for (std::uint32_t n = 2; n <= kCustomSlots; ++n) {
        const CustomField& c = s.custom[n - 1];
        line(L, "json_msg_custom%d_enable=%u\n", {n, c.enable});
        line(L, "json_msg_custom%d=%s\n", {n}, &c.value);
    }
    line(L, "direct_method_enable=%u\n", {s.direct_method_enable});
    for (std::uint32_t n = 1; n <= kDirectMethodSlots; ++n) {
        const DirectMethod& d = s.direct_methods[n - 1];
        line(L, "direct_method_topic%d=\"%s\"\n", {n}, &d.topic);
        line(L, "direct_method_resp_ok%d=\"%s\"\n", {n}, &d.resp_ok);
        line(L, "direct_method_resp_fail%d=\"%s\"\n", {n}, &d.resp_fail);
    }
    line(L, "log=%u\n", {s.log_enable});
    line(M, "cust_msg_enable=%u\n", {s.msg_enable});
    for (std::uint32_t n = 1; n <= kMessageSlots; ++n) {
        const CustomMessage& m = s.messages[n - 1];
        line(M, "cust_msg_name%u=%s\n", {n}, &m.name);
        line(M, "cust_msg_rule%u=%u\n", {n, m.rule});
        line(M, "cust_msg_pub_intvl%u=%u\n", {n, m.pub_interval});
        line(M, "cust_msg_topic%u=\"%s\"\n", {n}, &m.topic);
        line(M, "cust_msg_content%u=\"%s\"\n", {n}, &m.content);
    }
    for (std::uint32_t n = 1; n <= kSerialPorts; ++n) {
        const SerialPort& p = s.serial[n - 1];
        line(L, "ser_port%u_baudrate=%u\n", {n, p.baudrate});
        line(L, "ser_port%u_databits=%u\n", {n, p.databits});
        line(L, "ser_port%u_parity=%s\n", {n}, &p.parity);
        line(L, "ser_port%u_stopbits=%u\n", {n, p.stopbits});
    }
    return lines;
}

DaemonConfigWrite daemon_config_write(const GatewaySettings& s, bool ca_staged) {
    DaemonConfigWrite result;
    shell_run("rm -f /tmp/quorbix/config");
    // Also when rm could not run: no earlier configuration may stay in place
    // if this one cannot be written. Only the launcher uses this name: a
    // directory planted there goes too, or it would refuse every later run.
    static_cast<void>(clear_path(paths::kDaemonConfig));
    const std::string password = daemon_config_password(s, &result.token);
    const std::vector<std::string> lines = daemon_config_lines(s, ca_staged, password);

    // Formed whole in a private file of its own, then renamed into place:
    // the daemon sees a complete configuration or none. The file holds the
    // MQTT password, so it is 0600 from its first byte. Only the launcher
    // uses this name: whatever stands there, a directory included, goes.
    if (!clear_path(paths::kDaemonConfigTemp)) {
        return result;
    }
    FileWriter file;
    if (!file.open(paths::kDaemonConfigTemp, 0600, true, true)) {
        return result;
    }
    for (const std::string& line : lines) {
        file.write(line.data(), line.size());
    }
    if (!file.commit()) {
        return result;
    }
    if (::rename(paths::kDaemonConfigTemp, paths::kDaemonConfig) != 0) {
        ::unlink(paths::kDaemonConfigTemp);
        return result;
    }
    result.whole = true;
    return result;
}

}  // namespace quorbix
