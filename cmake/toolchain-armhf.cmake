# Debian's cross compilers for the device: 32-bit ARM, hard float, glibc.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(QUORBIX_TARGET_SYSROOT /usr/arm-linux-gnueabihf)
# OpenSSL for the target comes from a sysroot of the build's own: Debian's
# armhf libssl-dev and libssl3 unpacked there by "tools/run deps test"
# (headers in usr/include and usr/include/arm-linux-gnueabihf, libraries in
# usr/lib/arm-linux-gnueabihf). Nothing of the target is installed on the
# build machine beside its own libraries.
get_filename_component(QUORBIX_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(QUORBIX_ARMHF_OPENSSL_SYSROOT "${QUORBIX_SOURCE_ROOT}/build/armhf-sysroot"
    CACHE PATH "Unpacked armhf libssl-dev and libssl3 (tools/run deps test)")
if(NOT EXISTS "${QUORBIX_ARMHF_OPENSSL_SYSROOT}/usr/include/openssl/ssl.h")
  message(FATAL_ERROR "no armhf OpenSSL in ${QUORBIX_ARMHF_OPENSSL_SYSROOT}: "
                      "run tools/run deps test first")
endif()
set(QUORBIX_ARMHF_LIBRARY_DIR "${QUORBIX_ARMHF_OPENSSL_SYSROOT}/usr/lib/arm-linux-gnueabihf")
set(CMAKE_FIND_ROOT_PATH ${QUORBIX_TARGET_SYSROOT} ${QUORBIX_ARMHF_OPENSSL_SYSROOT})
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# OpenSSL's configuration headers are the architecture's own.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    "${QUORBIX_ARMHF_OPENSSL_SYSROOT}/usr/include/arm-linux-gnueabihf")
# pkg-config must answer for the target, or its hints would lead to the host's
# libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${QUORBIX_ARMHF_LIBRARY_DIR}/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Header-only packages of no architecture (nlohmann-json) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Test programs run under qemu-user with the target's C library, and find
# libcrypto and libssl in the sysroot.
find_program(QUORBIX_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORBIX_QEMU_ARM} -L ${QUORBIX_TARGET_SYSROOT}
    -E LD_LIBRARY_PATH=${QUORBIX_ARMHF_LIBRARY_DIR})
