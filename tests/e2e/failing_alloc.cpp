// Linked into a test build of the launcher: operator new fails from its N-th
// call on, N taken from QUORBIX_TEST_FAILING_ALLOCATION (0 or unset: never),
// as on a device whose memory has run out. The nothrow forms go through this
// one too, as the C++ library's own do.
#include <cstdlib>
#include <new>

namespace {

unsigned long g_calls = 0;

unsigned long failing_call() {
    static const unsigned long n = [] {
        const char* text = std::getenv("QUORBIX_TEST_FAILING_ALLOCATION");
        return text != nullptr ? std::strtoul(text, nullptr, 10) : 0UL;
    }();
    return n;
}

}  // namespace

void* operator new(std::size_t size) {
    ++g_calls;
    if (failing_call() != 0 && g_calls >= failing_call()) {
        throw std::bad_alloc();
    }
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
