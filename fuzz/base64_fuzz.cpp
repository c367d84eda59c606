// Base64 decoding of arbitrary texts: the output bound, and agreement with a
// plain reference decoder.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_file.h"
#include "staging/base64.h"

using namespace quorbix;

namespace {

// The decoder as plainly as it can be said: collect the symbols' values,
// then take 8 bits whenever 8 are there.
std::string reference_decode(const std::string& text) {
    std::string out;
    unsigned bits = 0;
    int nbits = 0;
    for (char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/')
            v = 63;
        if (v < 0)
            continue;
        bits = ((bits << 6) | static_cast<unsigned>(v)) & 0xFFFFu;
        nbits += 6;
        if (nbits >= 8) {
            nbits -= 8;
            out.push_back(static_cast<char>((bits >> nbits) & 0xFFu));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    const std::size_t bound = text.size() * 3 / 4;
    // Exactly the bound: a write past it is caught by the address sanitizer.
    std::unique_ptr<unsigned char[]> out(new unsigned char[bound == 0 ? 1 : bound]);
    const std::size_t n = base64_decode(text.c_str(), bound == 0 ? nullptr : out.get());
    QUORBIX_FUZZ_CHECK(n <= bound);
    // The checker's "stages a file" and the staging decoder never disagree.
    QUORBIX_FUZZ_CHECK(base64_stages_file(text) == (n > 0));

    DecodedBytes dup = base64_decode_dup(text.c_str());
    QUORBIX_FUZZ_CHECK(dup.data != nullptr);
    QUORBIX_FUZZ_CHECK(dup.size == n);
    QUORBIX_FUZZ_CHECK(dup.data[dup.size] == '\0');
    QUORBIX_FUZZ_CHECK(n == 0 || std::memcmp(dup.data.get(), out.get(), n) == 0);
    const std::string expected = reference_decode(text);
    QUORBIX_FUZZ_CHECK(expected.size() == n);
    QUORBIX_FUZZ_CHECK(n == 0 || std::memcmp(expected.data(), out.get(), n) == 0);

    // In chunks of a size the input picks, the state carried between them:
    // the same bytes, each chunk within its bound.
    const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 13;
    Base64Decoder d;
    std::string chunked;
    std::vector<unsigned char> piece(base64_chunk_bound(chunk));
    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t len = size - at < chunk ? size - at : chunk;
        const std::size_t got =
            base64_decode_chunk(d, reinterpret_cast<const char*>(data) + at, len, piece.data());
        QUORBIX_FUZZ_CHECK(got <= base64_chunk_bound(len));
        chunked.append(reinterpret_cast<const char*>(piece.data()), got);
    }
    // NUL bytes are skipped by the chunk decoder, while the text ends there.
    std::string without_nul(reinterpret_cast<const char*>(data), size);
    without_nul.erase(std::remove(without_nul.begin(), without_nul.end(), '\0'), without_nul.end());
    QUORBIX_FUZZ_CHECK(chunked == reference_decode(without_nul));
    return 0;
}
