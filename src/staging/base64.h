// Lenient Base64 decoding of the uploaded files carried in the settings.
#pragma once

#include <cstddef>
#include <memory>

namespace quorbix {

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

}  // namespace quorbix
