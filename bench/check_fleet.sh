#!/usr/bin/env bash
# The checker over a fleet of typical settings files: its wall time with
# -j 1 and -j 2, its peak memory in each format, and the time to its first
# line of output. Numbers only, the median of RUNS runs each; the goals are
# judged by a person, not by a test.
#   bench/check_fleet.sh [CHECKER]
# Without CHECKER, the release build's (build/release/src/quorbix-check),
# built when missing. Environment: FILES (default 10000), RUNS (default 5).
# The fleet is made in a temporary folder and removed at the end: each file
# is examples/settings with its own client id and a CSV of about 6 KB, about
# 8 KB in all, as a gateway with a few hundred registers has.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files=${FILES:-10000}
runs=${RUNS:-5}

checker=${1:-}
if [ -z "$checker" ]; then
    checker=$root/build/release/src/quorbix-check
    if [ ! -x "$checker" ]; then
        cmake --preset release >/dev/null
        cmake --build --preset release --target quorbix-check >/dev/null
    fi
fi
checker=$(realpath "$checker")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$root/examples/settings" "$work/fleet" "$files" <<'EOF'
import base64, os, re, sys
example, fleet, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
text = open(example, encoding="utf-8").read()
rows = ["# slave,function,address,count,type,name"]
rows += [f"1,3,{40000 + i},2,float,boiler_temp_{i}" for i in range(1, 145)]
csv = base64.b64encode(("\n".join(rows) + "\n").encode()).decode()
text = re.sub(r'^QUORBIX_CSV=.*$', f'QUORBIX_CSV="{csv}"', text, flags=re.M)
for i in range(count):
    folder = os.path.join(fleet, f"site-{i // 100:03d}")
    os.makedirs(folder, exist_ok=True)
    body = re.sub(r'^QUORBIX_CLIENT_ID=.*$', f'QUORBIX_CLIENT_ID="gateway-{i:05d}"', text,
                  flags=re.M)
    with open(os.path.join(folder, f"gw-{i:05d}"), "w", encoding="utf-8") as f:
        f.write(body)
EOF
bytes=$(find "$work/fleet" -type f -printf "%s\n" | awk "{ s += \$1 } END { print s }")
echo "fleet: $files files, $((bytes / files)) bytes each on average"

# The median of the numbers on standard input.
median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Wall seconds and peak resident kilobytes of one run: "SECONDS KB".
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$checker" "$@" "$work/fleet" >/dev/null 2>&1 || true
    cat "$work/time"
}

# Seconds from the start to the first line of output.
first_line() {
    python3 - "$checker" "$@" "$work/fleet" <<'EOF'
import subprocess, sys, time
start = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
p.stdout.readline()
print(f"{time.monotonic() - start:.3f}")
p.stdout.read()
p.wait()
EOF
}

for jobs in 1 2; do
    for format in human gcc json sarif; do
        for ((i = 0; i < runs; i++)); do measure -j "$jobs" --format="$format"; done >"$work/runs"
        wall=$(cut -d' ' -f1 <"$work/runs" | median)
        rss=$(cut -d' ' -f2 <"$work/runs" | median)
        printf '%-6s -j %s  wall %6.2f s  peak RSS %6.1f MB\n' "$format" "$jobs" "$wall" \
            "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
    done
done
for jobs in 1 2; do
    for ((i = 0; i < runs; i++)); do first_line -j "$jobs"; done >"$work/runs"
    printf 'first line, human -j %s: %.3f s\n' "$jobs" "$(median <"$work/runs")"
done
