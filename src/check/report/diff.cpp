#include "check/report/diff.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "check/text/text.h"
#include "settings/line_grammar.h"

namespace quorbix {

namespace {

constexpr std::size_t kContext = 3;

// Where each line begins, with the file's size after the last one.
std::vector<std::size_t> line_starts(std::string_view bytes) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < bytes.size(); at += first_line_of(bytes.substr(at)).size()) {
        starts.push_back(at);
    }
    starts.push_back(bytes.size());
    return starts;
}

// An edit as bytes of the file, with the lines (0-based) it touches.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    std::string_view text;
};

// The offset of (line, column), or npos when it is not in the file.
std::size_t offset_of(const std::vector<std::size_t>& starts, std::uint64_t line,
                      std::size_t column) {
    const std::size_t lines = starts.size() - 1;
    if (line == 0 || line > lines || column == 0) {
        return std::string_view::npos;
    }
    // line <= lines, which is a size_t: the narrowing cannot lose a bit.
    const auto index = static_cast<std::size_t>(line);
    const std::size_t at = starts[index - 1] + column - 1;
    return at <= starts[index] ? at : std::string_view::npos;
}

// The edits in file order, those that overlap an earlier one or lie outside
// the file left out.
std::vector<Span> spans_of(const std::vector<std::size_t>& starts, const std::vector<Edit>& edits) {
    std::vector<Span> spans;
    for (const Edit& e : edits) {
        const std::size_t b = offset_of(starts, e.line, e.column);
        const std::size_t x = offset_of(starts, e.end_line, e.end_column);
        if (b == std::string_view::npos || x == std::string_view::npos || x < b) {
            continue;
        }
        // An edit that ends at a line's start joins that line to its own.
        spans.push_back(Span{b, x, static_cast<std::size_t>(e.line - 1),
                             static_cast<std::size_t>(e.end_line - 1), e.text});
    }
    std::stable_sort(spans.begin(), spans.end(),
                     [](const Span& a, const Span& b) { return a.begin < b.begin; });
    std::vector<Span> kept;
    std::size_t end = 0;
    std::copy_if(spans.begin(), spans.end(), std::back_inserter(kept), [&end](const Span& s) {
        const bool apart = s.begin >= end;
        end = apart ? s.end : end;
        return apart;
    });
    return kept;
}

// Bytes [from, to) of the file with the spans inside them made.
std::string edited(std::string_view bytes, std::size_t from, std::size_t to,
                   const std::vector<Span>& spans) {
    std::string out;
    std::size_t at = from;
    for (const Span& s : spans) {
        if (s.begin < from || s.end > to) {
            continue;
        }
        out.append(bytes.substr(at, s.begin - at));
        out.append(s.text);
        at = s.end;
    }
    out.append(bytes.substr(at, to - at));
    return out;
}

// Lines of a text, each with its line feed when it has one.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        lines.push_back(first_line_of(text));
        text.remove_prefix(lines.back().size());
    }
    return lines;
}

// A run of changed lines: old lines [first, last] become `lines`.
struct Block {
    std::size_t first = 0;
    std::size_t last = 0;
    std::string text;
};

void put_line(std::string& out, char mark, std::string_view line) {
    out.push_back(mark);
    out.append(line);
    if (!ends_line(line)) {
        out += "\n\\ No newline at end of file\n";
    }
}

std::string range(std::size_t start, std::size_t count) {
    return std::to_string(count == 0 ? start - 1 : start) + "," + std::to_string(count);
}

// The file's lines and the blocks of changes the edits make to them.
struct Changes {
    std::string_view bytes;
    std::vector<std::size_t> starts;
    std::vector<Block> blocks;

    [[nodiscard]] std::size_t lines() const { return starts.size() - 1; }
    [[nodiscard]] std::string_view line(std::size_t k) const {
        return bytes.substr(starts[k], starts[k + 1] - starts[k]);
    }
};

