#include "check/rules/line_checks.h"

#include <algorithm>
#include <string>

#include "check/rules/fields.h"
#include "check/rules/intent_checks.h"
#include "check/rules/key_suggestions.h"
#include "check/rules/value_checks.h"
#include "check/rules/value_intent.h"
#include "check/rules/value_shapes.h"
#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

// Unknown keys beyond this many get no suggestion (a file of millions of
// stray keys must still be checked quickly).
constexpr std::size_t kSuggestedKeys = 200;

constexpr const char kIgnored[] = "the launcher ignores this line";

// A line that reads like a comment: "#", "//" or ";" first.
bool is_comment(std::string_view text) {
    const KeyPrefix p = key_prefix(text);
    return !p.prefix.empty() && p.prefix.front() != 'e';
}

void check_no_equals(RuleContext& c, const SettingsLineInfo& line, std::string_view content,
                     const SettingsLine& read) {
    if (is_comment(content)) {
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
        const std::string what = content[read.text_end] == '\r' ? "carriage return" : "NUL byte";
        const std::string_view before = content.substr(0, read.text_end);
        if (settings_key_position(before) >= 0) {
            // A key of the record loses its value: the line is cut.
            const std::string name = upper(before);
            note_meant(c, name, line.number);
            add_finding(c, Code::kLineCut, {line.number, read.text_end + 1},
                        "a " + what + " after the key ends the line's text before its \"=\"",
                        std::string(kIgnored) + "; " + name + " " + reading_of(c, name));
            return;
        }
        message = "the line's text ends at the " + what + " at column " + dec(read.text_end + 1) +
                  ", before its \"=\"";
    }
    add_finding(c, Code::kNoEquals, {line.number, 1}, message, kIgnored);
}

// A key with blanks around it that is a key of the record once they are
// gone, or a comment holding an "="; true when it needs nothing further.
bool check_disguised_key(RuleContext& c, const SettingsLineInfo& line, std::string_view key) {
    const std::string_view trimmed = trim_blanks(key);
    if (trimmed.size() != key.size() && settings_key_position(trimmed) >= 0) {
        const std::size_t blank = is_blank(key.front()) ? 0 : key.find_last_not_of(" \t") + 1;
        const std::string name = upper(trimmed);
        note_meant(c, name, line.number);
        // The blanks after the "=" go too: "KEY = value" means "KEY=value".
        const std::string_view after = line_bytes(c, line).substr(key.size() + 1);
        const std::size_t lead = std::min(after.find_first_not_of(" \t"), after.size());
        add_finding(c, Code::kBlankInKey, {line.number, blank + 1},
                    "blanks around the key: the line's key is " + shown_key(key) + ", not " + name,
                    std::string(kIgnored) + "; " + name + " " + reading_of(c, name),
                    key_remedy(c, name,
                               "write " + std::string(trimmed) +
                                   "= with no blank around the key or the \"=\""),
                    sure_key_edit(c, name,
                                  {line.number, 1, line.number, key.size() + 2 + lead,
                                   std::string(trimmed) + "="}));
        return true;
    }
    return is_comment(key);
}

void check_unknown_key(RuleContext& c, const SettingsLineInfo& line, std::string_view key) {
    if (check_disguised_key(c, line, key)) {
        return;
    }
    const Spot spot{line.number, 1};
    if (const SlotTrap* trap = slot_trap(upper(key))) {
        const std::string read(trap->read);
        note_meant(c, read, line.number);
        add_finding(c, Code::kSlotKey, spot,
                    std::string(trap->written) + " is never read: " + std::string(trap->why) +
                        "; its key is " + read,
                    std::string(kIgnored) + "; " + read + " " + reading_of(c, read),
                    key_remedy(c, read, "write the key as " + read),
                    sure_key_edit(c, read, {line.number, 1, line.number, key.size() + 1, read}));
        return;
    }
    const std::size_t unknown = c.analysis.by_code[static_cast<std::size_t>(Code::kUnknownKey)] +
                                c.analysis.by_code[static_cast<std::size_t>(Code::kMisspelledKey)];
    std::string near = synonym_key(key);
    bool unique = true;
    if (near.empty() && unknown < kSuggestedKeys) {
        near = nearest_key(key, &unique);
    }
    if (!near.empty()) {
        note_meant(c, near, line.number);
        add_finding(
            c, Code::kMisspelledKey, spot,
            "unknown key " + shown_key(key) + "; did you mean " + near + "?",
            std::string(kIgnored) + "; " + near + " " + reading_of(c, near),
            unique ? key_remedy(c, near, "write the key as " + near) : std::string(),
            unique ? sure_key_edit(c, near, {line.number, 1, line.number, key.size() + 1, near})
                   : std::vector<Edit>());
        return;
    }
    add_finding(c, Code::kUnknownKey, spot, "unknown key " + shown_key(key), kIgnored);
}

