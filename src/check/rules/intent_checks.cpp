#include "check/rules/intent_checks.h"

#include <algorithm>
#include <type_traits>

#include "check/text/text.h"
#include "staging/base64.h"

namespace quorbix {

namespace {

// "line 7" or "lines 7 to 12".
std::string lines_text(std::uint64_t first, std::uint64_t last) {
    return first == last ? "line " + dec(first) : "lines " + dec(first) + " to " + dec(last);
}

std::string_view read_key(std::string_view bytes) {
    const SettingsLine read = settings_read_line(bytes);
    return read.has_key ? read.key : bytes.substr(0, 0);
}

// What a staged CSV file holds, told by its first mebibyte or so, decoded a
// chunk at a time: the CSV can be most of a large file, and binary data shows
// itself at once.
const char* staged_csv_kind(std::string_view text) {
    constexpr std::size_t kChunk = std::size_t{48} << 10;
    text = text.substr(0, std::size_t{1} << 20);
    std::vector<unsigned char> out(base64_chunk_bound(kChunk));
    Base64Decoder d;
    std::string head;
    bool nul_bytes = false;
    for (std::size_t i = 0; i < text.size(); i += kChunk) {
        const std::size_t n =
            base64_decode_chunk(d, text.data() + i, std::min(kChunk, text.size() - i), out.data());
        head.append(reinterpret_cast<const char*>(out.data()), std::min(n, 8 - head.size()));
        nul_bytes =
            nul_bytes || std::find(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), 0) !=
                             out.begin() + static_cast<std::ptrdiff_t>(n);
    }
    return csv_binary_kind(head, nul_bytes);
}

// The column after a spread value's last byte, on its last line.
std::size_t spread_end_column(const RuleContext& c, const SpreadValue& spread,
                              std::string_view body) {
    if (spread.first_line == 0) {
        return body.size() + 1;
    }
    const std::size_t begin = c.file.rfind('\n', spread.end_offset - 1) + 1;
    return spread.end_offset - begin + 1;
}

// Plain text where the Base64 of a file belongs: what it looks like, and
// what the launcher makes of the letters and digits on the key's line.
void report_plain_text(RuleContext& c, const FieldInfo& info, const SettingsLineInfo& line,
                       const SpreadValue& spread, const std::string& lines,
                       std::vector<Edit> edits) {
    const std::string file(staged_name(info.role));
    const std::string read(settings_read_line(line_bytes(c, line)).value);
    const std::string staged = staged_bytes(read);
    const bool path = spread.text == PlainText::kPath;
    const bool script = info.role == FieldRole::kScript && !path;
    add_finding(c, Code::kNotBase64, {line.number, info.key.size() + 2},
                info.key + " holds " + (script ? "a script's text" : plain_text_name(spread.text)) +
                    (lines.empty() ? "" : " on this line and " + lines) + ", where the Base64 of " +
                    (path ? "the file itself" : "the file") + " belongs",
                std::string(lines.empty() ? "the launcher" : "the launcher reads only this line,") +
                    " decodes the letters and digits in it as Base64 and stages " +
                    (staged.empty() ? "no " + file : describe_bytes(staged) + " as the " + file),
                path ? "put the output of base64 -w0 on that file here"
                     : "write the output of base64 -w0 on the text instead",
                std::move(edits));
}

// The finding of a value spread over lines, with its fix where it is certain.
void report_spread(RuleContext& c, const FieldInfo& info, const SettingsLineInfo& line,
                   std::string_view body, const SpreadValue& spread) {
    const std::size_t eq = info.key.size();
    const std::string lines =
        spread.first_line == 0 ? std::string() : lines_text(spread.first_line, spread.last_line);
    const std::string over = lines.empty() ? lines : " runs on over " + lines;
    const std::string reads = "the launcher reads only this line: " + info.key + " reads as " +
                              shown(settings_read_line(line_bytes(c, line)).value);
    const Spot spot{line.number, eq + 2};
    Edit whole{line.number, eq + 2, spread.first_line == 0 ? line.number : spread.last_line,
               spread_end_column(c, spread, body), ""};
    if (spread.kind == SpreadValue::Kind::kPem) {
        std::vector<Edit> edits;
        if (spread.complete) {
            const std::string q = body[eq + 1] == '"' ? "\"" : "";
            whole.text = q + base64_encode(spread.joined) + q;
            edits.push_back(std::move(whole));
        }
        add_finding(c, Code::kPemNotBase64, spot,
                    info.key + " holds PEM text" +
                        (lines.empty() ? "" : " on this line and " + lines) +
                        ", where the Base64 of the file belongs",
                    reads + ", and decodes the armour's letters as Base64",
                    "put the output of base64 -w0 on the file on this line", std::move(edits));
    } else if (spread.kind == SpreadValue::Kind::kBase64) {
        whole.column = body.size() + 1;
        whole.text = spread.joined;
        add_finding(c, Code::kValueSpread, spot,
                    "the Base64 value of " + info.key + over +
                        ": it was wrapped, and every line after this one is a line of its own",
                    reads, "encode the file on one line with base64 -w0, or join the lines",
                    {std::move(whole)});
    } else if (spread.kind == SpreadValue::Kind::kPlainText) {
        std::vector<Edit> edits;
        if (spread.complete && spread.text != PlainText::kPath) {
            const std::string q = body[eq + 1] == '"' ? "\"" : "";
            whole.text = q + base64_encode(spread.joined) + q;
            edits.push_back(std::move(whole));
        }
        report_plain_text(c, info, line, spread, lines, std::move(edits));
    } else {
        add_finding(c, Code::kValueSpread, spot,
                    "the quoted value of " + info.key + over +
                        ", and the settings have no lines that continue",
                    reads, "put the value on one line");
    }
}

void check_script(RuleContext& c, std::size_t field, const std::string& script) {
    const ScriptShape shape = script_shape(script);
    const std::string& key = field_table()[field].key;
    if (shape.carriage_returns) {
        add_finding(c, Code::kScriptCrlf, value_spot(c, field),
                    key + " decodes to a script with CR LF line ends",
                    once_clause(c) +
                        "the launcher stages it as it is, and running it fails with \"bad "
                        "interpreter\"",
                    "convert it with dos2unix before encoding it");
    }
    if (shape.byte_order_mark) {
        add_finding(c, Code::kScriptByteOrderMark, value_spot(c, field),
                    key +
                        " decodes to a script that begins with a UTF-8 byte-order mark, so the "
                        "kernel does not see its \"#!\"",
                    once_clause(c) +
                        "the launcher stages it as it is, and running it fails: the shell takes "
                        "the mark for part of the first command",
                    "encode the script without the byte-order mark",
                    sure_value_edit(c, field, base64_encode(script.substr(kUtf8Bom.size()))));
    }
    if (shape.escaped_newlines) {
        add_finding(c, Code::kScriptEscapedNewlines, value_spot(c, field),
                    key +
                        " decodes to a script of one line that holds \\n where line feeds "
                        "were meant",
                    once_clause(c) + "the launcher stages it as one line, " +
                        (script.compare(0, 2, "#!") == 0
                             ? "and the kernel takes all of it for the \"#!\" line: running it "
                               "fails"
                             : "and the shell runs it with no line break in it"),
                    "encode the script with real line feeds; printf '%b' turns each \\n into one");
    }
    if (shape.no_interpreter) {
        add_finding(c, Code::kScriptNoInterpreter, value_spot(c, field),
                    key + " decodes to a script without a \"#!\" line",
                    once_clause(c) +
                        "the launcher stages it, and the shell that runs it picks the "
                        "interpreter",
                    "begin the script with #!/bin/sh");
    }
}

}  // namespace