Changes changes_of(std::string_view bytes, const std::vector<Edit>& edits) {
    Changes c{bytes, line_starts(bytes), {}};
    const std::vector<Span> spans = spans_of(c.starts, edits);
    for (const Span& s : spans) {
        // Edits on the same or neighbouring lines make one block of changes.
        if (!c.blocks.empty() && s.first <= c.blocks.back().last + 1) {
            c.blocks.back().last = std::max(c.blocks.back().last, s.last);
        } else {
            c.blocks.push_back(Block{s.first, s.last, {}});
        }
    }
    for (Block& b : c.blocks) {
        b.text = edited(bytes, c.starts[b.first], c.starts[b.last + 1], spans);
    }
    return c;
}

// One hunk over blocks [i, j], with its context; *shift (new line numbers
// less old ones before it) moves on past it.
std::string hunk(const Changes& c, std::size_t i, std::size_t j, std::ptrdiff_t* shift) {
    const std::size_t from = c.blocks[i].first >= kContext ? c.blocks[i].first - kContext : 0;
    const std::size_t to = std::min(c.lines(), c.blocks[j].last + 1 + kContext);
    std::string body;
    std::size_t old_count = 0;
    std::size_t new_count = 0;
    std::size_t k = from;
    for (std::size_t b = i; b <= j; ++b) {
        for (; k < c.blocks[b].first; ++k, ++old_count, ++new_count) {
            put_line(body, ' ', c.line(k));
        }
        for (; k <= c.blocks[b].last; ++k, ++old_count) {
            put_line(body, '-', c.line(k));
        }
        for (const std::string_view l : split_lines(c.blocks[b].text)) {
            put_line(body, '+', l);
            ++new_count;
        }
    }
    for (; k < to; ++k, ++old_count, ++new_count) {
        put_line(body, ' ', c.line(k));
    }
    const auto new_start = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(from) + *shift) + 1;
    *shift += static_cast<std::ptrdiff_t>(new_count) - static_cast<std::ptrdiff_t>(old_count);
    return "@@ -" + range(from + 1, old_count) + " +" + range(new_start, new_count) + " @@\n" +
           body;
}

}  // namespace

std::string apply_edits(std::string_view bytes, const std::vector<Edit>& edits) {
    const std::vector<std::size_t> starts = line_starts(bytes);
    return edited(bytes, 0, bytes.size(), spans_of(starts, edits));
}

std::string_view patch_name(std::string_view name) {
    while (name.size() > 2 && name.substr(0, 2) == "./") {
        name.remove_prefix(std::min(name.find_first_not_of('/', 2), name.size()));
    }
    return name;
}

const char* unpatchable(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t n = std::max<std::size_t>(utf8_length(name, i), 1);
        if (name[i] == '\t' || is_control_char(name.substr(i, n))) {
            return "the name holds a control character, a tab or a line feed, which would break "
                   "the patch's header";
        }
        i += n;
    }
    const std::string_view patched = patch_name(name);
    if (!patched.empty() &&
        (patched.front() == ' ' || patched.front() == '"' || patched.back() == ' ')) {
        return "the name begins with a blank or a double quote, or ends with a blank, and patch "
               "would read another file's name";
    }
    return nullptr;
}

std::string unified_diff(std::string_view name, std::string_view bytes,
                         const std::vector<Edit>& edits) {
    const Changes c = changes_of(bytes, edits);
    std::string out;
    std::ptrdiff_t shift = 0;
    for (std::size_t i = 0; i < c.blocks.size();) {
        // Blocks whose contexts meet make one hunk.
        std::size_t j = i;
        while (j + 1 < c.blocks.size() &&
               c.blocks[j + 1].first <= c.blocks[j].last + 2 * kContext + 1) {
            ++j;
        }
        out += hunk(c, i, j, &shift);
        i = j + 1;
    }
    if (out.empty()) {
        return out;
    }
    // A tab ends each name, so that one with blanks in it reads whole.
    const std::string patched(patch_name(name));
    return "--- " + patched + "\t\n+++ " + patched + "\t\n" + out;
}

}  // namespace quorbix
