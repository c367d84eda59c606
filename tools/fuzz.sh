#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays the seed corpora, then fuzzes each
# target for SECONDS (default 60). New inputs go to build/fuzz/found/, not
# into the repository. Exits non-zero on any crash or sanitizer report.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORBIX_SANITIZE=ON -DQUORBIX_BUILD_FUZZ=ON \
    -DQUORBIX_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_scanner fuzz_settings_load fuzz_base64 fuzz_daemon_config

declare -A max_len=([scanner]=70000 [settings_load]=70000 [base64]=4096 [daemon_config]=70000)
status=0
summary=()
for target in scanner settings_load base64 daemon_config; do
    exe=$build/fuzz/fuzz_$target
    found=$build/found/$target
    mkdir -p "$found"
    echo "== $target: replaying the seed corpus"
    "$exe" -runs=0 "$root/fuzz/corpus/$target" 2>&1 | tail -1
    echo "== $target: fuzzing for $seconds s"
    log=$build/$target.log
    set +e
    "$exe" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
        -dict="$root/fuzz/settings.dict" -print_final_stats=1 -artifact_prefix="$build/$target-" \
        "$found" "$root/fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    secs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    summary+=("$target: ${runs:-?} executions in $seconds s (${secs:-?}/s), exit $rc")
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "!! $target failed; the end of its log:"
        tail -40 "$log"
    fi
done
echo
printf '%s\n' "${summary[@]}"
exit $status
