#!/bin/sh
# Builds the Debian package with CPack in the build directory and checks its
# control fields and file list against what the README documents.
# usage: check_package.sh BUILD_DIR
set -eu
build=$1
cd "$build"
rm -f quorbix-launcher_*.deb
cpack -G DEB >/dev/null
deb=$(ls quorbix-launcher_*.deb)
echo "package: $deb"
fail=0
expect_field() {
    value=$(dpkg-deb -f "$deb" "$1")
    echo "$1: $value"
    [ "$value" = "$2" ] || { echo "FAIL: $1 is '$value', expected '$2'"; fail=1; }
}
expect_field Package quorbix-launcher
expect_field Architecture armhf
expect_field Depends "libc6 (>= 2.34)"
files=$(dpkg-deb -c "$deb" | awk '{print $1, $6}' | LC_ALL=C sort)
echo "files:"
echo "$files"
expected="drwxr-xr-x ./opt/
drwxr-xr-x ./opt/quorbix/
drwxr-xr-x ./opt/quorbix/bin/
-rwxr-xr-x ./opt/quorbix/bin/quorbix-launcher"
[ "$files" = "$(echo "$expected" | LC_ALL=C sort)" ] || { echo "FAIL: file list differs from:"; echo "$expected"; fail=1; }
exit $fail