// A carriage return or NUL inside the line ends its text.
void check_line_cut(RuleContext& c, const std::string& key, const SettingsLineInfo& line,
                    std::string_view content, std::string_view piece, const SettingsLine& read) {
    const std::size_t piece_content = std::min(piece.size(), content.size());
    if (read.text_end >= piece_content) {
        return;
    }
    const char ch = piece[read.text_end];
    if (ch == '\r' && read.text_end + 1 == content.size()) {
        return;  // a CRLF line end
    }
    std::string_view dropped = content.substr(read.text_end + 1);
    if (!dropped.empty() && dropped.back() == '\r') {
        dropped.remove_suffix(1);
    }
    add_finding(c, Code::kLineCut, {line.number, read.text_end + 1},
                std::string(ch == '\r' ? "a carriage return" : "a NUL byte") +
                    " inside the line ends its text; " + shown(dropped) + " after it is lost",
                "the launcher reads " + key + " as " + shown(read.value));
}

// The bounded scanner keeps the first 16383 bytes of a line; true when that
// changes the value.
bool check_bounded_cut(RuleContext& c, const std::string& key, const SettingsLineInfo& line,
                       std::string_view bytes, const SettingsLine& read) {
    const SettingsLine whole = settings_read_line(bytes);
    if (whole.value == read.value) {
        return false;
    }
    const std::string how =
        read.value.empty() ? "quoted, and closing beyond them, it reads as empty"
                           : dec(whole.value.size() - read.value.size()) + " bytes of it are lost";
    add_finding(c, Code::kBoundedCut, {line.number, kBoundedLineSize},
                "the value is " + dec(whole.value.size()) + " bytes long, and " + key +
                    " is read through the bounded scanner, which keeps the first " +
                    dec(kBoundedLineSize - 1) + " bytes of a line; " + how,
                "the launcher reads " + key + " as " + shown(read.value));
    return true;
}

// True when it reports something.
bool check_quotes(RuleContext& c, const std::string& key, const SettingsLineInfo& line,
                  std::string_view piece, const SettingsLine& read) {
    const std::size_t qc = read.quote_cut;
    if (qc == std::string_view::npos) {
        return false;
    }
    const std::size_t eq = read.key.size();
    const std::string_view raw = piece.substr(eq + 1, read.text_end - (eq + 1));
    const std::string reads = "the launcher reads " + key + " as " + shown(read.value);
    if (read.opens_quote && !read.quoted) {
        add_finding(c, Code::kUnclosedQuote, {line.number, eq + 2},
                    "the opening double quote never closes, so the last double quote is the "
                    "opening one and the value is cut there",
                    reads, "close the quote on this line");
        return true;
    }
    const std::string_view dropped = piece.substr(qc + 1, read.text_end - qc - 1);
    if (read.quoted && is_comment_after_quote(dropped)) {
        add_finding(c, Code::kCommentAfterQuote, {line.number, qc + 2},
                    "the comment after the closing quote, " + shown(dropped) + ", is dropped",
                    reads);
        return true;
    }
    if (!all_blank(dropped)) {
        add_finding(c, Code::kTextAfterQuote, {line.number, qc + 2},
                    "the text after the last double quote, " + shown(dropped) + ", is dropped",
                    reads);
        return true;
    }
    if (read.quoted) {
        return false;
    }
    const std::string_view lead = trim_blanks(raw);
    if (lead.size() != raw.size() && !lead.empty() && lead.front() == '"' &&
        is_blank(raw.front())) {
        add_finding(c, Code::kBlankBeforeQuote, {line.number, eq + 2},
                    "a blank before the opening double quote: only a quote right after the "
                    "\"=\" opens a quoted value",
                    reads);
        return true;
    }
    add_finding(c, Code::kStrayQuote, {line.number, qc + 1},
                "a double quote in an unquoted value: the value is cut at the last one", reads);
    return true;
}

// What the scanner of `field` reads of a line's bytes.
std::string_view scanned(std::size_t field, std::string_view bytes) {
    const bool bounded = field_table()[field].scanner != Scanner::kLargeText;
    return bounded ? bytes.substr(0, kBoundedLineSize - 1) : bytes;
}

