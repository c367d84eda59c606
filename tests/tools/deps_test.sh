#!/usr/bin/env bash
# The install step alone ("tools/run deps demo"), against stand-ins for
# apt-get, dpkg and id on the search path: nothing is installed or fetched.
# The stand-in apt-get fails "update" as an out-of-step mirror does, can be
# told that one package is not in the archive, and records every call.
# usage: deps_test.sh TOOLS_RUN
set -u
run=$1
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stubs=$work/bin
mkdir -p "$stubs"
# dpkg: -s answers from the list of installed packages; the architecture is
# the host's; anything else (--add-architecture among them) is recorded.
cat >"$stubs/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$STATE/calls"
case "$1" in
    -s) grep -qxF "$2" "$STATE/installed" ;;
    --print-architecture) echo amd64 ;;
    --print-foreign-architectures) ;;
    *) exit 0 ;;
esac
EOF
cat >"$stubs/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$STATE/calls"
for a in "$@"; do last=$a; done
case " $* " in
    *" update "*|*" update")
        echo "Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]"
        echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (360800 != 360780). Mirror sync in progress? [IP: 192.0.2.1 80]"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
        ;;
    *" install "*)
        # What the service policy answers a start while packages are installed.
        if [ -x "$POLICY_RC_D" ]; then
            "$POLICY_RC_D" mosquitto start
            echo "policy $?" >>"$STATE/calls"
        else
            echo "policy none" >>"$STATE/calls"
        fi
        for a in "$@"; do
            case "$a" in -*|install) continue ;; esac
            if [ "$a" = "$UNAVAILABLE" ]; then
                echo "E: Unable to locate package $a" >&2
                exit 100
            fi
        done
        for a in "$@"; do
            case "$a" in -*|install) continue ;; esac
            echo "$a" >>"$STATE/installed"
        done
        ;;
esac
EOF
printf '#!/bin/sh\necho 0\n' >"$stubs/id"
chmod 755 "$stubs"/*

# run_deps NAME UNAVAILABLE INSTALLED...: one run of "tools/run deps demo"
# with these packages already installed; its output goes to $work/NAME.*.
run_deps() {
    local name=$1 unavailable=$2
    shift 2
    export STATE=$work/$name
    mkdir -p "$STATE"
    printf '%s\n' "$@" >"$STATE/installed"
    : >"$STATE/calls"
    UNAVAILABLE=$unavailable APT_UPDATE_PAUSE=0 PATH="$stubs:$PATH" POLICY_RC_D=$STATE/policy-rc.d \
        bash "$run" deps demo >"$STATE/out" 2>"$STATE/err"
    echo $? >"$STATE/status"
}

check() {
    if ! eval "$2"; then
        echo "FAIL: $1"
        fail=1
    fi
}

demo_packages="build-essential cmake ninja-build util-linux coreutils nlohmann-json3-dev libssl-dev:amd64"

# 1. The mirror fails one index three times: a warning names it, and every
# missing package is installed all the same.
run_deps mirror "" build-essential coreutils util-linux
s=$work/mirror
check "the run ends 0 (it ended $(cat $s/status))" '[ "$(cat $s/status)" = 0 ]'
check "apt-get update is tried three times" \
    '[ "$(grep -c "apt-get .*update" $s/calls)" = 3 ]'
check "the warning names the failing index" \
    'grep -q "warning: .*binary-armhf/Packages.xz (File has unexpected size" $s/err'
check "the missing packages are installed" \
    'for p in cmake ninja-build nlohmann-json3-dev libssl-dev:amd64; do grep -qxF "$p" $s/installed || exit 1; done'
check "the demo adds no foreign architecture" '! grep -q -- "--add-architecture" $s/calls'
check "the demo asks for no package of the tests" \
    '! grep -E "apt-get .*install.*(googletest|python3-jsonschema|benchmark|armhf|clang|valgrind)" $s/calls'

check "no service starts while packages are installed" \
    '! grep -qvx "policy 101" <(grep "^policy" $s/calls) && grep -q "^policy 101" $s/calls'
check "the policy put for the install is removed after it" '[ ! -e $s/policy-rc.d ]'

# 2. One package is not in the archive: the others are installed, and the
# run stops naming that one.
run_deps missing nlohmann-json3-dev build-essential coreutils util-linux
s=$work/missing
check "the run ends 1 (it ended $(cat $s/status))" '[ "$(cat $s/status)" = 1 ]'
check "the run names the package it cannot install" \
    'grep -qx "tools/run: cannot install: nlohmann-json3-dev" $s/err'
check "the packages that can be had are installed" \
    'for p in cmake ninja-build libssl-dev:amd64; do grep -qxF "$p" $s/installed || exit 1; done'

check "the policy is removed when the run stops for a missing package" '[ ! -e $s/policy-rc.d ]'

# 3. Nothing is missing: apt-get is not run at all.
# shellcheck disable=SC2086 # the list splits into its packages
run_deps complete "" $demo_packages
s=$work/complete
check "the run ends 0 (it ended $(cat $s/status))" '[ "$(cat $s/status)" = 0 ]'
check "apt-get is not run" '! grep -q "^apt-get" $s/calls'

# 4. A policy of the machine's own is there: it is used and left as it was.
s=$work/own-policy
mkdir -p "$s"
printf '#!/bin/sh\nexit 0\n' >"$s/policy-rc.d"
chmod 755 "$s/policy-rc.d"
run_deps own-policy "" build-essential coreutils util-linux
check "the run ends 0 (it ended $(cat $s/status))" '[ "$(cat $s/status)" = 0 ]'
check "the machine's policy decides" 'grep -qx "policy 0" $s/calls'
check "the machine's policy is left as it was" \
    '[ "$(cat $s/policy-rc.d)" = "$(printf "#!/bin/sh\nexit 0\n")" ]'

if [ "$fail" -ne 0 ]; then
    for s in "$work"/*/; do
        echo "== $s"
        cat "$s/calls" "$s/err"
    done
fi
exit "$fail"
