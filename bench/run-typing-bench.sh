#!/usr/bin/env bash
# Builds and runs the typing benchmark: Keyquill's typer against `xdotool type --delay 0` on a
# private Xvfb, exactness with characters the keymap lacks, and hotkey-to-character latency.
# Usage: bench/run-typing-bench.sh [--use-display] [--repeats N] [--presses N]
# On a busy machine run it as `nice -n 19 bench/run-typing-bench.sh`; the numbers then say so.
exec "$(dirname "$0")/build-and-run.sh" kq_bench_typing "$@"
