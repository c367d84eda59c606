// Prints the fuzzing dictionary: every settings key from the loader's own
// table, and the bytes that shape a settings line.
#include <cstdio>

#include "settings/gateway_settings.h"

int main() {
    quorbix::GatewaySettings s;
    quorbix::settings_for_each_field(
        s, [](quorbix::Scanner, const char* key, auto&) { std::printf("\"%s=\"\n", key); });
    std::printf("\"=\"\n\"\\\"\"\n\"\\x0d\\x0a\"\n\"\\x0a\"\n\"\\x00\"\n\"-1\"\n\"4294967296\"\n");
    return 0;
}
