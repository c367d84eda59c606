#!/bin/sh
# Builds the Debian packages with CPack in the build directory and checks
# their control fields and file lists against what the README documents.
# usage: check_package.sh BUILD_DIR ARMHF_SYSROOT
set -eu
. "$(dirname "$0")/deb_checks.sh"
build=$1
# The checker's libssl3 must be at least the version it was built against:
# the one whose headers lie in the sysroot.
openssl=$(sed -n 's/^# *define OPENSSL_VERSION_STR "\(.*\)"$/\1/p' \
    "$2/usr/include/openssl/opensslv.h")
if [ -z "$openssl" ]; then
    echo "no OpenSSL version in $2/usr/include/openssl/opensslv.h" >&2
    exit 1
fi
cd "$build"
rm -f quorbix-launcher_*.deb quorbix-check_*.deb
cpack -G DEB >/dev/null
fail=0

# check_deb PACKAGE DESCRIPTION DEPENDS FILES: one package's fields and files
# (FILES: "MODE ./PATH" lines as dpkg-deb -c shows them).
check_deb() {
    deb=$(ls "$1"_*.deb)
    echo "package: $deb"
    expect_field "$deb" Package "$1"
    expect_field "$deb" Architecture armhf
    expect_field "$deb" Description "$2"
    expect_field "$deb" Depends "$3"
    expect_files "$deb" "$4"
}

check_deb quorbix-launcher "Start-up launcher of the quorbix Modbus-to-MQTT gateway daemon" \
    "libc6 (>= 2.34)" "drwxr-xr-x ./opt/
drwxr-xr-x ./opt/quorbix/
drwxr-xr-x ./opt/quorbix/bin/
-rwxr-xr-x ./opt/quorbix/bin/quorbix-launcher"

check_deb quorbix-check "Says what a quorbix gateway settings file will do before a device runs it" \
    "libc6 (>= 2.34), libssl3 (>= $openssl)" "drwxr-xr-x ./opt/
drwxr-xr-x ./opt/quorbix/
drwxr-xr-x ./opt/quorbix/bin/
-rwxr-xr-x ./opt/quorbix/bin/quorbix-check
drwxr-xr-x ./opt/quorbix/share/
drwxr-xr-x ./opt/quorbix/share/man/
drwxr-xr-x ./opt/quorbix/share/man/man1/
-rw-r--r-- ./opt/quorbix/share/man/man1/quorbix-check.1"
exit $fail
