#!/bin/sh
# Builds the host's Debian package of the checker with CPack in the build
# directory and holds its Depends against the libraries its binary really
# needs: every NEEDED library's package is named, and every package named
# provides a NEEDED library. Also checks its other fields and its file list.
# usage: check_host_package.sh BUILD_DIR READELF
set -eu
. "$(dirname "$0")/deb_checks.sh"
build=$1 readelf=$2
cd "$build"
rm -f quorbix-check_*.deb
cpack -G DEB >/dev/null
fail=0
arch=$(dpkg --print-architecture)
deb=$(ls quorbix-check_*_"$arch".deb)
echo "package: $deb"
expect_field "$deb" Package quorbix-check
expect_field "$deb" Architecture "$arch"
expect_field "$deb" Description "Says what a quorbix gateway settings file will do before a device runs it"
expect_files "$deb" "drwxr-xr-x ./usr/
drwxr-xr-x ./usr/bin/
-rwxr-xr-x ./usr/bin/quorbix-check
drwxr-xr-x ./usr/share/
drwxr-xr-x ./usr/share/man/
drwxr-xr-x ./usr/share/man/man1/
-rw-r--r-- ./usr/share/man/man1/quorbix-check.1"

# The package names of Depends, alternatives included, without versions.
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g' | sed '/^$/d' | sort -u)
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

unpacked=$build/host-package-check
rm -rf "$unpacked"
dpkg-deb -x "$deb" "$unpacked"
binary=$unpacked/usr/bin/quorbix-check
needed=$("$readelf" -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "FAIL: no NEEDED library found in $binary"; fail=1; }
owners=""
for lib in $needed; do
    path=$(ldd "$binary" | awk -v lib="$lib" '$1 == lib && $2 == "=>" {print $3}')
    # dpkg knows a library by the path its package installs; with a merged
    # /usr that may be the /lib or the /usr/lib spelling.
    owner=""
    for p in "$path" "$(readlink -f "$path" 2>/dev/null || true)" "/usr$path" "${path#/usr}"; do
        [ -n "$p" ] && owner=$(dpkg -S "$p" 2>/dev/null | head -n 1 | cut -d: -f1) && [ -n "$owner" ] && break
    done
    echo "NEEDED $lib: ${path:-not found} from package ${owner:-none}"
    if [ -z "$owner" ]; then
        echo "FAIL: no installed package provides $lib"
        fail=1
    elif ! echo "$depends" | grep -qx "$owner"; then
        echo "FAIL: Depends lacks $owner, which provides $lib"
        fail=1
    fi
    owners="$owners $owner"
done
for dep in $depends; do
    echo " $owners " | grep -q " $dep " || { echo "FAIL: Depends names $dep, which provides no NEEDED library"; fail=1; }
done
rm -rf "$unpacked"
exit $fail
