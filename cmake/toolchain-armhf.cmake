# Debian's cross compilers for the device: 32-bit ARM, hard float, glibc.
# Test programs run under qemu-user with the target's libraries; the loader
# finds libcrypto.so.3 in /usr/lib/arm-linux-gnueabihf, on its own search path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(QUORBIX_TARGET_SYSROOT /usr/arm-linux-gnueabihf)
# Libraries beyond the C and C++ runtimes come from Debian's multiarch
# packages (libssl-dev:armhf): headers in /usr/include and
# /usr/include/arm-linux-gnueabihf, libraries in /usr/lib/arm-linux-gnueabihf,
# hence "/" as a second root. pkg-config must answer for the target too, or
# its hints would lead to the host's libraries.
set(CMAKE_FIND_ROOT_PATH ${QUORBIX_TARGET_SYSROOT} /)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(QUORBIX_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORBIX_QEMU_ARM} -L ${QUORBIX_TARGET_SYSROOT})
