#!/usr/bin/env bash
# Builds and runs the benchmark of the real keyquill on a headless sway: hotkey-to-first-character
# latency, and throughput against wtype.
# Usage: bench/run-wayland-bench.sh [--presses N] [--runs N]
cd "$(dirname "$0")/.." && . scripts/deps.sh && ensure_sway_user
exec bench/build-and-run.sh kq_bench_wayland "$@"
