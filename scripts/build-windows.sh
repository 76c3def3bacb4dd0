#!/usr/bin/env bash
# Cross-builds the Windows programs from Debian into build-win/: dvk-sp.exe,
# dvkctl.exe and the core tests, with Qt 5.15 and OpenCV 4.6 for MinGW-w64
# from the toolchain archives (shared/toolchains beside the clone, or
# DVK_QT_MINGW_ARCHIVE and DVK_OPENCV_MINGW_ARCHIVE; scripts/toolchain/ makes
# them). Each archive is checked against its .sha256 and unpacked once into
# the build folder (or DVK_TOOLCHAIN_CACHE), never into the source tree.
#
#   scripts/build-windows.sh [build-dir]      default build-win
#
# Its last three lines name the folders it used: "TOOLCHAINS=...",
# "OPENCV_PREFIX=..." and "QT_PREFIX=...".
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD_DIR=${1:-build-win}

# The archives' folder: DVK_TOOLCHAINS, or shared/toolchains beside the clone
# (or beside the folder of worktrees it is in).
TOOLCHAINS=${DVK_TOOLCHAINS:-}
if [ -z "$TOOLCHAINS" ]; then
  for d in "$SRC/../shared/toolchains" "$SRC/../../shared/toolchains"; do
    [ -d "$d" ] && { TOOLCHAINS=$(cd "$d" && pwd); break; }
  done
fi
TOOLCHAINS=${TOOLCHAINS:-$SRC/../shared/toolchains}
QT_ARCHIVE=${DVK_QT_MINGW_ARCHIVE:-$TOOLCHAINS/qt-5.15.8-mingw64.tar.xz}
OPENCV_ARCHIVE=${DVK_OPENCV_MINGW_ARCHIVE:-$TOOLCHAINS/opencv-4.6.0-mingw64.tar.xz}
CACHE=${DVK_TOOLCHAIN_CACHE:-$BUILD_DIR/toolchain}
mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd)

# unpack ARCHIVE DIR: DIR (the archive's one top folder) under the cache,
# checked against the archive's .sha256 and unpacked again only when that
# checksum changes.
unpack() {
  local archive=$1 dir=$2 sum
  if [ ! -f "$archive" ] || [ ! -f "$archive.sha256" ]; then
    echo "build-windows: no $archive with its .sha256 (see README: the Windows toolchains)" >&2
    exit 2
  fi
  sum=$(cut -d' ' -f1 "$archive.sha256")
  if [ "$(cat "$CACHE/.$dir.sha256" 2>/dev/null)" != "$sum" ] || [ ! -d "$CACHE/$dir" ]; then
    (cd "$(dirname "$archive")" && sha256sum --quiet -c "$(basename "$archive").sha256") || {
      echo "build-windows: $archive does not match its .sha256" >&2
      exit 1
    }
    rm -rf "${CACHE:?}/$dir" "$CACHE/.$dir.sha256"
    tar -xJf "$archive" -C "$CACHE"
    [ -d "$CACHE/$dir" ] || { echo "build-windows: $archive holds no $dir/" >&2; exit 1; }
    echo "$sum" >"$CACHE/.$dir.sha256"
  fi
}
unpack "$QT_ARCHIVE" qt5-mingw64
unpack "$OPENCV_ARCHIVE" opencv-mingw64
QT_PREFIX=$CACHE/qt5-mingw64
OPENCV_PREFIX=$CACHE/opencv-mingw64

cmake -S . -B "$BUILD_DIR" \
  -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$QT_PREFIX" \
  -DOpenCV_DIR="$OPENCV_PREFIX/lib/cmake/opencv4" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDVK_BUILD_TESTS=ON -DDVK_BUILD_BENCH=OFF ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"${DVK_JOBS:-2}"
echo "TOOLCHAINS=$TOOLCHAINS"
echo "OPENCV_PREFIX=$OPENCV_PREFIX"
echo "QT_PREFIX=$QT_PREFIX"
