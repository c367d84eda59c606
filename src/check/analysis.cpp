#include "check/analysis.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <type_traits>

#include "check/checks.h"
#include "check/text.h"
#include "check/tls_material.h"
#include "daemon_config/daemon_config.h"
#include "daemon_config/token.h"
#include "settings/scanner.h"
#include "staging/base64.h"
#include "staging/gates.h"

namespace quorbix {

namespace {

// Findings of one code beyond this many are counted, not shown.
constexpr std::size_t kShownPerCode = 100;
// Unknown keys beyond this many get no suggestion (a file of millions of
// stray keys must still be checked quickly).
constexpr std::size_t kSuggestedKeys = 200;

// ---------------------------------------------------------------- texts

std::string dec(std::uint64_t n) {
    return std::to_string(n);
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool all_blank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), is_blank);
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return out;
}

// A text of the file as a message quotes it: in single quotes, control bytes
// escaped, elided after a few dozen bytes with its length said.
std::string shown(std::string_view text) {
    return quoted_text(text, '\'', 40);
}

// A fix as findings give it: one sentence, capitalised and closed.
std::string sentence(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') {
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    }
    if (!text.empty() && text.back() != '.') {
        text.push_back('.');
    }
    return text;
}

// A log line as findings quote it: in double quotes, without its line feed.
std::string log_quoted(const char* log_line) {
    std::string_view line(log_line);
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    return "\"" + std::string(line) + "\"";
}

// ---------------------------------------------------------------- keys

// What a field means, where a check depends on it.
enum class Role {
    kPlain,
    kGatewayEnable,
    kFlag,
    kTlsMode,
    kQos,
    kMqttPort,
    kDatabits,
    kStopbits,
    kCsv,
    kCaCert,
    kClientCert,
    kClientKey,
    kScript,
};

struct RoleRule {
    enum class Match { kExact, kPrefix, kSuffix } match;
    std::string_view text;
    Role role;
};

// First match wins.
constexpr RoleRule kRoleRules[] = {
    {RoleRule::Match::kExact, "QUORBIX_ENABLE", Role::kGatewayEnable},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_TLS", Role::kTlsMode},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_QOS", Role::kQos},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_PORT", Role::kMqttPort},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_RETAIN", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_ANONY", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_MQTT_SASGEN", Role::kFlag},
    {RoleRule::Match::kExact, "QUORBIX_CSV", Role::kCsv},
    {RoleRule::Match::kExact, "QUORBIX_CA", Role::kCaCert},
    {RoleRule::Match::kExact, "QUORBIX_LOCALCERT", Role::kClientCert},
    {RoleRule::Match::kExact, "QUORBIX_LOCALKEY", Role::kClientKey},
    {RoleRule::Match::kPrefix, "QUORBIX_DIRECTMETHOD_SCRIPT", Role::kScript},
    {RoleRule::Match::kSuffix, "_DATABITS", Role::kDatabits},
    {RoleRule::Match::kSuffix, "_STOPBITS", Role::kStopbits},
    {RoleRule::Match::kSuffix, "_EN", Role::kFlag},
};

Role role_of(std::string_view key) {
    for (const RoleRule& r : kRoleRules) {
        const bool hit =
            r.match == RoleRule::Match::kExact ? key == r.text
            : r.match == RoleRule::Match::kPrefix
                ? key.substr(0, r.text.size()) == r.text
                : key.size() >= r.text.size() && key.substr(key.size() - r.text.size()) == r.text;
        if (hit) {
            return r.role;
        }
    }
    return Role::kPlain;
}

bool is_base64(Role role) {
    return role == Role::kCsv || role == Role::kCaCert || role == Role::kClientCert ||
           role == Role::kClientKey || role == Role::kScript;
}

// Keys that look like a slot of a repeated group but are not read: slot 1 of
// the custom fields and port 3 of the serial ports have keys of their own.
struct SlotTrap {
    std::string_view written;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    std::string_view read;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    std::string_view why;
};

constexpr SlotTrap kSlotTraps[] = {
    {"QUORBIX_CUSTOM1_EN", "QUORBIX_CUSTOM_EN", "slot 1 of the custom fields has no number"},
    {"QUORBIX_CUSTOM1_VALUE", "QUORBIX_CUSTOM_VALUE", "slot 1 of the custom fields has no number"},
    {"QUORBIX_PORT3_BAUDRATE", "QUORBIX_UPORT_BAUDRATE", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_DATABITS", "QUORBIX_UPORT_DATABITS", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_PARITY", "QUORBIX_UPORT_PARITY", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_STOPBITS", "QUORBIX_UPORT_STOPBITS", "serial port 3 is the \"UPORT\""},
};

struct FieldInfo {
    std::string key;
    Scanner scanner = Scanner::kText;
    Role role = Role::kPlain;
};

