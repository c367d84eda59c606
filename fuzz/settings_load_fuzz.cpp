// A whole load of the record from an arbitrary settings file.
#include <string_view>
#include <type_traits>

#include "fuzz_file.h"
#include "settings/gateway_settings.h"

using namespace quorbix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto stream = fuzz::open_as_settings(data, size);
    GatewaySettings s;
    settings_load_from(s, stream.get());
    settings_close(std::move(stream));
    settings_for_each_field(s, [](Scanner scanner, const char*, auto& field) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
            QUORBIX_FUZZ_CHECK(field.find_first_of(std::string_view("\0\r\n", 3)) ==
                               std::string::npos);
            QUORBIX_FUZZ_CHECK(scanner == Scanner::kLargeText || field.size() < kBoundedLineSize);
        }
    });
    return 0;
}
