#include "check/tls_material.h"

namespace quorbix {

std::vector<TlsProblem> check_tls_material(const TlsMaterial& m, std::time_t now) {
    static_cast<void>(m);
    static_cast<void>(now);
    return {};
}

}  // namespace quorbix