void check_value(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                 std::string_view bytes) {
    const FieldInfo& info = field_table()[field];
    const std::string_view content = without_line_feed(bytes);
    const bool bounded = info.scanner != Scanner::kLargeText;
    const std::string_view piece = scanned(field, bytes);
    const SettingsLine read = settings_read_line(piece);
    check_line_cut(c, info.key, line, content, piece, read);
    const bool cut_by_bound = bounded && content.size() > kBoundedLineSize - 1 &&
                              check_bounded_cut(c, info.key, line, bytes, read);
    if (!cut_by_bound && check_template(c, field, line, piece, read)) {
        return;  // what the value holds beyond that is the template's
    }
    const bool quotes = !cut_by_bound && check_quotes(c, info.key, line, piece, read);
    // A value a quote empties is said by that finding alone.
    c.explained[field] = c.explained[field] || (quotes && read.value.empty());
    if (!cut_by_bound && !quotes && info.scanner != Scanner::kUint) {
        if (check_written_value(c, field, line, piece, read)) {
            return;
        }
        if (!is_base64(info.role)) {
            check_value_habit(c, info.key, line, piece, read);
        }
    }
    if (info.scanner == Scanner::kUint) {
        check_number(c, field, line, piece, read);
    }
    if (is_base64(info.role)) {
        check_base64(c, field, line, piece, read);
    }
}

// A key of the record set again: an error when the value differs, as the
// later one is lost.
void check_duplicate(RuleContext& c, std::size_t field, const SettingsLineInfo& line,
                     std::string_view value) {
    const SettingsLineInfo& first = c.key_lines[field];
    const FieldInfo& info = field_table()[field];
    const std::string_view first_value =
        settings_read_line(scanned(field, line_bytes(c, first))).value;
    const bool same = info.scanner == Scanner::kUint
                          ? parse_uint32(value) == parse_uint32(first_value)
                          : value == first_value;
    const std::string reads = "the launcher reads " + info.key + " from line " + dec(first.number) +
                              " and ignores this line";
    if (same) {
        add_finding(c, Code::kDuplicateSameValue, {line.number, 1},
                    info.key + " is set again, to the same value; line " + dec(first.number) +
                        " set it first",
                    reads, "delete this line: an edit of it would not take");
        return;
    }
    add_finding(c, Code::kDuplicateKey, {line.number, 1},
                info.key + " is set again, to " + shown(value) + "; line " + dec(first.number) +
                    " set it first, to " + shown(first_value),
                reads, "keep only the one of the two lines that is meant");
}

void check_line(RuleContext& c, const SettingsLineInfo& line) {
    if (line.number <= c.continued_through) {
        return;  // a spread value's line: said once, on its key's line
    }
    const std::string_view bytes = line_bytes(c, line);
    if (line.number == 1 && has_utf8_bom(bytes) && check_byte_order_mark(c, line, bytes)) {
        return;
    }
    const std::string_view content = without_line_feed(bytes);
    std::string_view body = content;
    if (!body.empty() && body.back() == '\r') {
        body.remove_suffix(1);
    }
    if (all_blank(body)) {
        return;
    }
    const SettingsLine read = settings_read_line(bytes.substr(0, kBoundedLineSize - 1));
    if (check_prefixed_key(c, line, body) || check_key_separator(c, line, body)) {
        return;
    }
    if (!read.has_key) {
        if (!check_ini_section(c, line, body)) {
            check_no_equals(c, line, content, read);
        }
        return;
    }
    const int position = settings_key_position(read.key);
    if (position < 0) {
        check_unknown_key(c, line, read.key);
        return;
    }
    const auto field = static_cast<std::size_t>(position);
    if (check_spread(c, field, line, body, settings_read_line(scanned(field, bytes)))) {
        return;
    }
    if (c.key_lines[field].number != line.number) {
        check_duplicate(c, field, line, settings_read_line(scanned(field, bytes)).value);
        return;
    }
    check_value(c, field, line, bytes);
}

}  // namespace

void check_lines(RuleContext& c) {
    const WideEncoding wide = wide_encoding(c.file);
    if (wide != WideEncoding::kNone) {
        check_wide_encoding(c, wide);
        return;
    }
    const std::vector<std::size_t> crs = cr_line_ends(c.file);
    if (!crs.empty()) {
        check_cr_line_ends(c, crs);
        return;
    }
    SettingsLineCursor cursor;
    SettingsLineInfo line;
    while (settings_next_line(c.stream, cursor, &line)) {
        check_line(c, line);
    }
}

}  // namespace quorbix
