# shellcheck shell=bash
# The launcher's surroundings, made private: sourced by tools/demo.sh and
# bench/launcher_instructions.sh. A script runs itself again through
# sandbox_enter, and that second run calls sandbox_prepare: the machine's own
# /tmp/quorbix and /opt/quorbix are never touched.

# Runs "$@" in a private mount namespace; as root of a user namespace of its
# own when not run as root.
sandbox_enter() {
    if [ "$(id -u)" -eq 0 ]; then
        unshare --mount "$@"
    else
        unshare --mount --map-root-user "$@"
    fi
}

# Inside the namespace: fresh tmpfs over /tmp and /opt, the launcher LAUNCHER
# at /opt/demo/quorbix-launcher, SETTINGS at /opt/quorbix/etc/settings,
# stand-ins for the daemon and the token tool, and a shell that records its
# commands in /opt/demo/commands.
#   sandbox_prepare LAUNCHER SETTINGS
sandbox_prepare() {
    exec 8<"$1" 9<"$2"   # still reachable once /tmp is covered
    mount --make-rprivate /
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    mount -t tmpfs -o mode=755 tmpfs /opt
    mkdir -p /opt/demo /opt/quorbix/bin /opt/quorbix/etc
    cat /proc/self/fd/8 >/opt/demo/quorbix-launcher
    cat /proc/self/fd/9 >/opt/quorbix/etc/settings
    exec 8<&- 9<&-
    chmod 755 /opt/demo/quorbix-launcher
    cp /bin/sh /opt/demo/sh
    # Every "sh -c" the launcher runs is written to /opt/demo/commands.
    printf '#!/opt/demo/sh\n[ "$1" = "-c" ] && printf "%%s\\n" "$2" >>/opt/demo/commands\nexec /opt/demo/sh "$@"\n' >/opt/demo/sh-wrapper
    chmod 755 /opt/demo/sh-wrapper
    mount --bind /opt/demo/sh-wrapper /bin/sh
    printf '#!/opt/demo/sh\necho "daemon started with: $*" >/opt/demo/daemon\n' >/opt/quorbix/bin/quorbix
    printf '#!/opt/demo/sh\necho "token tool asked with: $*" >/opt/demo/token-tool\nprintf "demo-token resource=%%s expires=1900000000\\n" "$1"\n' >/opt/quorbix/bin/create-sas
    chmod 755 /opt/quorbix/bin/quorbix /opt/quorbix/bin/create-sas
}
