#!/usr/bin/env bash
# Set up (install what is missing, build) and launch the application.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
exec build/bin/dvk-sp "$@"
