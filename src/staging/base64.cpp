#include "staging/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

namespace quorbix {

namespace {

constexpr std::uint8_t kNoSymbol = 64;

// "+" and "-" both stand for 62 and "/" alone for 63; "_", "=" and every
// other byte are no symbol.
constexpr std::array<std::uint8_t, 256> make_symbol_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = kNoSymbol;
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

constexpr std::array<std::uint8_t, 256> kSymbols = make_symbol_table();

}  // namespace

std::size_t base64_decode_chunk(Base64Decoder& d, const char* text, std::size_t n,
                                unsigned char* out) {
    std::size_t written = 0;
    unsigned count = d.count;
    unsigned previous = d.previous;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned v = kSymbols[static_cast<unsigned char>(text[i])];
        if (v == kNoSymbol) {
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

}  // namespace quorbix
