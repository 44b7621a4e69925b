#!/usr/bin/env bash
# Builds and runs the typing benchmark: Keyquill's typer against `xdotool type --delay 0` on a
# private Xvfb, exactness with characters the keymap lacks, and hotkey-to-character latency.
# Usage: bench/run-typing-bench.sh [--use-display] [--repeats N] [--presses N]
# Environment: KQ_BUILD_DIR (default build), KQ_JOBS (default: all cores).
# On a busy machine run it as `nice -n 19 bench/run-typing-bench.sh`; the numbers then say so.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES $TEST_PACKAGES
build="${KQ_BUILD_DIR:-build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${KQ_JOBS:-$(nproc)}" --target kq_bench_typing
exec "$build/bench/kq_bench_typing" "$@"
