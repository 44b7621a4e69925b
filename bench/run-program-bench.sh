#!/usr/bin/env bash
# Builds and runs the benchmark of the real keyquill: hotkey-to-first-character latency in both
# modes and throughput against `xdotool type --delay 0`, on a private Xvfb.
# Usage: bench/run-program-bench.sh [--use-display] [--presses N] [--runs N]
# Environment: KQ_BUILD_DIR (default build), KQ_JOBS (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES $TEST_PACKAGES
build="${KQ_BUILD_DIR:-build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${KQ_JOBS:-$(nproc)}" --target kq_bench_program
exec "$build/bench/kq_bench_program" "$@"
