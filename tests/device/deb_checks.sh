# Shared by the package checks: one control field, and a package's file list.
# Each prints what it saw and sets fail=1 when it differs.

# expect_field DEB FIELD VALUE
expect_field() {
    value=$(dpkg-deb -f "$1" "$2")
    echo "$2: $value"
    [ "$value" = "$3" ] || { echo "FAIL: $2 is '$value', expected '$3'"; fail=1; }
}

# expect_files DEB FILES (FILES: "MODE ./PATH" lines as dpkg-deb -c shows them)
expect_files() {
    files=$(dpkg-deb -c "$1" | awk '{print $1, $6}' | LC_ALL=C sort)
    echo "files:"
    echo "$files"
    [ "$files" = "$(echo "$2" | LC_ALL=C sort)" ] || { echo "FAIL: file list differs from:"; echo "$2"; fail=1; }
}
