#!/usr/bin/env bash
# Builds Keyquill with warnings as errors and runs every test: unit, widget (offscreen) and
# end-to-end (each end-to-end program starts its own private Xvfb, the Wayland ones a headless
# sway as well); then the unit and widget
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for a
# short while; then on Debian 13 (a root of its own, kept between runs) the build and the tests of
# its newer desktops. Arguments go to the first ctest (e.g. -R name).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages $BUILD_PACKAGES $TEST_PACKAGES $FUZZ_PACKAGES
ensure_sway_user
KQ_WERROR=ON build_targets
(cd build && ctest -j"$(nproc)" --output-on-failure --timeout 900 "$@")

echo "== unit and widget tests under ASan + UBSan (build-asan/)"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
if [ ! -f build-asan/CMakeCache.txt ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_WERROR=ON -DKQ_BUILD_E2E=OFF \
        -DKQ_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
fi
cmake --build build-asan -j"$(nproc)" --target kq_unit_tests kq_widget_tests
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest -j"$(nproc)" --output-on-failure --timeout 900)

echo "== the Wayland benchmark: keyquill against wtype on a headless sway (bench/run-wayland-bench.sh)"
build/bench/kq_bench_wayland --presses 50 --runs 1

echo "== fuzz targets, 20 s each (fuzz/run.sh 600 for the long run)"
fuzz/run.sh 20

echo "== Debian 13: the build, and the GNOME 48 and KWin 6.3 tests (scripts/debian13.sh)"
scripts/debian13.sh
