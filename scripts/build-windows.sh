#!/usr/bin/env bash
# Cross-builds the Windows programs from Debian into build-win/: dvk-sp.exe,
# dvkctl.exe and the core tests, with Qt 5.15 for MinGW-w64 from the shared
# toolchains (../shared/toolchains beside the clone, or DVK_QT_MINGW_ARCHIVE).
# The archive is checked against its .sha256 and unpacked once into the build
# folder (or DVK_TOOLCHAIN_CACHE), never into the source tree.
#
#   scripts/build-windows.sh [build-dir]      default build-win
#
# Prints the Qt prefix it used as its last line ("QT_PREFIX=...").
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD_DIR=${1:-build-win}

ARCHIVE=${DVK_QT_MINGW_ARCHIVE:-$SRC/../shared/toolchains/qt-5.15.8-mingw64.tar.xz}
if [ ! -f "$ARCHIVE" ]; then
  echo "build-windows: no Qt for MinGW-w64 at $ARCHIVE (set DVK_QT_MINGW_ARCHIVE)" >&2
  exit 2
fi
CACHE=${DVK_TOOLCHAIN_CACHE:-$BUILD_DIR/toolchain}
mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd)
QT_PREFIX=$CACHE/qt5-mingw64

# Unpacked again only when the archive's checksum changes.
sum=$(cut -d' ' -f1 "$ARCHIVE.sha256")
if [ "$(cat "$CACHE/.sha256" 2>/dev/null)" != "$sum" ] || [ ! -d "$QT_PREFIX" ]; then
  (cd "$(dirname "$ARCHIVE")" && sha256sum --quiet -c "$(basename "$ARCHIVE").sha256") || {
    echo "build-windows: $ARCHIVE does not match its .sha256" >&2
    exit 1
  }
  rm -rf "$QT_PREFIX" "$CACHE/.sha256"
  tar -xJf "$ARCHIVE" -C "$CACHE"
  echo "$sum" >"$CACHE/.sha256"
fi

cmake -S . -B "$BUILD_DIR" \
  -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$QT_PREFIX" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDVK_BUILD_TESTS=ON -DDVK_BUILD_BENCH=OFF ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"${DVK_JOBS:-2}"
echo "QT_PREFIX=$QT_PREFIX"