void check_wide_encoding(RuleContext& c, WideEncoding wide) {
    const std::string name = wide_encoding_name(wide);
    add_finding(c, Code::kWideEncoding, {},
                "the file is saved as " + name +
                    ": its NUL bytes end the text of every line, so no line holds a key",
                "the launcher reads none of its settings",
                "save it as UTF-8, for example with iconv -f " + name + " -t UTF-8");
    c.file_explained = !c.options->ignored.test(static_cast<std::size_t>(Code::kWideEncoding));
}

bool check_byte_order_mark(RuleContext& c, const SettingsLineInfo& line, std::string_view bytes) {
    const SettingsLine rest = settings_read_line(bytes.substr(kUtf8Bom.size()));
    if (!rest.has_key) {
        return false;
    }
    const bool known = settings_key_position(rest.key) >= 0;
    const std::string name = known ? upper(rest.key) : std::string();
    if (known) {
        note_meant(c, name, line.number);
    }
    add_finding(c, Code::kByteOrderMark, {line.number, 1},
                "the file begins with a UTF-8 byte-order mark, which becomes part of the first "
                "key: " +
                    shown_key(read_key(bytes)) + (known ? ", not " + name : std::string()),
                "the launcher ignores this line" +
                    (known ? "; " + name + " " + reading_of(c, name) : std::string()),
                "save the file without the byte-order mark",
                {Edit{line.number, 1, line.number, kUtf8Bom.size() + 1, ""}});
    return true;
}

