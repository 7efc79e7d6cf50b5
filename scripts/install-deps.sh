#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config ccache git
  clang libclang-rt-14-dev clang-tidy clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libplist-dev nlohmann-json3-dev
  libglib2.0-dev libglib2.0-bin dbus dbus-daemon dbus-x11
  libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev webp-pixbuf-loader librsvg2-common libpng-dev libxml2-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxi-dev libxfixes-dev libxtst-dev
  libayatana-appindicator3-dev libkeybinder-3.0-dev libsoup-3.0-dev
  xvfb xauth xdotool x11-utils imagemagick trayer openbox i3
  fonts-noto-cjk librsvg2-bin
  desktop-file-utils dpkg-dev
  python3 nodejs
  # What an ordinary desktop has and the tests must live with: the portal and its GTK back-end,
  # GVfs with its FUSE part, a file manager.
  xdg-desktop-portal xdg-desktop-portal-gtk gvfs gvfs-fuse pcmanfm
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
