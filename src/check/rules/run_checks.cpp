#include "check/rules/run_checks.h"

#include <string>
#include <vector>

#include "check/model/tls_files.h"
#include "check/rules/analyse.h"
#include "check/rules/fields.h"
#include "check/rules/intent_checks.h"
#include "check/rules/shapes.h"
#include "check/rules/value_intent.h"
#include "check/text/text.h"
#include "check/tls/tls_material.h"
#include "daemon_config/daemon_config.h"
#include "daemon_config/token.h"
#include "settings/line_grammar.h"
#include "staging/base64.h"
#include "staging/gates.h"

namespace quorbix {

namespace {

// The position of the field whose role is `role`.
std::size_t field_with_role(FieldRole role) {
    const std::vector<FieldInfo>& fields = field_table();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].role == role) {
            return i;
        }
    }
    return 0;
}

// What the launcher does when verdict v stops the run.
std::string verdict_text(const GateVerdict& v) {
    return "the launcher logs " + log_quoted(v.log_line) +
           (v.map_cleanup ? ", removes the map files and exits " : " and exits ") +
           dec(static_cast<std::uint64_t>(exit_status_seen(v.exit_status))) +
           gate_words(v.gate).after;
}

// Reports the stop of verdict v, once the gates before it and `conditions`
// let the run get there.
void report_stop(RuleContext& c, const GateVerdict& v, Spot spot, std::string_view message,
                 std::vector<std::string> conditions = {}) {
    add_finding(c, gate_words(v.gate).code, spot, message,
                once_clause(c, std::move(conditions), v.gate) + verdict_text(v));
}

// The edit that writes `text` in place of the value of field's line, its
// quotes kept; none unless that line holds the whole of `value`, as the
// launcher reads it.
std::vector<Edit> value_edit(const RuleContext& c, std::size_t field, const std::string& value,
                             std::string text) {
    const SettingsLineInfo& line = c.key_lines[field];
    if (line.number == 0 || c.explained[field]) {
        return {};
    }
    const std::string_view content = without_line_feed(line_bytes(c, line));
    const SettingsLine read = settings_read_line(content);
    if (!read.has_key || read.value != value) {
        return {};
    }
    const std::size_t column = static_cast<std::size_t>(read.value.data() - content.data()) + 1;
    return {{line.number, column, line.number, column + read.value.size(), std::move(text)}};
}

void check_tls_files(RuleContext& c) {
    const std::string* bytes = c.tls.bytes;
    const TlsMaterial material{bytes[0], bytes[1], bytes[2]};
    for (const TlsProblem& p : check_tls_material(material, c.options->now)) {
        const TlsFileRow& row = tls_file_row(p.file);
        const std::size_t field = field_with_role(row.role);
        if (c.explained[field]) {
            continue;  // the setting's own finding says why
        }
        const Finding& f = p.finding;
        std::string remedy = f.remedy;
        std::vector<Edit> edits;
        if (!p.instead.empty() && p.certain) {
            edits = value_edit(c, field, c.s->*row.data, base64_encode(p.instead));
        } else if (!p.instead.empty()) {
            remedy += ": " + field_table()[field].key + "=\"" + base64_encode(p.instead) + "\"";
        }
        add_finding(c, f.code, value_spot(c, field), f.message, f.launcher_does, remedy,
                    std::move(edits));
    }
}

void check_early_gates(RuleContext& c) {
    const std::size_t csv_field = field_with_role(FieldRole::kCsv);
    const std::size_t enable_field = field_with_role(FieldRole::kGatewayEnable);
    for (const GateVerdict& v : c.gates.before_config) {
        if (v.gate == Gate::kNoCsv) {
            report_stop(
                c, v, value_spot(c, csv_field),
                std::string(c.key_lines[csv_field].number == 0 ? "QUORBIX_CSV is not set"
                                                               : "QUORBIX_CSV decodes to nothing") +
                    ", so no CSV configuration is staged");
        } else if (v.gate == Gate::kDisabled && c.key_lines[enable_field].number == 0 &&
                   c.meant[enable_field] == 0) {
            add_finding(c, Code::kNoEnable, {},
                        "no line sets QUORBIX_ENABLE, so it reads 0 and the gateway never runs",
                        once_clause(c, {}, v.gate) + verdict_text(v),
                        "add the line QUORBIX_ENABLE=1 to run the gateway");
        } else if (v.gate == Gate::kDisabled && c.key_lines[enable_field].number != 0 &&
                   !c.explained[enable_field]) {
            report_stop(c, v, value_spot(c, enable_field), "QUORBIX_ENABLE is 0");
        }
    }
    if (c.s->enable != 0) {
        check_essentials(c);
    }
}

// Every stop of the TLS gate, each once the files before it are staged.
void check_tls_gate(RuleContext& c) {
    const GatewaySettings& s = *c.s;
    const Spot spot = value_spot(c, field_with_role(FieldRole::kTlsMode));
    const std::string mode = "TLS mode " + dec(s.mqtt_tls);
    std::vector<std::string> conditions;
    bool no_ca = false;
    for (const JudgedGates::TlsStop& stop : c.gates.tls_stops) {
        const TlsFileRow& file = tls_file_row(stop.file);
        std::string message = mode + " needs a ";
        message.append(tls_file_words(stop.file).name).append(", and ");
        message.append(field_table()[field_with_role(file.role)].key).append(" stages none");
        report_stop(c, stop.verdict, spot, message, conditions);
        conditions.emplace_back(gate_words(file.gate).passed);
        no_ca = no_ca || file.gate == Gate::kNoCa;
    }
    const bool mode_explained = c.explained[field_with_role(FieldRole::kTlsMode)];
    if (daemon_config_empty_cafile(s, c.tls.present.ca) && !no_ca && !mode_explained) {
        add_finding(c, Code::kTlsEmptyCafile, spot, mode + " without a CA certificate",
                    launcher_writes_clause(c) + "an empty mqtt_cafile= line to the configuration");
    }
}

