#!/usr/bin/env bash
# Builds the project with Qt 6 and runs the quick tests (all but those
# labelled long) in that build.
#   scripts/test-qt6.sh [BUILD_DIR]   (default build-qt6)
# Extra ctest arguments may follow the build dir.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${1:-build-qt6}
shift $(( $# >= 1 ? 1 : 0 ))

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDVK_QT=6 \
    -DDVK_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 -LE long "$@"
