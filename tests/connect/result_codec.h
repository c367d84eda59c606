// The wire form of a connection result, for a result formed inside the
// broker's namespace and judged by the test process.
#pragma once

#include <string>
#include <string_view>

#include "check/connect/connect.h"

namespace quorbix::test {

// Returns every field of r as length-prefixed texts in a fixed order.
std::string encode_result(const ConnectResult& r);

// Returns the result that encode_result gave bytes for.
ConnectResult decode_result(std::string_view bytes);

}  // namespace quorbix::test
