# Sourced by run.sh and test.sh: installs the Debian packages a step needs when they are missing.
BUILD_PACKAGES="g++ cmake make pkg-config qt6-base-dev fonts-wine fonts-dejavu-extra libx11-dev libx11-xcb-dev libxtst-dev libxi-dev libxkbcommon-dev
  libwayland-dev libwayland-bin libsystemd-dev plasma-wayland-protocols"
TEST_PACKAGES="libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-utils x11-xserver-utils x11-xkb-utils xkb-data
  openbox trayer xcompmgr imagemagick wmctrl fonts-dejavu-core python3-gi gir1.2-gtk-3.0
  util-linux sway xwayland qt6-wayland xterm wtype wayland-protocols grim
  kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5 python3-dbusmock dbus-x11 wl-clipboard
  lintian dpkg-dev file gnome-shell gjs dconf-service dconf-gsettings-backend libglib2.0-bin gir1.2-gtk-4.0
  xserver-xephyr ibus ibus-libpinyin ibus-gtk3 fcitx5 fcitx5-chinese-addons fcitx5-frontend-gtk3
  fcitx5-frontend-qt6 wine64"
# The fuzz targets and the sanitizer build.
# The sanitizer runtime is named after the release's own clang (14 on Debian 12, 19 on Debian 13).
clang_major=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
FUZZ_PACKAGES="clang libclang-rt-${clang_major:-14}-dev cmake make"
# What only the benchmarks use: a second window manager to measure under.
BENCH_PACKAGES="xfwm4"
DEMO_PACKAGES="xvfb xauth x11-utils x11-xkb-utils xkb-data imagemagick fonts-wine fonts-dejavu-core"

ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "These Debian packages are needed. Run:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

# The Wayland tests run a headless sway, which refuses to run as root: under root they run it as
# this unprivileged user.
ensure_sway_user() {
    [ "$(id -u)" -eq 0 ] || return 0
    id -u keyquill-test >/dev/null 2>&1 ||
        useradd --system --no-create-home --shell /usr/sbin/nologin keyquill-test
}

# Configures (once) and builds the given targets in build/; warnings are errors only where the
# caller asks (the test command does, for CI).
build_targets() {
    local werror="${KQ_WERROR:-OFF}"
    if [ ! -f build/CMakeCache.txt ] || ! grep -q "KQ_WERROR:BOOL=$werror" build/CMakeCache.txt; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_WERROR="$werror" >/dev/null
    fi
    cmake --build build -j"$(nproc)" ${1:+--target "$@"}
}
