// What a person probably meant by a settings file the launcher reads
// otherwise: pure functions over the file's bytes, with no finding of their
// own. The checker turns what they see into findings and fix-its.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check/rules/value_shapes.h"

namespace quorbix {

// ---------------------------------------------------------------- encoding

enum class WideEncoding { kNone, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

// The encoding of a file saved as UTF-16 or UTF-32, told by its byte-order
// mark or, without one, by the NUL bytes between its ASCII letters.
WideEncoding wide_encoding(std::string_view file);

// "UTF-16LE" and the like; the empty text for kNone.
const char* wide_encoding_name(WideEncoding encoding);

// The UTF-8 byte-order mark.
inline constexpr std::string_view kUtf8Bom = "\xef\xbb\xbf";

// True when the file begins with the UTF-8 byte-order mark.
bool has_utf8_bom(std::string_view file);

// ---------------------------------------------------------------- keys

// A shell or comment habit before a key: "export ", "#", "//" or ";".
struct KeyPrefix {
    std::string_view prefix;  // the habit as written, blanks after it included
    std::string_view rest;    // the line's text after it
};

// The habit a line begins with, or an empty prefix when it begins with none.
KeyPrefix key_prefix(std::string_view line);

// ---------------------------------------------------------------- values

// Characters kept in a text value that were probably not meant.
enum class ValueHabit {
    kNone,
    kSingleQuotes,      // 's3cret'
    kTypographicQuote,  // “hub”, ‘x’, «x» and the like around the value
    kTrailingBlanks,    // blanks or tabs at the end of an unquoted value
    kEscapedQuote,      // \" inside the value: the backslash stays
};

struct ValueHabitSeen {
    ValueHabit habit = ValueHabit::kNone;
    std::size_t at = 0;  // offset in the value
};

// The first habit the value shows; `quoted` tells whether the line's value
// opened with a double quote.
ValueHabitSeen value_habit(std::string_view value, bool quoted);

// True when the text dropped after a closing double quote is a comment:
// blanks, then "#".
bool is_comment_after_quote(std::string_view dropped);

// ---------------------------------------------------------------- spread values

// A value that runs on over the lines after its key's line, or plain text
// where Base64 belongs.
struct SpreadValue {
    enum class Kind { kNone, kBase64, kPem, kPlainText, kQuotedText } kind = Kind::kNone;
    std::uint64_t first_line = 0;  // the first continuation line; 0 when there is none
    std::uint64_t last_line = 0;
    std::size_t end_offset = 0;  // file offset of the last continuation line's text end
    // kPem: the END line is there; kQuotedText and kPlainText: a quote that
    // opens the value closes, and the text is all there is.
    bool complete = false;
    PlainText text = PlainText::kNone;  // kPlainText: what it looks like
    // kBase64: the continuation lines' text run together; kPem and
    // kPlainText: the text from the key's line on, each line ended by a line
    // feed.
    std::string joined;
};

// The lines after the key's line (`next` is the file offset of the line
// after it, `line` its number) that carry on `value`, the key line's value
// as written after the "=" (its opening quote included, its line end not).
// `quoted` tells whether the line grammar sees a double quote open the value
// (SettingsLine::opens_quote); `base64` whether the key's value is a Base64
// file, `text_file` whether that file is text (plain_text). Plain text
// where Base64 belongs is kPlainText even on one line.
SpreadValue spread_value(std::string_view file, std::size_t next, std::uint64_t line,
                         std::string_view value, bool quoted, bool base64, bool text_file = false);

// True when text (an opening quote skipped) begins PEM armour.
bool starts_pem(std::string_view value);

// Standard Base64 with padding, on one line.
std::string base64_encode(std::string_view bytes);

// ---------------------------------------------------------------- staged contents

// What is wrong with a staged script, beyond what the decoder does.
struct ScriptShape {
    bool carriage_returns = false;  // CR before LF: "bad interpreter" on the device
    bool byte_order_mark = false;   // a UTF-8 byte-order mark before its "#!"
    bool escaped_newlines = false;  // one line holding "\n" where line feeds were meant
    bool no_interpreter = false;    // no "#!" line, and neither of the two above
};

ScriptShape script_shape(std::string_view script);

// The kind of binary data a CSV file holds ("gzip data", "NUL bytes", ...),
// told by its first bytes `head` and whether it holds a NUL byte anywhere;
// null when it looks like text.
const char* csv_binary_kind(std::string_view head, bool nul_bytes);

// True when a Base64 text uses the URL-safe alphabet ("-" and "_") and none
// of "+" and "/".
bool is_url_safe_base64(std::string_view text);

}  // namespace quorbix
