#!/usr/bin/env bash
# Makes the README's two pictures from the built programs:
#   window.png   the application's window, as it opens: the real dvk-sp run
#                under a virtual X server (Xvfb), its window found with
#                xwininfo and captured with ImageMagick's import;
#   preview.png  page 1 of a 4-step phase-shift set with 8 stripes at scan
#                value 10000, drawn by dvkctl preview (the README's own example
#                makes the same picture).
#
# Usage: scripts/screenshot.sh [OUT_DIR]      (default: docs/)
# Uses the build in build/, or in $BUILD_DIR. Needs Xvfb, xwininfo and import
# (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

OUT=$(realpath -m "${1:-docs}")
BIN=$(realpath -m "${BUILD_DIR:-build}/bin")
for tool in "$BIN/dvk-sp" "$BIN/dvkctl"; do
  [ -x "$tool" ] || { echo "screenshot.sh: $tool is missing; build first (./run.sh or scripts/setup.sh)" >&2; exit 1; }
done
for tool in Xvfb xwininfo import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing; scripts/setup.sh installs it" >&2; exit 1; }
done
mkdir -p "$OUT"
work=$(mktemp -d)

# The window as a user first sees it, on a virtual screen of its own. Xvfb
# picks a free display number and reports it once it accepts connections. No
# window manager runs, so the picture is the window's inside, without a title
# bar.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
app=
cleanup() {
  set +e
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

LC_ALL=C.UTF-8 "$BIN/dvk-sp" 2>"$work/app.log" &
app=$!
for _ in $(seq 1 100); do
  xwininfo -name "DVK_SP_V2.03" >/dev/null 2>&1 && break
  kill -0 "$app" 2>/dev/null || { echo "screenshot.sh: dvk-sp ended" >&2; cat "$work/app.log" >&2; exit 1; }
  sleep 0.1
done
xwininfo -name "DVK_SP_V2.03" >/dev/null 2>&1 || { echo "screenshot.sh: no window appeared" >&2; exit 1; }
# Let the splash screen go and the window finish painting.
sleep 1.5
# No time stamps in the file: an unchanged window gives the same bytes.
import -window "DVK_SP_V2.03" -strip -define png:exclude-chunks=date,time "$OUT/window.png"

# A generated page, drawn as the window's preview draws it.
"$BIN/dvkctl" generate phase --scan-value 10000 --steps 4 --stripes 8 -o "$work/patterns.txt" 2>/dev/null
"$BIN/dvkctl" preview "$work/patterns.txt" --page 1 -o "$OUT/preview.png"

echo "$OUT/window.png"
echo "$OUT/preview.png"
