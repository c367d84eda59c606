#include "check/rules/value_intent.h"

#include <algorithm>
#include <string>

#include "check/rules/fields.h"
#include "check/rules/intent_checks.h"
#include "check/rules/shapes.h"
#include "check/rules/value_shapes.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"
#include "staging/base64.h"

namespace quorbix {

namespace {

constexpr const char kIgnored[] = "the launcher ignores this line";

// The column of value[offset] on the line that `piece` begins.
std::size_t column_in(std::string_view piece, std::string_view value, std::size_t offset) {
    return static_cast<std::size_t>(value.data() - piece.data()) + offset + 1;
}

// What the launcher makes of the value `read` of `field`: the number it
// reads, the file it stages, or the text it passes on.
std::string reading(const FieldInfo& info, std::string_view read) {
    if (info.scanner == Scanner::kUint) {
        return "the launcher reads " + info.key + " as " + dec(parse_uint32(read));
    }
    if (is_base64(info.role)) {
        const std::string staged = staged_bytes(std::string(read));
        const std::string file(staged_name(info.role));
        return "the launcher decodes its letters and digits as Base64 and stages " +
               (staged.empty() ? "no " + file : describe_bytes(staged) + " as the " + file);
    }
    return "the launcher reads " + info.key + " as " + shown(read) +
           ", and the daemon gets it as it is";
}

// The line and column of each offset of `file` (ascending).
std::vector<Edit> line_feeds_for(std::string_view file, const std::vector<std::size_t>& crs) {
    std::vector<Edit> edits;
    std::uint64_t line = 1;
    std::size_t line_start = 0;
    std::size_t from = 0;
    for (const std::size_t at : crs) {
        for (std::size_t lf = file.find('\n', from); lf != std::string_view::npos && lf < at;
             lf = file.find('\n', lf + 1)) {
            ++line;
            line_start = lf + 1;
        }
        from = at;
        const std::size_t column = at - line_start + 1;
        edits.push_back(Edit{line, column, line, column + 1, "\n"});
    }
    return edits;
}

// The words for what a host holds beyond its name.
std::string host_extras(const HostShape& h) {
    std::vector<std::string> parts;
    if (!h.scheme.empty()) {
        parts.push_back("the scheme " + shown(std::string(h.scheme) + "://"));
    }
    if (!h.port.empty()) {
        parts.push_back("the port " + shown(":" + std::string(h.port)));
    }
    if (!h.path.empty()) {
        parts.push_back("the path " + shown(h.path));
    }
    if (h.blanks) {
        parts.emplace_back("blanks");
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return text;
}

// An MQTT host that is more than a name; true when it was reported.
bool check_host(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                std::string_view piece, const SettingsLine& read) {
    const HostShape h = host_shape(read.value);
    if (h.bare()) {
        return false;
    }
    const std::size_t port_field = field_index("QUORBIX_MQTT_PORT");
    const bool port_set = c.key_lines[port_field].number != 0;
    const std::string name(h.name);
    const std::string port = dec(h.port_number);
    std::string remedy = "write the host name alone";
    std::string also;  // the port's line, when the fix adds it
    bool sure = h.certain;
    // The port the host gives is said here, not again as a port not set.
    c.explained[port_field] = c.explained[port_field] || (!h.port.empty() && !port_set);
    if (h.certain && h.port_number != 0 && !port_set) {
        remedy += ", and the port as QUORBIX_MQTT_PORT=" + port;
        also = "\nQUORBIX_MQTT_PORT=" + port;
    } else if (h.certain && h.port_number != 0 && c.s->mqtt_port == h.port_number) {
        remedy += ": QUORBIX_MQTT_PORT already says " + port;
    } else if (h.certain && h.port_number != 0) {
        remedy += ", and choose the port: the host says " + port + ", QUORBIX_MQTT_PORT " +
                  dec(c.s->mqtt_port);
        sure = false;
    } else if (h.certain) {
        remedy += ", " + name;
    }
    std::vector<Edit> edits = sure ? sure_value_edit(c, field, name) : std::vector<Edit>();
    if (!edits.empty()) {
        edits.front().text += also;
    }
    add_finding(
        c, Code::kHostNotAName, {line.number, column_in(piece, read.value, 0)},
        "the MQTT host " + shown(read.value) + " is not a host name: it holds " + host_extras(h),
        launcher_writes_clause(c) +
            "it to mqtt_host as it is, and the daemon looks all of "
            "it up as a host name",
        remedy, std::move(edits));
    return true;
}

}  // namespace

bool is_free_text(std::size_t field) {
    const FieldInfo& info = field_table()[field];
    return info.key == "QUORBIX_MQTT_PWD" ||
           (info.scanner == Scanner::kLargeText && info.role == FieldRole::kPlain);
}

void check_cr_line_ends(RuleContext& c, const std::vector<std::size_t>& crs) {
    const SettingsLine first = settings_read_line(c.file.substr(0, kBoundedLineSize - 1));
    const int position = first.has_key ? settings_key_position(first.key) : -1;
    const std::string reads =
        position < 0 ? "no setting"
                     : field_table()[static_cast<std::size_t>(position)].key + " alone";
    add_finding(c, Code::kCrLineEnds, {},
                "the file's lines end in a carriage return alone, as on a classic Mac: " +
                    count_of(crs.size(), "line end") + " of that kind",
                "the launcher reads the file as one line that ends at its first carriage "
                "return, and so reads " +
                    reads,
                "turn each carriage return into a line feed, for example with tr '\\r' '\\n'",
                line_feeds_for(c.file, crs));
    c.file_explained = !c.options->ignored.test(static_cast<std::size_t>(Code::kCrLineEnds));
}

bool check_key_separator(RuleContext& c, const SettingsLineInfo& line, std::string_view body) {
    const SeparatedKey sk = separated_key(body);
    if (sk.key_size == 0) {
        return false;
    }
    const std::string name = upper(body.substr(0, sk.key_size));
    const std::string_view separator = body.substr(sk.key_size, sk.value_at - sk.key_size);
    note_meant(c, name, line.number);
    add_finding(c, Code::kKeySeparator, {line.number, sk.key_size + 1},
                "the key " + name + " is followed by " + shown(separator) +
                    " where \"=\" belongs, so the line sets nothing",
                std::string(kIgnored) + "; " + name + " " + reading_of(c, name),
                key_remedy(c, name, "write \"=\" between the key and the value, with no blank"),
                sure_key_edit(c, name,
                              {line.number, 1, line.number, sk.value_at + 1,
                               std::string(body.substr(0, sk.key_size)) + "="}));
    return true;
}

bool check_ini_section(RuleContext& c, const SettingsLineInfo& line, std::string_view body) {
    if (!is_ini_section(body)) {
        return false;
    }
    add_finding(c, Code::kIniSection, {line.number, 1},
                shown(trim_blanks(body)) +
                    " is an INI section, which means nothing here: the settings have no sections",
                std::string(kIgnored) + ", and reads the keys after it as it reads any other",
                "delete the line");
    return true;
}

bool check_template(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                    std::string_view piece, const SettingsLine& read) {
    if (is_free_text(field)) {
        return false;
    }
    const Placeholder p = template_placeholder(read.value);
    if (!p.found()) {
        return false;
    }
    const FieldInfo& info = field_table()[field];
    c.explained[field] = true;
    add_finding(c, Code::kTemplatePlaceholder, {line.number, column_in(piece, read.value, p.at)},
                info.key + " holds " + shown(read.value.substr(p.at, p.size)) +
                    ", a template's placeholder that was never filled in",
                reading(info, read.value),
                "fill in the template before the file reaches the device, or write the value "
                "itself");
    return true;
}

bool check_written_value(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                         std::string_view piece, const SettingsLine& read) {
    if (is_free_text(field)) {
        return false;
    }
    const FieldInfo& info = field_table()[field];
    const std::size_t comment = read.quoted ? std::string_view::npos : comment_in_value(read.value);
    if (comment != std::string_view::npos) {
        const std::string_view text = trim_blanks(read.value.substr(comment));
        c.explained[field] = c.explained[field] || is_base64(info.role);
        add_finding(c, Code::kCommentInValue,
                    {line.number,
                     column_in(piece, read.value, read.value.find_first_not_of(" \t", comment))},
                    "the comment " + shown(text) +
                        " after the value stays in it: the settings have no comments",
                    reading(info, read.value),
                    "delete the comment, or put it on a line of its own");
        return true;
    }
    return info.key == "QUORBIX_MQTT_ADDR" && check_host(c, field, line, piece, read);
}

void check_token_key(RuleContext& c) {
    const std::string& key = c.s->mqtt_password;
    const bool base64 = key.size() >= 4 && key.size() % 4 == 0 &&
                        key.find_first_not_of(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                            "0123456789+/=") == std::string::npos &&
                        key.find('=') >= key.size() - 2 &&
                        key.find_first_not_of('=', key.find('=')) == std::string::npos;
    if (c.s->mqtt_token_gen == 0 || !base64) {
        return;
    }
    const std::string decoded = staged_bytes(key);
    if (decoded.size() < 2 || decoded.back() != '\n' ||
        decoded.find_first_of("\r\n") != decoded.size() - 1 || !is_text(decoded)) {
        return;
    }
    add_finding(
        c, Code::kValueEndsInNewline, value_spot(c, field_index("QUORBIX_MQTT_PWD")),
        "QUORBIX_MQTT_PWD, the token tool's key, is Base64 of " + describe_bytes(decoded) +
            " that ends in a line feed: echo without -n made it",
        once_clause(c) + "the launcher gives the token tool the key as it is, line feed and all",
        "encode the key without the line feed: printf '%s' KEY | base64");
}

}  // namespace quorbix
