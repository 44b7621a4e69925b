#!/usr/bin/env bash
# Builds and runs the soak of the real keyquill on a private Xvfb: 10,000 presses per mode.
# Usage: bench/run-soak.sh [--presses N] [--verbose]
exec "$(dirname "$0")/build-and-run.sh" kq_bench_soak "$@"
