#!/usr/bin/env bash
# Runs the launcher once on examples/settings (or the settings file given as
# $2) in a private mount namespace: fresh tmpfs over /tmp and /opt, stand-ins
# for the daemon and the token tool, and a shell that records its commands.
# The machine's own /tmp/quorbix and /opt/quorbix are never touched.
#   tools/demo.sh [LAUNCHER [SETTINGS]]
# Without LAUNCHER, a release launcher is built with the demo preset first
# (into build/demo).
set -euo pipefail
# shellcheck source=tools/sandbox.sh
. "$(dirname "$0")/sandbox.sh"
if [ "${1:-}" = "--inside" ]; then
    sandbox_prepare "$2" "$3"

    set +e
    /opt/demo/quorbix-launcher 2>/opt/demo/stderr
    status=$?
    set -e
    # The daemon stand-in runs in the background: give it a moment to answer.
    if [ "$status" -eq 0 ]; then
        for _ in $(seq 50); do [ -e /opt/demo/daemon ] && break; sleep 0.1; done
    fi
    echo "== exit status: $status"
    echo
    echo "== /tmp/quorbix/quorbix.log"
    cat /tmp/quorbix/quorbix.log 2>/dev/null || echo "(none)"
    echo
    echo "== files under /tmp/quorbix (mode, size, path)"
    find /tmp/quorbix -type f -printf '%m %6s %p\n' | sort -k3
    echo
    echo "== commands given to the shell"
    cat /opt/demo/commands
    echo
    echo "== stand-ins"
    cat /opt/demo/token-tool /opt/demo/daemon 2>/dev/null || echo "(neither was run)"
    echo
    echo "== /tmp/quorbix/config"
    cat /tmp/quorbix/config 2>/dev/null || echo "(none)"
    if [ -s /opt/demo/stderr ]; then
        echo
        echo "== what the shell utilities said on standard error"
        cat /opt/demo/stderr
    fi
    exit 0
fi

root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${1:-}" ]; then
    (cd "$root" && cmake --preset demo >/dev/null &&
        cmake --build --preset demo --target quorbix-launcher >/dev/null)
    set -- "$root/build/demo/src/quorbix-launcher" "${@:2}"
fi
launcher=$(realpath "$1")
settings=$(realpath "${2:-$root/examples/settings}")
sandbox_enter "$0" --inside "$launcher" "$settings"
