#!/usr/bin/env bash
# Builds Keyquill with warnings as errors and runs every test: unit, widget (offscreen) and
# end-to-end (each end-to-end program starts its own private Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES $TEST_PACKAGES
KQ_WERROR=ON build_targets
cd build
ctest --output-on-failure --timeout 900 "$@"
