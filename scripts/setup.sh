#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then
# configures and builds into build/. Safe to run again; a second run only
# rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake make g++ ccache pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  qt5-image-formats-plugins
  fonts-noto-cjk qttranslations5-l10n
  libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64 nsis libz-mingw-w64
  xvfb xauth xdotool
  zip unzip
  dpkg-dev file desktop-file-utils imagemagick x11-utils
  clang-14 libclang-rt-14-dev clang-format-14
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
  qt6-image-formats-plugins qt6-translations-l10n
  libopencv-core-dev libopencv-imgproc-dev libopencv-calib3d-dev
  libopencv-features2d-dev libopencv-flann-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