// Every field of the record in record order, with its key and role.
const std::vector<FieldInfo>& field_table() {
    static const std::vector<FieldInfo> table = [] {
        std::vector<FieldInfo> t;
        GatewaySettings names;
        settings_for_each_field(names, [&t](Scanner scanner, const char* key, auto&) {
            t.push_back(FieldInfo{key, scanner, role_of(key)});
        });
        return t;
    }();
    return table;
}

// Keys longer than this get no suggestion.
constexpr std::size_t kSuggestedKeyLength = 48;

// Edit distance with adjacent swaps between two upper-case keys of at most
// kSuggestedKeyLength bytes; stops early beyond `limit` (the result is then
// limit + 1).
std::size_t key_distance(std::string_view x, std::string_view y, std::size_t limit) {
    if ((x.size() > y.size() ? x.size() - y.size() : y.size() - x.size()) > limit) {
        return limit + 1;
    }
    std::array<std::size_t, kSuggestedKeyLength + 1> prev2{};
    std::array<std::size_t, kSuggestedKeyLength + 1> prev{};
    std::array<std::size_t, kSuggestedKeyLength + 1> cur{};
    for (std::size_t j = 0; j <= y.size(); ++j) {
        prev[j] = j;
    }
    for (std::size_t i = 1; i <= x.size(); ++i) {
        cur[0] = i;
        std::size_t row_min = cur[0];
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                cur[j] = std::min(cur[j], prev2[j - 2] + 1);
            }
            row_min = std::min(row_min, cur[j]);
        }
        if (row_min > limit) {
            return limit + 1;
        }
        prev2 = prev;
        prev = cur;
    }
    return std::min(prev[y.size()], limit + 1);
}

// The record's key closest to `key`, or the empty text when none is close.
std::string nearest_key(std::string_view key) {
    if (key.size() > kSuggestedKeyLength) {
        return {};
    }
    const std::string prefixed = "QUORBIX_" + std::string(key);
    if (settings_key_position(prefixed) >= 0) {
        return upper(prefixed);
    }
    const std::size_t limit = key.size() >= 12 ? 3 : 1;
    const std::string wanted = upper(key);
    std::size_t best = limit + 1;
    std::string found;
    for (const FieldInfo& f : field_table()) {
        const std::size_t d = key_distance(wanted, f.key, limit);
        if (d < best) {
            best = d;
            found = f.key;
        }
    }
    return found;
}

// ---------------------------------------------------------------- Base64

// What the lenient decoder will make of a Base64 value.
struct Base64Shape {
    std::size_t symbols = 0;
    std::size_t invalid = 0;  // bytes neither symbol, blank nor padding
    std::size_t first_invalid = std::string_view::npos;
    bool underscore = false;
    std::size_t first_padding = std::string_view::npos;
    std::size_t symbol_after_padding = std::string_view::npos;
};

// What each byte is to the decoder, as far as the checks care.
enum class Byte : std::uint8_t { kOther, kSymbol, kPadding, kBlank };

constexpr std::array<Byte, 256> make_byte_classes() {
    std::array<Byte, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) {
        const bool symbol = kBase64Symbols[c] != kBase64NoSymbol;
        table[c] = symbol                    ? Byte::kSymbol
                   : c == '='                ? Byte::kPadding
                   : (c == ' ' || c == '\t') ? Byte::kBlank
                                             : Byte::kOther;
    }
    return table;
}

constexpr std::array<Byte, 256> kByteClasses = make_byte_classes();

Base64Shape base64_shape(std::string_view text) {
    Base64Shape shape;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Byte b = kByteClasses[static_cast<unsigned char>(text[i])];
        if (b == Byte::kSymbol) {
            // Runs of symbols are the common case: count them in one go.
            std::size_t run = i + 1;
            while (run < n &&
                   kByteClasses[static_cast<unsigned char>(text[run])] == Byte::kSymbol) {
                ++run;
            }
            shape.symbols += run - i;
            if (shape.first_padding != std::string_view::npos &&
                shape.symbol_after_padding == std::string_view::npos) {
                shape.symbol_after_padding = i;
            }
            i = run - 1;
        } else if (b == Byte::kPadding) {
            if (shape.first_padding == std::string_view::npos) {
                shape.first_padding = i;
            }
        } else if (b == Byte::kOther) {
            ++shape.invalid;
            shape.underscore = shape.underscore || text[i] == '_';
            if (shape.first_invalid == std::string_view::npos) {
                shape.first_invalid = i;
            }
        }
    }
    return shape;
}

// True when the decimal digits stand for more than 2^32 - 1.
bool beyond_uint32(std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string_view::npos) {
        return false;
    }
    const std::string_view significant = digits.substr(first);
    constexpr std::string_view kMax = "4294967295";
    return significant.size() > kMax.size() ||
           (significant.size() == kMax.size() && significant > kMax);
}

