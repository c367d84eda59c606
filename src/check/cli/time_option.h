// The clock --at sets for certificate dates.
#pragma once

#include <ctime>
#include <optional>
#include <string_view>

namespace quorbix {

// "YYYY-MM-DD", with "THH:MM", ":SS" and "Z" optional (UTC), or "@SECONDS";
// none for another text, a date that does not exist, or a time this build's
// time_t cannot hold.
std::optional<std::time_t> parse_time(std::string_view text);

}  // namespace quorbix
