// quorbix-launcher: prepares and starts the gateway daemon. Arguments are
// ignored; the exit status tells the service manager what happened.
#include "launcher/launcher.h"

int main() {
    return quorbix::launcher_main();
}
