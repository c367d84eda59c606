#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays the seed corpora, then fuzzes each
# target for SECONDS (default 60). New inputs go to the scratch corpus
# build/fuzz/found/<target>, never into the repository; crash inputs to
# build/fuzz/<target>-crash-*. Exits non-zero on any crash or sanitizer report.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
targets=(scanner settings_load base64 daemon_config check)
# The product libraries get coverage counters too (fuzzer-no-link); only the
# targets link libFuzzer's own main.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORBIX_SANITIZE=ON -DQUORBIX_BUILD_FUZZ=ON \
    -DQUORBIX_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

# Inputs long enough for lines past the bounded buffer where lines matter.
declare -A max_len=([scanner]=70000 [settings_load]=70000 [base64]=4096 [daemon_config]=70000 [check]=70000)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
summary=()
for target in "${targets[@]}"; do
    exe=$build/fuzz/fuzz_$target
    found=$build/found/$target
    mkdir -p "$found"
    log=$build/$target.log
    echo "== $target: replaying the seed corpus"
    if ! "$exe" -runs=0 "$root/fuzz/corpus/$target" >"$log" 2>&1; then
        status=1
        summary+=("$target: the seed corpus fails; see $log")
        tail -40 "$log"
        continue
    fi
    dict=()
    if [ "$target" != base64 ]; then
        dict=(-dict="$root/fuzz/settings.dict")
    fi
    echo "== $target: fuzzing for $seconds s"
    set +e
    "$exe" -max_total_time="$seconds" -max_len="${max_len[$target]}" "${dict[@]}" \
        -print_final_stats=1 -artifact_prefix="$build/$target-" \
        "$found" "$root/fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    set -e
    # libFuzzer's closing lines: "Done N runs in T second(s)" and the stats.
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    units=$(find "$found" -type f | wc -l)
    summary+=("$target: ${runs:-?} executions in ${took:-?} s (${rate:-?}/s), scratch corpus $units inputs, exit $rc")
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "!! $target failed; the end of its log ($log):"
        tail -40 "$log"
    fi
done
echo
printf '%s\n' "${summary[@]}"
exit $status
