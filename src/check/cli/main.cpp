// quorbix-check: tells what a settings file will do before a device runs it.
#include "check/cli/driver.h"

int main(int argc, char** argv) {
    return quorbix::check_main(argc, argv);
}
