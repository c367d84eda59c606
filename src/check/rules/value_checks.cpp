#include "check/rules/value_checks.h"

#include <algorithm>

#include "check/rules/fields.h"
#include "check/rules/intent_checks.h"
#include "check/rules/shapes.h"
#include "check/rules/value_shapes.h"
#include "check/text/text.h"
#include "daemon_config/daemon_config.h"
#include "staging/base64.h"
#include "staging/gates.h"

namespace quorbix {

namespace {

// What the launcher does with TLS mode `mode`: whether a TLS file is asked
// for, and the configuration lines the mode writes that mode 0 does not.
std::string tls_mode_effect(std::uint32_t mode, bool ca_present) {
    GatewaySettings on;
    on.mqtt_tls = mode;
    const GatewaySettings off;
    const std::vector<std::string> lines = daemon_config_lines(on, ca_present, {});
    const std::vector<std::string> base = daemon_config_lines(off, ca_present, {});
    std::vector<std::string> written;
    for (const std::string& line : lines) {
        if (std::find(base.begin(), base.end(), line) == base.end()) {
            written.push_back(shown(line.substr(0, line.size() - 1)));
        }
    }
    std::string text = gate_tls(on, TlsFilesPresent{}).stops ? "the launcher asks for a TLS file"
                                                             : "the launcher asks for no TLS file";
    for (std::size_t i = 0; i < written.size(); ++i) {
        text += (i == 0 ? " and writes " : i + 1 == written.size() ? " and " : ", ") + written[i];
    }
    return text;
}

// A number outside the range its field means, with what the launcher does
// with it; nothing for a number in range or a field with no range.
void check_range(RuleContext& c, std::size_t field, Spot spot, std::uint32_t n) {
    const FieldInfo& info = field_table()[field];
    const std::string value = dec(n);
    const std::string as_is = launcher_writes_clause(c) + value + " as it is";
    switch (info.role) {
        case FieldRole::kTlsMode:
            if (n > 2) {
                add_finding(c, Code::kTlsModeRange, spot,
                            "TLS mode " + value +
                                " is none of 0 (no TLS), 1 (CA) and 2 (CA and client "
                                "certificate)",
                            once_clause(c) + tls_mode_effect(n, base64_stages_file(c.s->ca_data)));
            }
            break;
        case FieldRole::kQos:
            if (n > 2) {
                add_finding(c, Code::kQosRange, spot,
                            "MQTT QoS " + value + " is none of 0, 1 and 2",
                            launcher_writes_clause(c) + "mqtt_qos=" + value + " as it is");
            }
            break;
        case FieldRole::kDatabits:
            if (n < 5 || n > 8) {
                add_finding(c, Code::kDatabitsRange, spot,
                            "serial data bits of " + value + " are outside 5 to 8", as_is);
            }
            break;
        case FieldRole::kStopbits:
            if (n < 1 || n > 2) {
                add_finding(c, Code::kStopbitsRange, spot,
                            "serial stop bits of " + value + " are outside 1 to 2", as_is);
            }
            break;
        case FieldRole::kGatewayEnable:
        case FieldRole::kFlag:
            if (n > 1) {
                GatewaySettings read;
                read.enable = n;
                const char* gate = gate_enabled(read).stops ? "the launcher takes it as disabled"
                                                            : "the launcher takes it as enabled";
                add_finding(c, Code::kEnableFlag, spot,
                            info.key + " is " + value + ", an enable flag other than 0 or 1",
                            info.role == FieldRole::kGatewayEnable ? gate : as_is);
            }
            break;
        default:
            break;
    }
}

}  // namespace

void check_number(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read) {
    const std::string_view v = read.value;
    const NumberReading r = read_uint32(v);
    const auto at = static_cast<std::size_t>(v.data() - piece.data());
    const std::string reads =
        "the launcher reads " + field_table()[field].key + " as " + dec(r.value);
    const Spot spot_at{line.number, at + r.sign + 1};
    if (v.empty()) {
        return;  // reads 0, as an absent key does
    }
    // A number read as other than its digits says why once: its range is
    // the same mistake.
    bool misread = true;
    if (!r.has_digits()) {
        add_finding(c, Code::kNumberNoDigits, spot_at, shown(v) + " holds no decimal digits",
                    reads);
    } else if (r.hex) {
        add_finding(c, Code::kNumberHex, spot_at,
                    shown(v) + " is hexadecimal; numbers are read in decimal only", reads);
    } else if (r.sign_char == '-' && r.value != 0) {
        add_finding(c, Code::kNumberNegative, spot_at,
                    shown(v) + " is negative; numbers are unsigned 32-bit and wrap around", reads);
    } else if (r.overflow) {
        add_finding(c, Code::kNumberOverflow, spot_at, shown(v) + " is beyond 4294967295", reads);
    } else {
        misread = false;
    }
    const std::string_view rest = v.substr(r.digits_end);
    const NumberSuffix suffix = number_suffix(rest);
    if (misread) {
        c.explained[field] = true;
        return;
    }
    if (r.trailing_text && suffix != NumberSuffix::kNone) {
        add_finding(c, Code::kNumberUnitSuffix, {line.number, at + r.digits_end + 1},
                    std::string(suffix == NumberSuffix::kUnit ? "the unit" : "the comment") +
                        " after the number, " + shown(trim_blanks(rest)) +
                        ", is not read: the settings take the number alone",
                    reads, "write the number alone: " + dec(r.value));
    } else if (r.trailing_text) {
        add_finding(c, Code::kNumberTrailingText, {line.number, at + r.digits_end + 1},
                    "text after the number's digits, " + shown(rest) + ", is ignored", reads);
    } else if (r.sign_char == '+') {
        add_finding(c, Code::kNumberPlus, spot_at, "a plus sign before the number", reads);
    } else if (r.sign != 0 || r.digits_end != v.size()) {
        add_finding(c, Code::kNumberBlanks, {line.number, at + 1}, "blanks around the number",
                    reads);
    }
    check_range(c, field, {line.number, at + 1}, r.value);
}

void check_base64(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read) {
    const FieldInfo& info = field_table()[field];
    const Base64Shape shape = base64_shape(read.value);
    const auto at = static_cast<std::size_t>(read.value.data() - piece.data());
    if (shape.underscore && is_url_safe_base64(read.value)) {
        c.explained[field] = true;
        add_finding(c, Code::kBase64UrlSafe, {line.number, at + read.value.find('_') + 1},
                    info.key +
                        " is URL-safe Base64: the launcher reads \"-\" as \"+\" but skips "
                        "every \"_\", " +
                        dec(shape.invalid) + (shape.invalid == 1 ? " byte" : " bytes") + " in all",
                    "the launcher stages the file damaged",
                    "encode the file with plain base64 -w0, or turn every \"_\" into \"/\" and "
                    "\"-\" into \"+\"");
    } else if (shape.invalid != 0) {
        std::string message = dec(shape.invalid) + " byte" + (shape.invalid == 1 ? "" : "s") +
                              " outside the Base64 alphabet, the first " +
                              shown(read.value.substr(shape.first_invalid, 1));
        if (shape.underscore) {
            message +=
                "; \"_\" belongs to the URL-safe alphabet, which this decoder reads "
                "only in part (\"-\" is 62, \"_\" is skipped)";
        }
        add_finding(c, Code::kBase64InvalidBytes, {line.number, at + shape.first_invalid + 1},
                    message, "the launcher skips them and decodes the rest");
    }
    if (shape.symbol_after_padding != std::string_view::npos) {
        add_finding(c, Code::kBase64AfterPadding,
                    {line.number, at + shape.symbol_after_padding + 1},
                    "Base64 symbols after the padding \"=\": two encoded files run together?",
                    "the launcher decodes them as if the padding were not there");
    }
    if (shape.symbols % 4 == 1) {
        add_finding(c, Code::kBase64Dangling, {line.number, at + read.value.size() + 1},
                    "the value has " + dec(shape.symbols) +
                        " Base64 symbols, one more than a multiple of 4: the last one's 6 bits "
                        "make no byte",
                    "the launcher drops it");
    }
    if (info.role != FieldRole::kCsv && !read.value.empty() && !base64_stages_file(shape)) {
        add_finding(c, Code::kBase64Empty, {line.number, at + 1},
                    info.key + " decodes to nothing, so no file is staged for it",
                    "the launcher stages no " + std::string(staged_name(info.role)));
    }
}

}  // namespace quorbix
