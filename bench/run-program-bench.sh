#!/usr/bin/env bash
# Builds and runs the benchmark of the real keyquill: hotkey-to-first-character latency in both
# modes and throughput against `xdotool type --delay 0`, on a private Xvfb.
# Usage: bench/run-program-bench.sh [--use-display] [--presses N] [--runs N] [--keyquill PROGRAM]
exec "$(dirname "$0")/build-and-run.sh" kq_bench_program "$@"
