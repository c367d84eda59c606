#include "check/run_checks.h"

#include <string>
#include <type_traits>
#include <vector>

#include "check/fields.h"
#include "check/text.h"
#include "check/tls_material.h"
#include "daemon_config/daemon_config.h"
#include "daemon_config/token.h"
#include "staging/base64.h"
#include "staging/gates.h"

namespace quorbix {

namespace {

std::string decode(const std::string& text) {
    DecodedBytes d = base64_decode_dup(text.c_str());
    if (!d.data) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(d.data.get()), d.size);
}

// The TLS files the launcher would stage, decoded.
struct TlsFiles {
    std::string ca;
    std::string cert;
    std::string key;
};

// What the launcher does at a gate that refuses; for the TLS gate, once
// the earlier gates and `condition` let the run get there.
std::string refusal(const CheckContext& c, const char* log_line, const std::string& condition = "",
                    bool after_config = true) {
    std::vector<std::string> conditions;
    if (!condition.empty()) {
        conditions.push_back(condition);
    }
    return (after_config ? once(c, conditions) : std::string()) + "the launcher logs " +
           log_quoted(log_line) +
           ", removes the map files and exits 255; the daemon is not started";
}

void check_tls_files(CheckContext& c, const TlsFiles& files) {
    for (TlsProblem& p : check_tls_material({files.ca, files.cert, files.key}, c.options->now)) {
        const char* const keys[] = {"QUORBIX_CA", "QUORBIX_LOCALCERT", "QUORBIX_LOCALKEY"};
        Finding& f = p.finding;
        add_finding(c, f.check, value_spot(c, field_index(keys[static_cast<int>(p.file)])),
                    std::move(f.message), std::move(f.fix));
    }
}

void check_gates(CheckContext& c, const TlsFiles& files) {
    const GatewaySettings& s = *c.s;
    const std::size_t csv_field = field_index("QUORBIX_CSV");
    const std::size_t tls_field = field_index("QUORBIX_MQTT_TLS");
    const std::size_t enable_field = field_index("QUORBIX_ENABLE");
    if (!c.csv_present) {
        const std::string why = c.winner[csv_field].number == 0 ? "QUORBIX_CSV is not set"
                                                                : "QUORBIX_CSV decodes to nothing";
        add_finding(c, Check::kNoCsv, value_spot(c, csv_field),
                    why + ", so no CSV configuration is staged", refusal(c, kLogNoCsv, "", false));
    }
    if (s.enable == 0) {
        add_finding(c, Check::kDisabled, value_spot(c, enable_field),
                    c.winner[enable_field].number == 0 ? "QUORBIX_ENABLE is not set, so it reads 0"
                                                       : "QUORBIX_ENABLE is 0",
                    (c.csv_present ? "" : "once the CSV configuration is staged, ") +
                        std::string("the launcher logs ") + log_quoted(kLogDisabled) +
                        " and exits 1, after staging the uploaded files");
    }
    const Spot tls = value_spot(c, tls_field);
    const std::string mode = "TLS mode " + dec(s.mqtt_tls);
    if (s.mqtt_tls == 1 && files.ca.empty()) {
        add_finding(c, Check::kTlsNoCa, tls,
                    mode + " needs a CA certificate, and QUORBIX_CA stages none",
                    refusal(c, kLogNoCa));
    }
    if (s.mqtt_tls == 2 && files.cert.empty()) {
        add_finding(c, Check::kTlsNoClientCert, tls,
                    mode + " needs a client certificate, and QUORBIX_LOCALCERT stages none",
                    refusal(c, kLogNoLocalCert));
    }
    if (s.mqtt_tls == 2 && files.key.empty()) {
        add_finding(c, Check::kTlsNoClientKey, tls,
                    mode + " needs a client key, and QUORBIX_LOCALKEY stages none",
                    refusal(c, kLogNoLocalKey,
                            files.cert.empty() ? "the client certificate is staged" : ""));
    }
    if (s.mqtt_tls != 0 && s.mqtt_tls != 1 && files.ca.empty()) {
        add_finding(c, Check::kTlsEmptyCafile, tls, mode + " without a CA certificate",
                    writes(c) + "an empty mqtt_cafile= line to the configuration");
    }
}

void fill_outcome(CheckContext& c, const TlsFiles& files) {
    Outcome& out = c.result.outcome;
    GateVerdict verdict = gate_before_config(*c.s, c.csv_present);
    if (!verdict.stops) {
        out.config_written = true;
        verdict = gate_tls(*c.s, !files.ca.empty(), !files.cert.empty(), !files.key.empty());
    }
    if (verdict.stops) {
        out.action = verdict.exit_status == kExitDisabled ? Outcome::Action::kDisabled
                                                          : Outcome::Action::kRefuse;
        out.exit_status = verdict.exit_status & 0xff;
        out.log_line = verdict.log_line;
        out.map_cleanup = verdict.map_cleanup;
    } else {
        out.action = Outcome::Action::kStart;
        out.exit_status = kExitStarted;
        out.log_line = std::string(kStartCommand) + "\n";
    }
}

void check_token(CheckContext& c) {
    const GatewaySettings& s = *c.s;
    if (s.mqtt_token_gen == 0) {
        return;
    }
    const Spot spot = value_spot(c, field_index("QUORBIX_MQTT_SASGEN"));
    if (s.mqtt_password.empty()) {
        add_finding(c, Check::kTokenNoPassword, spot,
                    "a generated token is asked for, but QUORBIX_MQTT_PWD, its key, is empty",
                    once(c) +
                        "the launcher does not run the token tool and writes an empty "
                        "mqtt_password= line");
        return;
    }
    if (s.mqtt_host.empty() || s.mqtt_client_id.empty()) {
        const char* missing = s.mqtt_host.empty() && s.mqtt_client_id.empty()
                                  ? "QUORBIX_MQTT_ADDR and QUORBIX_CLIENT_ID are"
                              : s.mqtt_host.empty() ? "QUORBIX_MQTT_ADDR is"
                                                    : "QUORBIX_CLIENT_ID is";
        add_finding(c, Check::kTokenMissingPart, spot,
                    std::string("a generated token is asked for, but ") + missing + " empty",
                    once(c) + "the launcher asks the token tool for the resource " +
                        shown(s.mqtt_host + "/devices/" + s.mqtt_client_id));
    }
    if (token_command(s.mqtt_host, s.mqtt_client_id, s.mqtt_password).empty()) {
        add_finding(c, Check::kTokenCommandTooLong, spot,
                    "the token command would be longer than the shell takes",
                    once(c) +
                        "the launcher does not run the token tool and writes an empty "
                        "mqtt_password= line");
    }
}

void check_port(CheckContext& c) {
    const GatewaySettings& s = *c.s;
    if (s.mqtt_host.empty() || (s.mqtt_port != 0 && s.mqtt_port <= 65535)) {
        return;
    }
    const std::size_t port_field = field_index("QUORBIX_MQTT_PORT");
    const bool port_set = c.winner[port_field].number != 0;
    const Spot spot =
        port_set ? value_spot(c, port_field) : value_spot(c, field_index("QUORBIX_MQTT_ADDR"));
    add_finding(c, Check::kPortRange, spot,
                port_set ? "MQTT port " + dec(s.mqtt_port) + " is outside 1 to 65535"
                         : "a host is set, but QUORBIX_MQTT_PORT is not, so the port reads 0",
                writes(c) + "mqtt_port=" + dec(s.mqtt_port) + " as it is");
}

// The field whose text `text` is a view of (the password field for the
// token's line).
std::size_t field_of(const GatewaySettings& s, std::string_view text, const std::string& password) {
    std::size_t found = field_index("QUORBIX_MQTT_PWD");
    if (text.data() == password.data()) {
        return found;
    }
    std::size_t position = 0;
    settings_for_each_field(s, [&](Scanner, const char*, const auto& field) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
            if (field.data() == text.data()) {
                found = position;
            }
        }
        ++position;
    });
    return found;
}

