#!/usr/bin/env bash
# Builds Keyquill and starts it. On a machine without a display it runs a short scripted demo on
# a private Xvfb instead: loads a sample list, types it into a window, prints what arrived and
# saves screenshots of the windows.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES libgtest-dev
if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--demo" ]; then
    build_targets keyquill
    exec build/src/keyquill
fi
ensure_packages $DEMO_PACKAGES xdotool
build_targets keyquill kq_e2e_target
exec scripts/demo.sh
