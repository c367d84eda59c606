#include "check/cli/connection.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <vector>

#include "check/cli/connection_words.h"
#include "check/rules/context.h"
#include "check/rules/fields.h"
#include "daemon_config/daemon_config.h"
#include "settings/scanner.h"

namespace quorbix {

namespace {

// The value of the configuration line "name=value": up to its line feed, as
// the daemon reads the line.
std::string config_value(const std::vector<std::string>& lines, std::string_view name) {
    for (const std::string& line : lines) {
        const std::string_view l = line;
        if (l.size() > name.size() && l.substr(0, name.size()) == name && l[name.size()] == '=') {
            const std::string_view value = l.substr(name.size() + 1);
            return std::string(value.substr(0, value.find('\n')));
        }
    }
    return {};
}

// The attempt as the gateway would make it, and what its words need.
struct Plan {
    ConnectRequest request;
    ConnectionFacts facts;
};

// The request from the record of c: the host, client id, user and password
// as the configuration's lines hold them (cut where they cut them), the
// numbers as the record reads them, the staged bytes of the TLS files the
// mode uses. A generated token's password is the token given, or the token
// tool's first line when it may be run; without either, the attempt stops
// before MQTT.
Plan plan_of(const RuleContext& c, const AnalysisOptions& analysis_options,
             const ConnectionOptions& options, const ConnectionSeams& seams) {
    const GatewaySettings& s = *c.s;
    Plan p;
    const PasswordPlan password_plan = daemon_config_password_plan(s);
    std::string token_line;
    if (password_plan == PasswordPlan::kToken) {
        p.facts.token_password = true;
        if (analysis_options.token) {
            token_line = token_first_line(*analysis_options.token);
        } else if (options.run_token_tool) {
            const TokenRun run = seams.token_tool(s.mqtt_host, s.mqtt_client_id, s.mqtt_password);
            token_line = run.line;
            p.facts.token_trouble = token_trouble(run);
        } else {
            p.request.stop_before_mqtt = true;
        }
    }
    const std::vector<std::string> lines = daemon_config_lines(
        s, c.tls.present.ca, daemon_config_password_value(s, password_plan, token_line));
    ConnectRequest& q = p.request;
    q.host = config_value(lines, "mqtt_host");
    q.port = s.mqtt_port;
    q.tls_mode = s.mqtt_tls;
    q.keep_alive = s.mqtt_keepalive;
    q.client_id = options.client_id ? *options.client_id : config_value(lines, "mqtt_clientid");
    q.send_credentials = s.mqtt_anonymous == 0;
    q.user = config_value(lines, "mqtt_username");
    q.password = config_value(lines, "mqtt_password");
    const auto staged = [&c](TlsFile file) { return c.tls.bytes[static_cast<std::size_t>(file)]; };
    if (q.tls_mode != 0 && c.tls.present.ca) {
        q.ca = staged(TlsFile::kCa);
    }
    if (q.tls_mode == 2) {
        q.cert = staged(TlsFile::kLocalCert);
        q.key = staged(TlsFile::kLocalKey);
    }
    q.timeout_ms = options.timeout_seconds * 1000;
    p.facts.host = q.host;
    p.facts.port = q.port;
    p.facts.tls_mode = q.tls_mode;
    p.facts.timeout_seconds = options.timeout_seconds;
    p.facts.anonymous = !q.send_credentials;
    return p;
}

// Where a finding about `setting` points: the value of its line, or the
// file as a whole when the key is absent.
Spot spot_of(const RuleContext& c, ConnectionSetting setting) {
    const char* key = nullptr;
    switch (setting) {
        case ConnectionSetting::kNone:
            return {};
        case ConnectionSetting::kHostAndPort:
            key = c.key_lines[field_index("QUORBIX_MQTT_PORT")].number != 0 ? "QUORBIX_MQTT_PORT"
                                                                            : "QUORBIX_MQTT_ADDR";
            break;
        case ConnectionSetting::kTlsMode:
            key = "QUORBIX_MQTT_TLS";
            break;
        case ConnectionSetting::kCa:
            key = "QUORBIX_CA";
            break;
        case ConnectionSetting::kLocalCert:
            key = "QUORBIX_LOCALCERT";
            break;
        case ConnectionSetting::kLocalKey:
            key = "QUORBIX_LOCALKEY";
            break;
        case ConnectionSetting::kClientId:
            key = "QUORBIX_CLIENT_ID";
            break;
        case ConnectionSetting::kPassword:
            key = "QUORBIX_MQTT_PWD";
            break;
        case ConnectionSetting::kHost:
            key = "QUORBIX_MQTT_ADDR";
            break;
    }
    return value_spot(c, field_index(key));
}

ConnectionView view_of(const ConnectResult& r) {
    ConnectionView v;
    v.stage = connect_stage_name(r.stage);
    v.result = connect_outcome_name(r.outcome);
    v.address = r.address;
    v.tls_version = r.tls_version;
    v.connack = r.connack;
    v.milliseconds = r.outcome == ConnectOutcome::kNotTried ? -1 : r.milliseconds;
    return v;
}

// Whether finding a comes before b in a file's findings: by line, then
// column, those about the file as a whole last.
bool in_file_order(const Finding& a, const Finding& b) {
    const std::uint64_t la = a.line == 0 ? UINT64_MAX : a.line;
    const std::uint64_t lb = b.line == 0 ? UINT64_MAX : b.line;
    return la != lb ? la < lb : a.column < b.column;
}

// Adds the findings and counts of `more` to *into, each finding after those
// at its spot.
void merge(FileAnalysis* into, FileAnalysis&& more) {
    for (Finding& f : more.findings) {
        const auto at =
            std::upper_bound(into->findings.begin(), into->findings.end(), f, in_file_order);
        into->findings.insert(at, std::move(f));
    }
    into->by_severity.errors += more.by_severity.errors;
    into->by_severity.warnings += more.by_severity.warnings;
    into->by_severity.notes += more.by_severity.notes;
    for (std::size_t i = 0; i < kCodeCount; ++i) {
        into->by_code[i] += more.by_code[i];
    }
    for (IgnoredFinding& i : more.ignored) {
        const auto at = std::upper_bound(into->ignored.begin(), into->ignored.end(), i,
                                         [](const IgnoredFinding& a, const IgnoredFinding& b) {
                                             return in_file_order(a.finding, b.finding);
                                         });
        into->ignored.insert(at, std::move(i));
    }
}

}  // namespace

ConnectionView check_connection(std::string_view bytes, const AnalysisOptions& analysis_options,
                                const ConnectionOptions& options, FileAnalysis* analysis,
                                const ConnectionSeams& seams) {
    // The record and the rule context again, without the CSV: the one place
    // where the rules place a finding and escape its texts.
    const SettingsStreamPtr stream = settings_open_view(bytes);
    GatewaySettings s;
    settings_load_from(s, stream.get(), "QUORBIX_CSV");
    RuleContext c;
    context_init(c, settings_whole_bytes(stream.get()), stream.get(), s, analysis_options);
    ConnectionView view{"dns", "not-tried", {}, {}, -1, -1};
    ConnectionFinding f;
    if (analysis->outcome.action != Outcome::Action::kStart) {
        f = connection_not_tried("the launcher does not start the daemon",
                                 "the launcher " + outcome_text(analysis->outcome));
    } else {
        const Plan p = plan_of(c, analysis_options, options, seams);
        const ConnectResult r = seams.attempt(p.request);
        ConnectionFacts facts = p.facts;
        facts.now = std::time(nullptr);
        f = connection_finding(facts, r);
        view = view_of(r);
    }
    add_finding(c, f.code, spot_of(c, f.setting), f.message, f.launcher_does, f.remedy);
    context_finish(c);
    merge(analysis, std::move(c.analysis));
    return view;
}

}  // namespace quorbix