// Forms the configuration whether or not this run reaches it: a line it
// would cut is worth knowing before the gateway is enabled.
void form_config(CheckContext& c, const TlsFiles& files) {
    const GatewaySettings& s = *c.s;
    std::string password = s.mqtt_password;
    if (daemon_config_uses_token(s)) {
        if (token_command(s.mqtt_host, s.mqtt_client_id, s.mqtt_password).empty()) {
            password.clear();
        } else {
            password = c.options->token ? token_first_line(*c.options->token)
                                        : std::string(kTokenPlaceholder);
        }
    }
    std::vector<ConfigCut> cuts;
    const std::vector<std::string> lines =
        daemon_config_lines(s, !files.ca.empty(), password, &cuts);
    for (const std::string& l : lines) {
        c.result.config += l;
    }
    for (const ConfigCut& cut : cuts) {
        const std::string& text = lines[cut.line];
        const std::string name = text.substr(0, text.find('='));
        Spot spot = value_spot(c, field_of(s, cut.text, password));
        if (spot.line != 0) {
            spot.column += cut.text.size() - cut.lost;
        }
        add_finding(c, Check::kConfigLineCut, spot,
                    "the configuration line " + name + " keeps " + dec(text.size()) +
                        " bytes with its line feed; the last " + dec(cut.lost) +
                        " bytes of the value do not fit",
                    writes(c) + "the line cut short, its closing quote and line feed kept");
    }
}

}  // namespace

void check_run(CheckContext& c) {
    const TlsFiles files{decode(c.s->ca_data), decode(c.s->local_cert_data),
                         decode(c.s->local_key_data)};
    check_tls_files(c, files);
    check_gates(c, files);
    form_config(c, files);
    fill_outcome(c, files);
    check_token(c);
    check_port(c);
}

}  // namespace quorbix
