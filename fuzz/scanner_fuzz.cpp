// The three lookups on arbitrary file contents and an arbitrary key: the
// input's first line is the key, the rest the settings file.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_file.h"

using namespace quorbix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = input.find('\n');
    std::string key(input.substr(0, nl == std::string_view::npos ? input.size() : nl));
    key = key.substr(0, key.find('\0'));  // keys are C strings
    const std::string_view file =
        nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);

    auto stream =
        fuzz::open_as_settings(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    QUORBIX_FUZZ_CHECK(stream != nullptr);
    const std::string text = settings_get_text(stream.get(), key.c_str());
    const std::uint32_t number = settings_get_uint(stream.get(), key.c_str());
    const std::string large = settings_get_large_text(stream.get(), key.c_str());

    for (const std::string* v : {&text, &large}) {
        QUORBIX_FUZZ_CHECK(v->find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos);
        QUORBIX_FUZZ_CHECK(v->empty() || file.find(*v) != std::string_view::npos);
    }
    QUORBIX_FUZZ_CHECK(number == parse_uint32(text));
    QUORBIX_FUZZ_CHECK(text.size() < kBoundedLineSize);

    // When every line's text (its line feed aside) fits the bounded buffer's
    // one read, the bounded scanner sees whole lines and both scanners agree.
    std::size_t longest = 0;
    std::size_t start = 0;
    while (start <= file.size()) {
        std::size_t end = file.find('\n', start);
        std::size_t len = (end == std::string_view::npos ? file.size() : end) - start;
        longest = std::max(longest, len);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (longest <= kBoundedLineSize - 1) {
        QUORBIX_FUZZ_CHECK(text == large);
    }
    settings_close(std::move(stream));
    return 0;
}
