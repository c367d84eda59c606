// Lenient Base64 decoding of the uploaded files carried in the settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace quorbix {

// A byte's value as a Base64 symbol, or kBase64NoSymbol: "+" and "-" both
// stand for 62 and "/" alone for 63; "_", "=" and every other byte are no
// symbol and are skipped.
inline constexpr std::uint8_t kBase64NoSymbol = 64;

constexpr std::array<std::uint8_t, 256> make_base64_symbols() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = kBase64NoSymbol;
    }
    for (std::uint8_t i = 0; i < 26; ++i) {
        table[std::size_t{'A'} + i] = i;
        table[std::size_t{'a'} + i] = static_cast<std::uint8_t>(26 + i);
    }
    for (std::uint8_t i = 0; i < 10; ++i) {
        table[std::size_t{'0'} + i] = static_cast<std::uint8_t>(52 + i);
    }
    table['+'] = 62;
    table['-'] = 62;
    table['/'] = 63;
    return table;
}

inline constexpr std::array<std::uint8_t, 256> kBase64Symbols = make_base64_symbols();

// The decoder's state between chunks of one text: the symbols accepted so
// far (modulo 4 is what matters) and the value of the last one.
struct Base64Decoder {
    unsigned count = 0;
    unsigned previous = 0;
};

// Room that base64_decode_chunk needs for a chunk of n input bytes.
constexpr std::size_t base64_chunk_bound(std::size_t n) {
    return n / 4 * 3 + 3;
}

// Decodes n bytes of text (NUL bytes are skipped like any other non-symbol),
// continuing the state in d, into out, and returns the number of bytes
// written; out must hold base64_chunk_bound(n) bytes. Decoding a text in
// chunks gives exactly the bytes of decoding it whole.
std::size_t base64_decode_chunk(Base64Decoder& d, const char* text, std::size_t n,
                                unsigned char* out);

// Decodes the NUL-terminated text into out and returns the number of bytes
// written: never an error, bytes that are not symbols are skipped, no padding
// is needed; out must hold three quarters of the text's length, rounded down.
std::size_t base64_decode(const char* text, unsigned char* out);

// A decoded buffer: `size` bytes followed by one NUL byte.
struct DecodedBytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

// Decodes text into a new buffer of the text's length plus one byte, with a
// NUL after the decoded bytes; data is null when text is null or the buffer
// cannot be allocated.
DecodedBytes base64_decode_dup(const char* text);

// What the decoder will make of a Base64 text: its symbols, the bytes it
// skips and where padding and the symbols after it stand (npos: none).
struct Base64Shape {
    std::size_t symbols = 0;
    std::size_t invalid = 0;  // bytes neither symbol, blank nor padding
    std::size_t first_invalid = std::string_view::npos;
    bool underscore = false;  // one of the invalid bytes is "_"
    std::size_t first_padding = std::string_view::npos;
    std::size_t symbol_after_padding = std::string_view::npos;
};

// The shape of text as the decoder reads it.
Base64Shape base64_shape(std::string_view text);

// Whether decoding text gives at least one byte, and so stages a file: two
// symbols make the first decoded byte.
constexpr bool base64_stages_file(const Base64Shape& shape) {
    return shape.symbols >= 2;
}

// Whether text stages a file, as above.
bool base64_stages_file(std::string_view text);

}  // namespace quorbix