// The outcome, from the one judgement of the gates.
void fill_outcome(RuleContext& c) {
    Outcome& out = c.analysis.outcome;
    const GateVerdict& verdict = c.gates.ends_run;
    out.config_written = c.gates.config_written;
    if (verdict.stops) {
        out.action = verdict.exit_status == kExitDisabled ? Outcome::Action::kDisabled
                                                          : Outcome::Action::kRefuse;
        out.exit_status = exit_status_seen(verdict.exit_status);
        out.log_line = verdict.log_line;
        out.map_cleanup = verdict.map_cleanup;
        out.gate_code = gate_words(verdict.gate).code;
    } else {
        out.action = Outcome::Action::kStart;
        out.exit_status = kExitStarted;
        out.log_line = std::string(kStartCommand) + kStartLogEnd;
    }
}

void check_token(RuleContext& c) {
    const GatewaySettings& s = *c.s;
    const PasswordPlan plan = daemon_config_password_plan(s);
    if (plan == PasswordPlan::kStored) {
        return;
    }
    check_token_key(c);
    const Spot spot = value_spot(c, field_index("QUORBIX_MQTT_SASGEN"));
    const std::string not_run =
        once_clause(c) +
        "the launcher does not run the token tool and writes an empty mqtt_password= line";
    if (plan == PasswordPlan::kNoKey) {
        add_finding(c, Code::kTokenNoPassword, spot,
                    "a generated token is asked for, but QUORBIX_MQTT_PWD, its key, is empty",
                    not_run);
        return;
    }
    if (s.mqtt_host.empty() || s.mqtt_client_id.empty()) {
        const char* missing = s.mqtt_host.empty() && s.mqtt_client_id.empty()
                                  ? "QUORBIX_MQTT_ADDR and QUORBIX_CLIENT_ID are"
                              : s.mqtt_host.empty() ? "QUORBIX_MQTT_ADDR is"
                                                    : "QUORBIX_CLIENT_ID is";
        add_finding(c, Code::kTokenMissingPart, spot,
                    std::string("a generated token is asked for, but ") + missing + " empty",
                    once_clause(c) + "the launcher asks the token tool for the resource " +
                        shown(token_resource(s.mqtt_host, s.mqtt_client_id)));
    }
    if (plan == PasswordPlan::kCommandTooLong) {
        add_finding(c, Code::kTokenCommandTooLong, spot,
                    "the token command would be longer than the shell takes", not_run);
    }
}

void check_port(RuleContext& c) {
    const GatewaySettings& s = *c.s;
    if (s.mqtt_host.empty() || (s.mqtt_port != 0 && s.mqtt_port <= 65535)) {
        return;
    }
    const std::size_t port_field = field_index("QUORBIX_MQTT_PORT");
    if (c.explained[port_field]) {
        return;  // the port's own finding, or the host's, says why
    }
    const bool port_set = c.key_lines[port_field].number != 0;
    const Spot spot =
        port_set ? value_spot(c, port_field) : value_spot(c, field_index("QUORBIX_MQTT_ADDR"));
    add_finding(c, Code::kPortRange, spot,
                port_set ? "MQTT port " + dec(s.mqtt_port) + " is outside 1 to 65535"
                         : "a host is set, but QUORBIX_MQTT_PORT is not, so the port reads 0",
                launcher_writes_clause(c) + "mqtt_port=" + dec(s.mqtt_port) + " as it is");
}

// Forms the configuration whether or not this run reaches it: a line it
// would cut is worth knowing before the gateway is enabled.
void form_config(RuleContext& c) {
    const GatewaySettings& s = *c.s;
    const PasswordPlan plan = daemon_config_password_plan(s);
    const std::string token =
        !c.options->token ? std::string(kTokenPlaceholder) : token_first_line(*c.options->token);
    const std::string password = daemon_config_password_value(s, plan, token);
    std::vector<ConfigCut> cuts;
    const std::vector<std::string> lines =
        daemon_config_lines(s, c.tls.present.ca, password, &cuts);
    for (const std::string& l : lines) {
        c.analysis.config += l;
    }
    for (const ConfigCut& cut : cuts) {
        const std::string& text = lines[cut.line];
        const std::string name = text.substr(0, text.find('='));
        Spot spot = value_spot(c, static_cast<std::size_t>(cut.field));
        if (spot.line != 0) {
            spot.column += cut.kept;
        }
        add_finding(
            c, Code::kConfigLineCut, spot,
            "the configuration line " + name + " keeps " + dec(text.size()) +
                " bytes with its line feed; the last " + dec(cut.lost) +
                " bytes of the value do not fit",
            launcher_writes_clause(c) + "the line cut short, its closing quote and line feed kept");
    }
}

}  // namespace

void check_run(RuleContext& c) {
    check_tls_files(c);
    check_early_gates(c);
    check_tls_gate(c);
    check_staged_contents(c);
    form_config(c);
    fill_outcome(c);
    check_token(c);
    check_port(c);
}

}  // namespace quorbix
