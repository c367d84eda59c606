#include "staging/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

namespace quorbix {

namespace {

// For four symbols at a time: each byte's value already shifted to its place
// in a group's 24 bits, or kNotInGroup for a byte that is no symbol.
constexpr std::uint32_t kNotInGroup = 0x01000000;

constexpr std::array<std::uint32_t, 256> make_group_table(unsigned shift) {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) {
        table[c] = kBase64Symbols[c] == kBase64NoSymbol ? kNotInGroup
                                                        : std::uint32_t{kBase64Symbols[c]} << shift;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kGroup0 = make_group_table(18);
constexpr std::array<std::uint32_t, 256> kGroup1 = make_group_table(12);
constexpr std::array<std::uint32_t, 256> kGroup2 = make_group_table(6);
constexpr std::array<std::uint32_t, 256> kGroup3 = make_group_table(0);

}  // namespace

std::size_t base64_decode_chunk(Base64Decoder& d, const char* text, std::size_t n,
                                unsigned char* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    std::size_t written = 0;
    unsigned count = d.count;
    unsigned previous = d.previous;
    std::size_t i = 0;
    while (i < n) {
        // At a group's start, four symbols in a row make three bytes at once.
        if (count % 4 == 0) {
            while (n - i >= 4) {
                const std::uint32_t group =
                    kGroup0[in[i]] | kGroup1[in[i + 1]] | kGroup2[in[i + 2]] | kGroup3[in[i + 3]];
                if ((group & kNotInGroup) != 0) {
                    break;
                }
                out[written] = static_cast<unsigned char>(group >> 16);
                out[written + 1] = static_cast<unsigned char>(group >> 8);
                out[written + 2] = static_cast<unsigned char>(group);
                written += 3;
                i += 4;
                count += 4;
                previous = group & 63;
            }
            if (i == n) {
                break;
            }
        }
        // Otherwise one byte at a time: a byte that is no symbol is skipped.
        const unsigned v = kBase64Symbols[in[i++]];
        if (v == kBase64NoSymbol) {
            continue;
        }
        switch (count % 4) {
            case 1:
                out[written++] = static_cast<unsigned char>((previous << 2) | (v >> 4));
                break;
            case 2:
                out[written++] = static_cast<unsigned char>((previous << 4) | (v >> 2));
                break;
            case 3:
                out[written++] = static_cast<unsigned char>((previous << 6) | v);
                break;
            default:
                break;
        }
        ++count;
        previous = v;
    }
    d.count = count;
    d.previous = previous;
    return written;
}

std::size_t base64_decode(const char* text, unsigned char* out) {
    Base64Decoder d;
    return base64_decode_chunk(d, text, std::strlen(text), out);
}

DecodedBytes base64_decode_dup(const char* text) {
    DecodedBytes result;
    if (text == nullptr) {
        return result;
    }
    std::size_t length = std::strlen(text);
    result.data.reset(new (std::nothrow) unsigned char[length + 1]);
    if (!result.data) {
        return result;
    }
    result.size = base64_decode(text, result.data.get());
    result.data[result.size] = '\0';
    return result;
}

namespace {

// What each byte is to the decoder, as far as the shape cares.
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

Byte byte_class(char c) {
    return kByteClasses[static_cast<unsigned char>(c)];
}

}  // namespace

Base64Shape base64_shape(std::string_view text) {
    Base64Shape shape;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Byte b = byte_class(text[i]);
        if (b == Byte::kSymbol) {
            // Runs of symbols are the common case: count them in one go.
            std::size_t run = i + 1;
            while (run < n && byte_class(text[run]) == Byte::kSymbol) {
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

bool base64_stages_file(std::string_view text) {
    return base64_stages_file(base64_shape(text));
}

}  // namespace quorbix
