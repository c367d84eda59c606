// Heap accounting for the benchmarks: every allocation of the process goes
// through these replacements of operator new and delete.
#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_current{0};
std::atomic<std::size_t> g_peak{0};

struct Header {
    std::size_t size;
    std::size_t pad;  // keeps the payload 16-byte aligned
};

void* counted_alloc(std::size_t size) {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (h == nullptr) {
        return nullptr;
    }
    h->size = size;
    std::size_t now = g_current += size;
    std::size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return h + 1;
}

void counted_free(void* p) {
    if (p != nullptr) {
        Header* h = static_cast<Header*>(p) - 1;
        g_current -= h->size;
        std::free(h);
    }
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = counted_alloc(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    counted_free(p);
}

namespace quorbix::bench {

std::size_t heap_peak_reset() {
    const std::size_t now = g_current.load();
    g_peak = now;
    return now;
}

std::size_t heap_peak() {
    return g_peak.load();
}

}  // namespace quorbix::bench
