// The checker's device binary links libstdc++ statically. Its default
// terminate handler names the type of an uncaught exception through the C++
// demangler, which is some 29 KiB of the binary; defined here, libstdc++'s
// demangler stays out of the link, and the handler names the type as it is
// mangled. Only the device build compiles this file (src/check/cli).
#include <cstddef>

// Demangles nothing: returns null with *status -2, "not a valid mangled
// name", so that a caller shows the name as it is.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" char* __cxa_demangle(const char* /*mangled*/, char* /*buffer*/, std::size_t* /*length*/,
                                int* status) {
    if (status != nullptr) {
        *status = -2;
    }
    return nullptr;
}
