#!/usr/bin/env bash
# Set up (install what is missing, build) and run the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
