#!/usr/bin/env bash
# Counts the launcher's own instructions in one whole run on a typical
# settings file, and on the same file with a 4 MiB CSV value: callgrind over
# the launcher (not the shells it runs) in the sandbox of tools/demo.sh.
#   bench/launcher_instructions.sh [LAUNCHER]
#   bench/launcher_instructions.sh --profile
# Without LAUNCHER, the device configuration is built for this host into
# build/perf (size-optimised, static libstdc++, stripped). With --profile,
# the same code is built unstripped into build/perf-profile, and the
# functions that cost most are listed after each total.
# The settings files and callgrind's output are kept in build/perf/files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/sandbox.sh
. "$root/tools/sandbox.sh"

if [ "${1:-}" = "--inside" ]; then
    sandbox_prepare "$2" "$3"
    set +e
    valgrind --tool=callgrind --trace-children=no \
        --callgrind-out-file=/opt/demo/callgrind.out \
        /opt/demo/quorbix-launcher 2>/opt/demo/valgrind
    status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        echo "launcher_instructions: the launcher ended with $status, not 0:" >&2
        cat /opt/demo/valgrind /tmp/quorbix/quorbix.log >&2 2>/dev/null || true
        exit 1
    fi
    cat /opt/demo/callgrind.out >&7
    exit 0
fi

profile=false
if [ "${1:-}" = "--profile" ]; then
    profile=true
    shift
fi
out="$root/build/perf/files"
mkdir -p "$out"

if [ -n "${1:-}" ]; then
    launcher=$(realpath "$1")
elif $profile; then
    # The device build's flags, without -s: the same code, with its names.
    cmake -S "$root" -B "$root/build/perf-profile" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DQUORBIX_BUILD_TESTS=OFF -DQUORBIX_BUILD_FUZZ=OFF \
        -DCMAKE_CXX_FLAGS="-g -ffunction-sections -fdata-sections" \
        -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc -Wl,--gc-sections" >/dev/null
    cmake --build "$root/build/perf-profile" --target quorbix-launcher >/dev/null
    launcher="$root/build/perf-profile/src/quorbix-launcher"
else
    cmake -S "$root" -B "$root/build/perf" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DQUORBIX_DEVICE=ON -DQUORBIX_BUILD_TESTS=OFF -DQUORBIX_BUILD_FUZZ=OFF >/dev/null
    cmake --build "$root/build/perf" --target quorbix-launcher >/dev/null
    launcher="$root/build/perf/src/quorbix-launcher"
fi

# A PEM file of `label` with about `size` bytes of Base64 body (made of
# digits: it need not be valid, only as long as a real one).
pem() {
    local label=$1 size=$2 body
    body=$(seq 7 7 $((size * 2)) | tr -d '\n')
    printf -- '-----BEGIN %s-----\n' "$label"
    printf '%s' "${body:0:$((size * 3 / 4))}" | base64 -w 64
    printf -- '-----END %s-----\n' "$label"
}

# The Base64 text of a CSV configuration file, `size` bytes long.
csv_base64() {
    local size=$1 text
    text=$({
        echo "# slave,function,address,count,type,name"
        seq 1 $((size / 40 + 1)) | awk '{ printf "1,3,%d,2,float,boiler_temp_%d\n", 40000 + $1, $1 }'
    } | base64 -w 0)
    printf '%s' "${text:0:$size}"
}

script_base64() {
    printf '#!/bin/sh\n# direct method %s: restart the Modbus line\necho "restarting port %s"\nkill -HUP "$(cat /var/run/quorbix.pid)"\nexit 0\n' "$1" "$1" |
        base64 -w 0
}

