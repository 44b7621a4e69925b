#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) in build-fuzz/ and runs each for the
# given number of seconds (default 20), starting from the seed corpus in fuzz/corpus/<target>/.
# What a run finds is kept in build-fuzz/corpus/<target>/; a crash leaves its input in
# build-fuzz/ and fails the script. Usage: fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
. scripts/deps.sh
ensure_packages $FUZZ_PACKAGES
if [ ! -f build-fuzz/CMakeCache.txt ]; then
    CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz -j"$(nproc)"
status=0
for target in notation commandlist settings slotset; do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    log="build-fuzz/fuzz_$target.log"
    if ! (cd build-fuzz && ./"fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
            -print_final_stats=1 "corpus/$target" "../fuzz/corpus/$target") >"$log" 2>&1; then
        echo "fuzz_$target: FAILED (see $log)"
        grep -E "ERROR|property failed|SUMMARY|Test unit written" "$log" | head -8
        status=1
        continue
    fi
    execs=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    echo "fuzz_$target: ${seconds} s, $runs runs, $execs exec/s, corpus $(ls "$corpus" | wc -l) files"
done
exit $status