bool check_prefixed_key(RuleContext& c, const SettingsLineInfo& line, std::string_view body) {
    const KeyPrefix p = key_prefix(body);
    if (p.prefix.empty()) {
        return false;
    }
    const SettingsLine rest = settings_read_line(p.rest);
    if (!rest.has_key || settings_key_position(trim_blanks(rest.key)) < 0) {
        return false;
    }
    const std::string name = upper(trim_blanks(rest.key));
    const std::string habit = shown(trim_blanks(p.prefix));
    const bool exported = p.prefix.front() == 'e';
    std::vector<Edit> edits;
    if (exported && rest.key == trim_blanks(rest.key)) {
        edits = sure_key_edit(c, name, {line.number, 1, line.number, p.prefix.size() + 1, ""});
    }
    note_meant(c, name, line.number);
    add_finding(c, exported ? Code::kExportPrefix : Code::kCommentLine, {line.number, 1},
                habit + " before the key makes the line's key " + shown_key(read_key(body)) +
                    ", so " + name + " is not read here",
                "the launcher ignores this line; " + name + " " + reading_of(c, name),
                exported ? "write the line without \"export \""
                         : "delete the line, or the " + habit + " to set " + name,
                std::move(edits));
    return true;
}

bool check_spread(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                  std::string_view body, const SettingsLine& read) {
    const FieldInfo& info = field_table()[field];
    const std::string_view value = body.substr(info.key.size() + 1);
    const bool base64 = is_base64(info.role);
    if (base64 &&
        (template_placeholder(read.value).found() ||
         (!read.quoted && comment_in_value(read.value) != std::string_view::npos &&
          plain_text(read.value.substr(0, comment_in_value(read.value))) == PlainText::kNone))) {
        return false;  // a placeholder or a comment, said where the value is checked
    }
    const auto next = static_cast<std::size_t>(line.offset + line.length);
    const bool text_file = info.role == FieldRole::kCsv || info.role == FieldRole::kScript;
    const SpreadValue spread =
        spread_value(c.file, next, line.number, value, read.opens_quote, base64, text_file);
    if (spread.kind == SpreadValue::Kind::kNone) {
        return false;
    }
    c.continued_through = std::max(c.continued_through, spread.last_line);
    c.explained[field] = c.explained[field] || c.key_lines[field].number == line.number;
    report_spread(c, info, line, body, spread);
    return true;
}

// What each habit of a value is reported as.
struct HabitWords {
    ValueHabit habit;
    Code code;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    const char* message;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    const char* remedy;
};

// clang-format off
constexpr HabitWords kHabitWords[] = {
    {ValueHabit::kSingleQuotes, Code::kSingleQuotes,
     "single quotes around the value stay in it: only double quotes quote",
     "write the value without them, or in double quotes"},
    {ValueHabit::kTypographicQuote, Code::kTypographicQuotes,
     "a typographic quote in the value stays in it: only a plain double quote quotes",
     "write plain double quotes, or none"},
    {ValueHabit::kTrailingBlanks, Code::kTrailingBlanks,
     "blanks or tabs at the end of the unquoted value stay in it",
     "delete them, or put the value in double quotes if they are meant"},
    {ValueHabit::kEscapedQuote, Code::kBackslashQuote,
     "a backslash before a double quote stays in the value: the settings have no escapes",
     "write the double quote without the backslash"},
};
// clang-format on

void check_value_habit(RuleContext& c, const std::string& key, const SettingsLineInfo& line,
                       std::string_view piece, const SettingsLine& read) {
    const ValueHabitSeen seen = value_habit(read.value, read.quoted);
    const auto* words =
        std::find_if(std::begin(kHabitWords), std::end(kHabitWords),
                     [&seen](const HabitWords& w) { return w.habit == seen.habit; });
    if (words == std::end(kHabitWords)) {
        return;
    }
    const Spot spot{line.number,
                    static_cast<std::size_t>(read.value.data() - piece.data()) + seen.at + 1};
    add_finding(c, words->code, spot, words->message,
                "the launcher reads " + key + " as " + shown(read.value), words->remedy);
}

