// Heap accounting for the benchmarks: the bytes the process holds through
// operator new, and their peak since a reset.
#pragma once

#include <cstddef>

namespace quorbix::bench {

// Starts a new peak at the bytes held now, and returns them.
std::size_t heap_peak_reset();

// The most bytes held at once since the last reset.
std::size_t heap_peak();

}  // namespace quorbix::bench