# A settings file as the settings writer produces it: every key of the record
# set, in record order (the key table's own order, as fuzz/settings.dict
# lists it), with values of realistic length, and a CSV of `csv_size` bytes
# of Base64.
settings_file() {
    local csv_size=$1 ca cert key
    ca=$(pem CERTIFICATE 1300 | base64 -w 0)
    cert=$(pem CERTIFICATE 1100 | base64 -w 0)
    key=$(pem "PRIVATE KEY" 1650 | base64 -w 0)
    sed -n 's/^"\(QUORBIX_[A-Z0-9_]*\)="$/\1/p' "$root/fuzz/settings.dict" | while read -r k; do
        n=${k##*[!0-9]}
        case $k in
            QUORBIX_CSV) v="\"$(csv_base64 "$csv_size")\"" ;;
            QUORBIX_CA) v="\"$ca\"" ;;
            QUORBIX_LOCALCERT) v="\"$cert\"" ;;
            QUORBIX_LOCALKEY) v="\"$key\"" ;;
            QUORBIX_ENABLE | *_EN) v=1 ;;
            QUORBIX_MQTT_ADDR) v='"hub-17.example.net"' ;;
            QUORBIX_MQTT_PORT) v=8883 ;;
            QUORBIX_MQTT_KEEPALIVE) v=60 ;;
            QUORBIX_MQTT_QOS) v=1 ;;
            QUORBIX_MQTT_RETAIN | QUORBIX_MQTT_ANONY | QUORBIX_MQTT_SASGEN) v=0 ;;
            QUORBIX_CLIENT_ID) v='"gateway-0042"' ;;
            QUORBIX_MQTT_USR) v='"hub-17.example.net/gateway-0042"' ;;
            QUORBIX_MQTT_PWD) v='"c2hhcmVkLWtleS1leGFtcGxl"' ;;
            QUORBIX_MQTT_TLS) v=2 ;;
            QUORBIX_MB_TIMEOUT) v=500 ;;
            QUORBIX_MB_POLL) v=1000 ;;
            QUORBIX_MSG_NAME*) v="\"report_$n\"" ;;
            QUORBIX_MSG_RULE*) v=1 ;;
            QUORBIX_MSG_PUB_INTVL*) v=$((300 * n)) ;;
            QUORBIX_MSG_TOPIC*) v="\"devices/gateway-0042/messages/events/report-$n\"" ;;
            QUORBIX_MSG_CONTENT*) v="\"{\"report\":$n,\"site\":\"plant-3\",\"line\":\"boiler\"}\"" ;;
            *_BAUDRATE) v=9600 ;;
            *_DATABITS) v=8 ;;
            *_PARITY) v='"none"' ;;
            *_STOPBITS) v=1 ;;
            QUORBIX_DIRECTMETHOD_TOPIC*) v="\"restart_port_$n\"" ;;
            QUORBIX_DIRECTMETHOD_RESP_OK*) v="\"{\"result\":\"ok\",\"method\":$n}\"" ;;
            QUORBIX_DIRECTMETHOD_RESP_FAIL*) v="\"{\"result\":\"failed\",\"method\":$n}\"" ;;
            QUORBIX_DIRECTMETHOD_SCRIPT*) v="\"$(script_base64 "$n")\"" ;;
            *) v="\"$(echo "${k#QUORBIX_}" | tr 'A-Z_' 'a-z-')\"" ;;
        esac
        printf '%s=%s\n' "$k" "$v"
    done
}

# Runs the launcher once on `settings` under callgrind; prints its total.
count() {
    local name=$1 settings=$2
    sandbox_enter "$0" --inside "$launcher" "$settings" 7>"$out/$name.callgrind"
    local total
    total=$(sed -n 's/^summary: //p' "$out/$name.callgrind")
    printf '%-10s %8s bytes of settings %10s instructions\n' "$name" "$(stat -c %s "$settings")" \
        "$total"
    if $profile; then
        callgrind_annotate --inclusive=yes "$out/$name.callgrind" >"$out/$name.annotated"
        grep '\[/opt/demo/quorbix-launcher\]' "$out/$name.annotated" | sed -n '1,30p'
    fi
}

settings_file 6144 >"$out/typical.settings"
settings_file $((4 << 20)) >"$out/csv-4mib.settings"
count typical "$out/typical.settings"
count csv-4mib "$out/csv-4mib.settings"