std::string decode(const std::string& text) {
    DecodedBytes d = base64_decode_dup(text.c_str());
    if (!d.data) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(d.data.get()), d.size);
}

// ---------------------------------------------------------------- the check

// Where a field's value begins on its line.
struct Spot {
    std::uint64_t line = 0;
    std::size_t column = 0;
};

class Checker {
  public:
    Checker(std::string_view file, SettingsStream* stream, const GatewaySettings& s,
            const CheckOptions& options)
        : file_(file), stream_(stream), s_(s), options_(options) {
        const auto& fields = field_table();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            winner_[i] = settings_key_line(stream_, fields[i].key.c_str());
        }
        // Two symbols make the first decoded byte: fewer stage no file.
        csv_present_ = base64_shape(s_.csv_data).symbols >= 2;
    }

    FileCheck run() {
        SettingsLineCursor cursor;
        SettingsLineInfo line;
        while (settings_next_line(stream_, cursor, &line)) {
            check_line(line);
        }
        check_files_and_gates();
        check_token();
        check_port();
        fill_record();
        finish();
        return std::move(result_);
    }

  private:
    void add(Check check, Spot spot, std::string message, std::string fix) {
        const std::size_t n = ++counts_[static_cast<std::size_t>(check)];
        const CheckInfo& info = check_info(check);
        ++result_.by_severity[static_cast<std::size_t>(info.severity)];
        if (n > kShownPerCode) {
            return;
        }
        result_.findings.push_back(Finding{info.code, info.severity, spot.line, spot.column,
                                           std::move(message), sentence(std::move(fix))});
    }

    [[nodiscard]] std::string_view line_bytes(const SettingsLineInfo& line) const {
        return file_.substr(static_cast<std::size_t>(line.offset),
                            static_cast<std::size_t>(line.length));
    }

    // The line without its line feed.
    static std::string_view content_of(std::string_view bytes) {
        if (!bytes.empty() && bytes.back() == '\n') {
            bytes.remove_suffix(1);
        }
        return bytes;
    }

    // Where the value of a field's line begins: after the "=", and after an
    // opening double quote.
    [[nodiscard]] Spot value_spot(std::size_t field) const {
        const SettingsLineInfo& line = winner_[field];
        if (line.number == 0) {
            return {};
        }
        const std::size_t eq = field_table()[field].key.size();
        const std::string_view bytes = line_bytes(line);
        const bool quoted = bytes.size() > eq + 1 && bytes[eq + 1] == '"';
        return {line.number, eq + (quoted ? 3 : 2)};
    }

    // The start of a sentence about a stage that an earlier gate keeps this
    // run from: "once the CSV configuration is staged, " and the like, with
    // `extra` conditions of the stage's own; empty when nothing stands between.
    [[nodiscard]] std::string once(std::vector<std::string> conditions = {}) const {
        if (s_.enable == 0) {
            conditions.insert(conditions.begin(), "QUORBIX_ENABLE is not 0");
        }
        if (!csv_present_) {
            conditions.insert(conditions.begin(), "the CSV configuration is staged");
        }
        std::string text;
        for (std::size_t i = 0; i < conditions.size(); ++i) {
            text += (i == 0                       ? "once "
                     : i + 1 == conditions.size() ? " and "
                                                  : ", ") +
                    conditions[i];
        }
        return text.empty() ? text : text + ", ";
    }

    // "the launcher writes " for a sentence about the configuration.
    [[nodiscard]] std::string writes() const { return once() + "the launcher writes "; }

    static std::size_t field_index(std::string_view key) {
        return static_cast<std::size_t>(settings_key_position(key));
    }

    // ---------------------------------------------------------- lines

    void check_line(const SettingsLineInfo& line) {
        const std::string_view bytes = line_bytes(line);
        const std::string_view content = content_of(bytes);
        std::string_view body = content;
        if (!body.empty() && body.back() == '\r') {
            body.remove_suffix(1);
        }
        if (all_blank(body)) {
            return;
        }
        const SettingsLine read = settings_read_line(bytes.substr(0, kBoundedLineSize - 1));
        if (!read.has_key) {
            check_no_equals(line, content, read);
            return;
        }
        const int position = settings_key_position(read.key);
        if (position < 0) {
            check_unknown_key(line, read.key);
            return;
        }
        const auto field = static_cast<std::size_t>(position);
        const SettingsLineInfo& first = winner_[field];
        if (first.number != line.number) {
            const std::string& key = field_table()[field].key;
            add(Check::kDuplicateKey, {line.number, 1},
                key + " is set again; line " + dec(first.number) + " set it first",
                "the launcher reads " + key + " from line " + dec(first.number) +
                    " and ignores this line");
            return;
        }
        check_value(field, line, bytes);
    }

    void check_no_equals(const SettingsLineInfo& line, std::string_view content,
                         const SettingsLine& read) {
        if (content.front() == '#') {
            return;  // reads like a comment, and is ignored like one
        }
        const std::size_t eq = content.find('=');
        std::string message;
        if (eq == std::string_view::npos) {
            message = "the line has no \"=\"";
            const std::string_view word = content.substr(0, content.find_first_of(" \t:"));
            if (settings_key_position(word) >= 0) {
                message += "; write it as " + upper(word) + "=VALUE";
            }
        } else if (eq >= kBoundedLineSize - 1) {
            message = "the \"=\" at column " + dec(eq + 1) + " lies beyond the " +
                      dec(kBoundedLineSize - 1) + " bytes the launcher reads of a line";
        } else if (read.quote_cut != std::string_view::npos && read.quote_cut < eq) {
            message = "the line's text is cut at its last double quote, at column " +
                      dec(read.quote_cut + 1) + ", before its \"=\"";
        } else {
            message = std::string("the line's text ends at the ") +
                      (content[read.text_end] == '\r' ? "carriage return" : "NUL byte") +
                      " at column " + dec(read.text_end + 1) + ", before its \"=\"";
        }
        add(Check::kNoEquals, {line.number, 1}, message, "the launcher ignores this line");
    }

    void check_unknown_key(const SettingsLineInfo& line, std::string_view key) {
        const Spot spot{line.number, 1};
        const std::string ignored = "the launcher ignores this line";
        const std::string_view trimmed = trim_blanks(key);
        if (trimmed.size() != key.size() && settings_key_position(trimmed) >= 0) {
            const std::size_t blank = is_blank(key.front()) ? 0 : key.find_last_not_of(" \t") + 1;
            const std::string name = upper(trimmed);
            add(Check::kBlankInKey, {line.number, blank + 1},
                "blanks around the key: the line's key is " + shown(key) + ", not " + name,
                ignored + "; " + name + " " + reading_of(name));
            return;
        }
        if (!key.empty() && key.front() == '#') {
            const std::string_view name = trim_blanks(key.substr(1));
            if (settings_key_position(name) >= 0) {
                add(Check::kCommentLine, spot,
                    "the settings have no comments: this line's key is " + shown(key),
                    ignored + ", as it would a comment");
            }
            return;
        }
        const std::string name = upper(key);
        const auto* trap = std::find_if(std::begin(kSlotTraps), std::end(kSlotTraps),
                                        [&name](const SlotTrap& t) { return name == t.written; });
        if (trap != std::end(kSlotTraps)) {
            add(Check::kSlotKey, spot,
                std::string(trap->written) + " is never read: " + std::string(trap->why) +
                    "; its key is " + std::string(trap->read),
                ignored + "; " + std::string(trap->read) + " " + reading_of(trap->read));
            return;
        }
        const std::size_t unknown = counts_[static_cast<std::size_t>(Check::kUnknownKey)] +
                                    counts_[static_cast<std::size_t>(Check::kMisspelledKey)];
        const std::string near = unknown < kSuggestedKeys ? nearest_key(key) : std::string();
        if (!near.empty()) {
            add(Check::kMisspelledKey, spot,
                "unknown key " + shown(key) + "; did you mean " + near + "?",
                ignored + "; " + near + " " + reading_of(near));
            return;
        }
        add(Check::kUnknownKey, spot, "unknown key " + shown(key), ignored);
    }

    // How the launcher ends up reading key: from which line, or not at all.
    [[nodiscard]] std::string reading_of(std::string_view key) const {
        const SettingsLineInfo& first = winner_[field_index(key)];
        if (first.number == 0) {
            return "stays unset";
        }
        return "is read from line " + dec(first.number);
    }

    // ---------------------------------------------------------- values

    void check_value(std::size_t field, const SettingsLineInfo& line, std::string_view bytes) {
        const FieldInfo& info = field_table()[field];
        const std::string_view content = content_of(bytes);
        const bool bounded = info.scanner != Scanner::kLargeText;
        const std::string_view piece = bounded ? bytes.substr(0, kBoundedLineSize - 1) : bytes;
        const SettingsLine read = settings_read_line(piece);
        const std::string& key = info.key;

        // A carriage return or NUL inside the line ends its text.
        const std::size_t piece_content = std::min(piece.size(), content.size());
        if (read.text_end < piece_content) {
            const char c = piece[read.text_end];
            const bool crlf = c == '\r' && read.text_end + 1 == content.size();
            if (!crlf) {
                std::string_view dropped = content.substr(read.text_end + 1);
                if (!dropped.empty() && dropped.back() == '\r') {
                    dropped.remove_suffix(1);
                }
                add(Check::kLineCut, {line.number, read.text_end + 1},
                    std::string(c == '\r' ? "a carriage return" : "a NUL byte") +
                        " inside the line ends its text; " + shown(dropped) + " after it is lost",
                    "the launcher reads " + key + " as " + shown(read.value));
            }
        }

        // The bounded scanner keeps the first 16383 bytes of a line.
        bool cut_by_bound = false;
        if (bounded && content.size() > kBoundedLineSize - 1) {
            const SettingsLine whole = settings_read_line(bytes);
            if (whole.value != read.value) {
                cut_by_bound = true;
                const std::string how =
                    read.value.empty()
                        ? "quoted, and closing beyond them, it reads as empty"
                        : dec(whole.value.size() - read.value.size()) + " bytes of it are lost";
                add(Check::kBoundedCut, {line.number, kBoundedLineSize},
                    "the value is " + dec(whole.value.size()) + " bytes long, and " + key +
                        " is read through the bounded scanner, which keeps the first " +
                        dec(kBoundedLineSize - 1) + " bytes of a line; " + how,
                    "the launcher reads " + key + " as " + shown(read.value));
            }
        }
        if (!cut_by_bound) {
            check_quotes(key, line, piece, read);
        }
        if (info.scanner == Scanner::kUint) {
            check_number(field, line, piece, read);
        }
        if (is_base64(info.role)) {
            check_base64(info, line, piece, read);
        }
    }

    void check_quotes(const std::string& key, const SettingsLineInfo& line, std::string_view piece,
                      const SettingsLine& read) {
        const std::size_t eq = read.key.size();
        const std::string_view raw = piece.substr(eq + 1, read.text_end - (eq + 1));
        const bool quoted = !raw.empty() && raw.front() == '"';
        const std::size_t qc = read.quote_cut;
        const std::string reads = "the launcher reads " + key + " as " + shown(read.value);
        if (qc == std::string_view::npos) {
            return;
        }
        if (quoted && qc == eq + 1) {
            add(Check::kUnclosedQuote, {line.number, eq + 2},
                "the opening double quote never closes, so the last double quote is the opening "
                "one and the value is cut there",
                reads);
            return;
        }
        const std::string_view dropped = piece.substr(qc + 1, read.text_end - qc - 1);
        if (!all_blank(dropped)) {
            add(Check::kTextAfterQuote, {line.number, qc + 2},
                "the text after the last double quote, " + shown(dropped) + ", is dropped", reads);
            return;
        }
        if (quoted) {
            return;
        }
        const std::string_view lead = trim_blanks(raw);
        if (lead.size() != raw.size() && !lead.empty() && lead.front() == '"' &&
            is_blank(raw.front())) {
            add(Check::kBlankBeforeQuote, {line.number, eq + 2},
                "a blank before the opening double quote: only a quote right after the \"=\" "
                "opens a quoted value",
                reads);
            return;
        }
        add(Check::kStrayQuote, {line.number, qc + 1},
            "a double quote in an unquoted value: the value is cut at the last one", reads);
    }

    void check_number(std::size_t field, const SettingsLineInfo& line, std::string_view piece,
                      const SettingsLine& read) {
        const FieldInfo& info = field_table()[field];
        const std::string_view v = read.value;
        const std::uint32_t number = parse_uint32(v);
        const auto at = static_cast<std::size_t>(v.data() - piece.data());
        const std::string reads = "the launcher reads " + info.key + " as " + dec(number);
        std::size_t i = 0;
        while (i < v.size() && (v[i] == ' ' || v[i] == '\t' || v[i] == '\v' || v[i] == '\f')) {
            ++i;
        }
        const std::size_t sign = i;
        if (i < v.size() && (v[i] == '+' || v[i] == '-')) {
            ++i;
        }
        const std::size_t digits = i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
            ++i;
        }
        const std::string_view rest = v.substr(i);
        const Spot spot_at{line.number, at + sign + 1};
        if (v.empty()) {
            return;  // reads 0, as an absent key does
        }
        if (digits == i) {
            add(Check::kNumberNoDigits, spot_at, shown(v) + " holds no decimal digits", reads);
        } else if (i - digits == 1 && v[digits] == '0' && !rest.empty() &&
                   (rest.front() == 'x' || rest.front() == 'X')) {
            add(Check::kNumberHex, spot_at,
                shown(v) + " is hexadecimal; numbers are read in decimal only", reads);
        } else if (v[sign] == '-' && number != 0) {
            add(Check::kNumberNegative, spot_at,
                shown(v) + " is negative; numbers are unsigned 32-bit and wrap around", reads);
        } else if (beyond_uint32(v.substr(digits, i - digits))) {
            add(Check::kNumberOverflow, spot_at, shown(v) + " is beyond 4294967295", reads);
        } else if (!all_blank(rest)) {
            add(Check::kNumberTrailingText, {line.number, at + i + 1},
                "text after the number's digits, " + shown(rest) + ", is ignored", reads);
        } else if (v[sign] == '+') {
            add(Check::kNumberPlus, spot_at, "a plus sign before the number", reads);
        } else if (sign != 0 || !rest.empty()) {
            add(Check::kNumberBlanks, {line.number, at + 1}, "blanks around the number", reads);
        }
        check_range(field, line, at, number);
    }

    void check_range(std::size_t field, const SettingsLineInfo& line, std::size_t at,
                     std::uint32_t n) {
        const FieldInfo& info = field_table()[field];
        const Spot spot{line.number, at + 1};
        const std::string value = dec(n);
        switch (info.role) {
            case Role::kTlsMode:
                if (n > 2) {
                    add(Check::kTlsModeRange, spot,
                        "TLS mode " + value +
                            " is none of 0 (no TLS), 1 (CA) and 2 (CA and client "
                            "certificate)",
                        once() + "the launcher tests no TLS file, and writes mqtt_ssltls=" + value +
                            " with an mqtt_cafile line and no client lines");
                }
                break;
            case Role::kQos:
                if (n > 2) {
                    add(Check::kQosRange, spot, "MQTT QoS " + value + " is none of 0, 1 and 2",
                        writes() + "mqtt_qos=" + value + " as it is");
                }
                break;
            case Role::kDatabits:
                if (n < 5 || n > 8) {
                    add(Check::kDatabitsRange, spot,
                        "serial data bits of " + value + " are outside 5 to 8",
                        writes() + value + " as it is");
                }
                break;
            case Role::kStopbits:
                if (n < 1 || n > 2) {
                    add(Check::kStopbitsRange, spot,
                        "serial stop bits of " + value + " are outside 1 to 2",
                        writes() + value + " as it is");
                }
                break;
            case Role::kGatewayEnable:
            case Role::kFlag:
                if (n > 1) {
                    add(Check::kEnableFlag, spot,
                        info.key + " is " + value + ", an enable flag other than 0 or 1",
                        info.role == Role::kGatewayEnable
                            ? "the launcher takes every value but 0 as enabled"
                            : writes() + value + " as it is");
                }
                break;
            default:
                break;
        }
    }

    void check_base64(const FieldInfo& info, const SettingsLineInfo& line, std::string_view piece,
                      const SettingsLine& read) {
        const Base64Shape shape = base64_shape(read.value);
        const auto at = static_cast<std::size_t>(read.value.data() - piece.data());
        const std::string& key = info.key;
        if (shape.invalid != 0) {
            std::string message = dec(shape.invalid) + " byte" + (shape.invalid == 1 ? "" : "s") +
                                  " outside the Base64 alphabet, the first " +
                                  shown(read.value.substr(shape.first_invalid, 1));
            if (shape.underscore) {
                message +=
                    "; \"_\" belongs to the URL-safe alphabet, which this decoder reads "
                    "only in part (\"-\" is 62, \"_\" is skipped)";
            }
            add(Check::kBase64InvalidBytes, {line.number, at + shape.first_invalid + 1}, message,
                "the launcher skips them and decodes the rest");
        }
        if (shape.symbol_after_padding != std::string_view::npos) {
            add(Check::kBase64AfterPadding, {line.number, at + shape.symbol_after_padding + 1},
                "Base64 symbols after the padding \"=\": two encoded files run together?",
                "the launcher decodes them as if the padding were not there");
        }
        if (shape.symbols % 4 == 1) {
            add(Check::kBase64Dangling, {line.number, at + read.value.size() + 1},
                "the value has " + dec(shape.symbols) +
                    " Base64 symbols, one more than a multiple of 4: the last one's 6 bits make "
                    "no byte",
                "the launcher drops it");
        }
        if (info.role != Role::kCsv && !read.value.empty() && shape.symbols < 2) {
            add(Check::kBase64Empty, {line.number, at + 1},
                key + " decodes to nothing, so no file is staged for it",
                "the launcher stages no " + std::string(staged_name(info.role)));
        }
    }

    static std::string_view staged_name(Role role) {
        switch (role) {
            case Role::kCaCert:
                return "CA certificate";
            case Role::kClientCert:
                return "client certificate";
            case Role::kClientKey:
                return "client key";
            case Role::kScript:
                return "script";
            default:
                return "CSV configuration";
        }
    }

    // ---------------------------------------------------------- gates

    void check_files_and_gates() {
        const std::size_t csv_field = field_index("QUORBIX_CSV");
        const std::size_t tls_field = field_index("QUORBIX_MQTT_TLS");
        const std::size_t enable_field = field_index("QUORBIX_ENABLE");
        ca_ = decode(s_.ca_data);
        const std::string cert = decode(s_.local_cert_data);
        const std::string key = decode(s_.local_key_data);

        for (const TlsProblem& p : check_tls_material({ca_, cert, key}, options_.now)) {
            const char* const keys[] = {"QUORBIX_CA", "QUORBIX_LOCALCERT", "QUORBIX_LOCALKEY"};
            Finding f = p.finding;
            const Spot spot = value_spot(field_index(keys[static_cast<int>(p.file)]));
            f.line = spot.line;
            f.column = spot.column;
            ++result_.by_severity[static_cast<std::size_t>(f.severity)];
            result_.findings.push_back(std::move(f));
        }

        if (!csv_present_) {
            const std::string why = winner_[csv_field].number == 0
                                        ? "QUORBIX_CSV is not set"
                                        : "QUORBIX_CSV decodes to nothing";
            add(Check::kNoCsv, value_spot(csv_field), why + ", so no CSV configuration is staged",
                refusal(kLogNoCsv, "", false));
        }
        if (s_.enable == 0) {
            add(Check::kDisabled, value_spot(enable_field),
                winner_[enable_field].number == 0 ? "QUORBIX_ENABLE is not set, so it reads 0"
                                                  : "QUORBIX_ENABLE is 0",
                (csv_present_ ? "" : "once the CSV configuration is staged, ") +
                    std::string("the launcher logs ") + log_quoted(kLogDisabled) +
                    " and exits 1, after staging the uploaded files");
        }
        const Spot tls = value_spot(tls_field);
        const std::string mode = "TLS mode " + dec(s_.mqtt_tls);
        if (s_.mqtt_tls == 1 && ca_.empty()) {
            add(Check::kTlsNoCa, tls, mode + " needs a CA certificate, and QUORBIX_CA stages none",
                refusal(kLogNoCa));
        }
        if (s_.mqtt_tls == 2 && cert.empty()) {
            add(Check::kTlsNoClientCert, tls,
                mode + " needs a client certificate, and QUORBIX_LOCALCERT stages none",
                refusal(kLogNoLocalCert));
        }
        if (s_.mqtt_tls == 2 && key.empty()) {
            add(Check::kTlsNoClientKey, tls,
                mode + " needs a client key, and QUORBIX_LOCALKEY stages none",
                refusal(kLogNoLocalKey, cert.empty() ? "the client certificate is staged" : ""));
        }
        if (s_.mqtt_tls != 0 && s_.mqtt_tls != 1 && ca_.empty()) {
            add(Check::kTlsEmptyCafile, tls, mode + " without a CA certificate",
                writes() + "an empty mqtt_cafile= line to the configuration");
        }

        // The configuration is formed whether or not this run reaches it: a
        // line it would cut is worth knowing before the gateway is enabled.
        form_config();
        Outcome& out = result_.outcome;
        GateVerdict verdict = gate_before_config(s_, csv_present_);
        if (!verdict.stops) {
            out.config_written = true;
            verdict = gate_tls(s_, !ca_.empty(), !cert.empty(), !key.empty());
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

    // What the launcher does at a gate that refuses; for the TLS gate, once
    // the earlier gates and `condition` let the run get there.
    [[nodiscard]] std::string refusal(const char* log_line, const std::string& condition = "",
                                      bool after_config = true) const {
        std::vector<std::string> conditions;
        if (!condition.empty()) {
            conditions.push_back(condition);
        }
        return (after_config ? once(conditions) : std::string()) + "the launcher logs " +
               log_quoted(log_line) +
               ", removes the map files and exits 255; the daemon is not started";
    }

    // ---------------------------------------------------------- token

    void check_token() {
        if (s_.mqtt_token_gen == 0) {
            return;
        }
        const Spot spot = value_spot(field_index("QUORBIX_MQTT_SASGEN"));
        if (s_.mqtt_password.empty()) {
            add(Check::kTokenNoPassword, spot,
                "a generated token is asked for, but QUORBIX_MQTT_PWD, its key, is empty",
                once() +
                    "the launcher does not run the token tool and writes an empty "
                    "mqtt_password= line");
            return;
        }
        if (s_.mqtt_host.empty() || s_.mqtt_client_id.empty()) {
            const char* missing = s_.mqtt_host.empty() && s_.mqtt_client_id.empty()
                                      ? "QUORBIX_MQTT_ADDR and QUORBIX_CLIENT_ID are"
                                  : s_.mqtt_host.empty() ? "QUORBIX_MQTT_ADDR is"
                                                         : "QUORBIX_CLIENT_ID is";
            add(Check::kTokenMissingPart, spot,
                std::string("a generated token is asked for, but ") + missing + " empty",
                once() + "the launcher asks the token tool for the resource " +
                    shown(s_.mqtt_host + "/devices/" + s_.mqtt_client_id));
        }
        if (token_command(s_.mqtt_host, s_.mqtt_client_id, s_.mqtt_password).empty()) {
            add(Check::kTokenCommandTooLong, spot,
                "the token command would be longer than the shell takes",
                once() +
                    "the launcher does not run the token tool and writes an empty "
                    "mqtt_password= line");
        }
    }

    void check_port() {
        if (s_.mqtt_host.empty() || (s_.mqtt_port != 0 && s_.mqtt_port <= 65535)) {
            return;
        }
        const std::size_t port_field = field_index("QUORBIX_MQTT_PORT");
        const Spot spot = winner_[port_field].number != 0
                              ? value_spot(port_field)
                              : value_spot(field_index("QUORBIX_MQTT_ADDR"));
        add(Check::kPortRange, spot,
            winner_[port_field].number == 0
                ? "a host is set, but QUORBIX_MQTT_PORT is not, so the port reads 0"
                : "MQTT port " + dec(s_.mqtt_port) + " is outside 1 to 65535",
            writes() + "mqtt_port=" + dec(s_.mqtt_port) + " as it is");
    }

    // ---------------------------------------------------------- configuration

    void form_config() {
        std::string password = s_.mqtt_password;
        if (daemon_config_uses_token(s_)) {
            if (token_command(s_.mqtt_host, s_.mqtt_client_id, s_.mqtt_password).empty()) {
                password.clear();
            } else {
                password = options_.token ? token_first_line(*options_.token)
                                          : std::string(kTokenPlaceholder);
            }
        }
        std::vector<ConfigCut> cuts;
        const std::vector<std::string> lines =
            daemon_config_lines(s_, !ca_.empty(), password, &cuts);
        for (const std::string& l : lines) {
            result_.config += l;
        }
        for (const ConfigCut& cut : cuts) {
            const std::string& text = lines[cut.line];
            const std::string name = text.substr(0, text.find('='));
            const std::size_t field = field_of(cut.text, password);
            Spot spot = value_spot(field);
            if (spot.line != 0) {
                spot.column += cut.text.size() - cut.lost;
            }
            add(Check::kConfigLineCut, spot,
                "the configuration line " + name + " keeps " + dec(text.size()) +
                    " bytes with its line feed; the last " + dec(cut.lost) +
                    " bytes of the value do not fit",
                writes() + "the line cut short, its closing quote and line feed kept");
        }
    }

    // The field whose text `text` is a view of (the password field for the
    // token's line).
    [[nodiscard]] std::size_t field_of(std::string_view text, const std::string& password) const {
        std::size_t found = field_index("QUORBIX_MQTT_PWD");
        if (text.data() == password.data()) {
            return found;
        }
        std::size_t position = 0;
        settings_for_each_field(s_, [&](Scanner, const char*, const auto& field) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
                if (field.data() == text.data()) {
                    found = position;
                }
            }
            ++position;
        });
        return found;
    }

    // ---------------------------------------------------------- record

    void fill_record() {
        std::size_t position = 0;
        settings_for_each_field(s_, [&](Scanner scanner, const char* key, const auto& field) {
            FieldReading r;
            r.key = key;
            r.scanner = scanner;
            if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
                r.value = dec(field);
                r.number = field;
            } else {
                r.value = field;
            }
            r.line = winner_[position++].number;
            result_.record.push_back(std::move(r));
        });
    }

    void finish() {
        for (const CheckInfo& info : kChecks) {
            const std::size_t n = counts_[static_cast<std::size_t>(info.check)];
            if (n > kShownPerCode) {
                const CheckInfo& more = check_info(Check::kMoreNotShown);
                result_.findings.push_back(Finding{
                    more.code, more.severity, 0, 0,
                    dec(n - kShownPerCode) + " more findings of " + info.code + " are not shown",
                    "the first " + dec(kShownPerCode) + " of them are"});
            }
        }
        std::stable_sort(result_.findings.begin(), result_.findings.end(),
                         [](const Finding& a, const Finding& b) {
                             const std::uint64_t la = a.line == 0 ? UINT64_MAX : a.line;
                             const std::uint64_t lb = b.line == 0 ? UINT64_MAX : b.line;
                             return la != lb ? la < lb : a.column < b.column;
                         });
    }

    std::string_view file_;
    SettingsStream* stream_;
    const GatewaySettings& s_;
    const CheckOptions& options_;
    std::array<SettingsLineInfo, kSettingsFieldCount> winner_{};
    std::array<std::size_t, std::size(kChecks)> counts_{};
    std::string ca_;
    bool csv_present_ = false;
    FileCheck result_;
};

}  // namespace

FileCheck check_settings(std::string bytes, const CheckOptions& options) {
    SettingsStreamPtr stream = settings_open_bytes(std::move(bytes));
    GatewaySettings s;
    settings_load_from(s, stream.get());
    Checker checker(settings_whole_bytes(stream.get()), stream.get(), s, options);
    return checker.run();
}

}  // namespace quorbix
