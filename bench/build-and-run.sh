#!/usr/bin/env bash
# Builds one benchmark target and runs it with the arguments given: what the bench scripts share.
# Usage: bench/build-and-run.sh TARGET [ARGS...]
# Environment: KQ_BUILD_DIR (default build), KQ_JOBS (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES $TEST_PACKAGES $BENCH_PACKAGES
target=$1
shift
build="${KQ_BUILD_DIR:-build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${KQ_JOBS:-$(nproc)}" --target "$target"
exec "$build/bench/$target" "$@"
