#!/bin/sh
# Checks a shipped binary against its budget: the shared libraries it needs
# (NEEDED) must all be in the allowed list, and its size must not exceed the
# given number of bytes (0: no limit). Prints both either way.
# usage: check_binary.sh READELF BINARY MAX_BYTES ALLOWED_LIB...
set -eu
readelf=$1 binary=$2 max=$3
shift 3
size=$(wc -c <"$binary")
needed=$("$readelf" -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "binary: $binary"
echo "size:   $size bytes ($(( (size + 1023) / 1024 )) KiB), budget: $max"
echo "NEEDED: $(echo $needed)"
status=0
for lib in $needed; do
    ok=no
    for allowed in "$@"; do
        [ "$lib" = "$allowed" ] && ok=yes
    done
    if [ $ok = no ]; then
        echo "FAIL: needs $lib, which is not in: $*"
        status=1
    fi
done
if [ "$max" -gt 0 ] && [ "$size" -gt "$max" ]; then
    echo "FAIL: $size bytes is over the budget of $max"
    status=1
fi
if "$readelf" -S "$binary" | grep -q '\.symtab'; then
    [ "$max" -gt 0 ] && { echo "FAIL: not stripped"; status=1; }
fi
exit $status
