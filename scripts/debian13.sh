#!/usr/bin/env bash
# Builds Keyquill on Debian 13 and runs there what needs Debian 13's desktops: the journeys and
# the desktop's own cases on GNOME Shell 48 (with Keyquill's extension in its module form, and
# without it through the portals, their dialogs answered as a user does), on KWin 6.3
# with its portal, and on labwc, whose own bindings run the command-line trigger. The Debian 13 root is made once with debootstrap (about six minutes,
# 2 GB) and kept, with its build folder, in KQ_DEBIAN13 (default /var/cache/keyquill/debian13),
# outside the clone, so later runs only build what changed. KQ_DEBIAN13_TESTS chooses other tests
# (a GoogleTest filter).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
top=${KQ_DEBIAN13:-/var/cache/keyquill/debian13}
root=$top/root
packages="g++ cmake make pkg-config qt6-base-dev libx11-dev libx11-xcb-dev libxtst-dev libxi-dev
  libxkbcommon-dev libwayland-dev libwayland-bin libsystemd-dev plasma-wayland-protocols libgtest-dev
  xvfb xauth x11-utils x11-xkb-utils xkb-data xterm python3-gi gir1.2-gtk-3.0 gir1.2-gtk-4.0
  qt6-wayland wayland-protocols dbus dbus-user-session systemd fonts-dejavu-core
  gnome-shell xwayland dconf-service dconf-gsettings-backend libglib2.0-bin
  kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde kglobalacceld wl-clipboard labwc
  xdg-desktop-portal-gnome ibus ibus-libpinyin"

if [ "$(id -u)" -ne 0 ]; then
    echo "Skipped: the Debian 13 tests need root (debootstrap, chroot)." >&2
    exit 0
fi
. scripts/deps.sh
ensure_packages debootstrap

mounts=(proc sys dev dev/pts dev/shm tmp run src build)
unmount() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        mountpoint -q "$root/${mounts[i]}" && umount -l "$root/${mounts[i]}"
    done
}
trap unmount EXIT
mount_all() {
    mkdir -p "$root/src" "$root/build" "$top/build"
    mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
    mountpoint -q "$root/sys" || mount -t sysfs sys "$root/sys"
    # Private: the devpts and shm mounts below must never reach the host's /dev.
    mountpoint -q "$root/dev" || { mount --bind /dev "$root/dev" && mount --make-private "$root/dev"; }
    mountpoint -q "$root/dev/pts" || mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mountpoint -q "$root/dev/shm" || mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
    mountpoint -q "$root/tmp" || mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    mountpoint -q "$root/run" || mount -t tmpfs -o mode=755 run "$root/run"
    mountpoint -q "$root/src" || { mount --bind "$src" "$root/src" && mount -o remount,bind,ro "$root/src"; }
    mountpoint -q "$root/build" || mount --bind "$top/build" "$root/build"
    mkdir -p -m 1777 "$root/tmp/.X11-unix"
}
inroot() { chroot "$root" env -i DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 HOME=/root \
    PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

if [ "$(cat "$top/packages" 2>/dev/null)" != "$packages" ]; then
    echo "== making the Debian 13 root in $root"
    [ -e "$root/etc/debian_version" ] ||
        debootstrap --variant=minbase trixie "$root" "${KQ_DEBIAN_MIRROR:-http://deb.debian.org/debian}" >/dev/null
    mount_all
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    # No services started by the packages' scripts inside the root.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 755 "$root/usr/sbin/policy-rc.d"
    inroot apt-get update -qq
    # shellcheck disable=SC2086
    inroot apt-get install -y -qq --no-install-recommends $packages >/dev/null
    inroot apt-get clean
    echo "$packages" >"$top/packages"
fi
mount_all

echo "== building on Debian 13"
# Its own network namespace: the shells' X servers take abstract sockets named after display
# numbers, which would meet the host's own servers in the shared one.
unshare -n chroot "$root" env -i LANG=C.UTF-8 HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c '
    set -e
    [ -f /build/CMakeCache.txt ] || cmake -S /src -B /build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_WERROR=ON \
        -DKQ_BUILD_BENCH=OFF >/dev/null
    cmake --build /build -j"$(nproc)" --target keyquill kq_e2e_wayland
    echo "== GNOME Shell $(gnome-shell --version | cut -d" " -f3), KWin $(kwin_wayland --version | cut -d" " -f2) and labwc $(labwc --version | cut -d" " -f2) on Debian 13"
    cd /build && ./tests/kq_e2e_wayland --gtest_filter="$0"' \
    "${KQ_DEBIAN13_TESTS:-EveryDesktop/Journeys.Run/GNOME_*:EveryDesktop/Journeys.Run/KWin_*:EveryDesktop/Journeys.Run/labwc_*:Compositors/KeymapE2E.*/labwc:GnomeE2E.*:GnomePortalE2E.*:PinyinOn/*GNOME_Pinyin:KwinE2E.*}"