void check_staged_contents(RuleContext& c) {
    const std::size_t csv = field_index("QUORBIX_CSV");
    const char* kind = c.csv_present && !c.explained[csv]
                           ? staged_csv_kind(settings_get_large_view(c.stream, "QUORBIX_CSV"))
                           : nullptr;
    if (kind != nullptr) {
        add_finding(
            c, Code::kCsvBinary, value_spot(c, csv),
            "QUORBIX_CSV decodes to " + std::string(kind) + ", not CSV text",
            once_clause(c) + "the launcher stages it as it is, and the daemon cannot read it",
            "encode the CSV text itself with base64 -w0, uncompressed");
    }
    std::size_t position = 0;
    settings_for_each_field(*c.s, [&c, &position](Scanner, const char*, const auto& field) {
        const std::size_t at = position++;
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>) {
            if (field_table()[at].role == FieldRole::kScript && !field.empty() &&
                !c.explained[at]) {
                const std::string script = staged_bytes(field);
                if (!script.empty()) {
                    check_script(c, at, script);
                }
            }
        }
    });
}

// The settings an enabled gateway cannot do without.
struct Essential {
    Code code;
    const char* key;
    std::string GatewaySettings::*value;
    const char* written;  // what the launcher writes without it
    const char* remedy;
};

constexpr Essential kEssentials[] = {
    {Code::kNoMqttHost, "QUORBIX_MQTT_ADDR", &GatewaySettings::mqtt_host,
     "an empty mqtt_host= line, and the daemon has no broker",
     "set QUORBIX_MQTT_ADDR to the broker's host name"},
    {Code::kNoClientId, "QUORBIX_CLIENT_ID", &GatewaySettings::mqtt_client_id,
     "an empty mqtt_clientid= line", "set QUORBIX_CLIENT_ID to the device's id at the broker"},
};

void check_essentials(RuleContext& c) {
    for (const Essential& e : kEssentials) {
        const std::size_t field = field_index(e.key);
        if (!((*c.s).*e.value).empty() || c.meant[field] != 0 || c.explained[field]) {
            continue;  // set, or a finding of the line meant to set it says why it is not
        }
        add_finding(c, e.code, value_spot(c, field),
                    std::string("the gateway is enabled, but ") +
                        (c.key_lines[field].number == 0 ? "no line sets " + std::string(e.key)
                                                        : std::string(e.key) + " is empty"),
                    launcher_writes_clause(c) + e.written, e.remedy);
    }
}

std::string key_remedy(const RuleContext& c, const std::string& key, std::string plain) {
    const std::uint64_t set = c.key_lines[field_index(key)].number;
    if (set == 0) {
        return plain;
    }
    return "line " + dec(set) + " already sets " + key +
           ": keep only the one of the two lines that is meant";
}

std::vector<Edit> sure_value_edit(const RuleContext& c, std::size_t field,
                                  const std::string& text) {
    const SettingsLineInfo& line = c.key_lines[field];
    if (line.number == 0) {
        return {};
    }
    const std::string_view bytes = line_bytes(c, line);
    const bool bounded = field_table()[field].scanner != Scanner::kLargeText;
    const SettingsLine read =
        settings_read_line(bounded ? bytes.substr(0, kBoundedLineSize - 1) : bytes);
    std::string_view body = without_line_feed(bytes);
    if (!body.empty() && body.back() == '\r') {
        body.remove_suffix(1);
    }
    const std::string_view written = body.substr(read.key.size() + 1);
    const bool quoted = written.size() >= 2 && written.front() == '"' && written.back() == '"';
    if ((quoted ? written.substr(1, written.size() - 2) : written) != read.value) {
        return {};  // the launcher reads less than is written: the fix would guess
    }
    const std::string q = quoted ? "\"" : "";
    return {Edit{line.number, read.key.size() + 2, line.number, body.size() + 1, q + text + q}};
}

std::vector<Edit> sure_key_edit(const RuleContext& c, const std::string& key, Edit edit) {
    if (c.key_lines[field_index(key)].number != 0) {
        return {};
    }
    return {std::move(edit)};
}

}  // namespace quorbix
