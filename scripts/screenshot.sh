#!/usr/bin/env bash
# Makes the README's pictures from the built programs:
#   window.png   the application at work: the real dvk-sp on a virtual X
#                server (Xvfb), its port opened on the projector simulator
#                picked from the port list, a 4-step phase-shift set with 8
#                stripes generated and loaded, page 1 previewed;
#   burn.png     the same window a moment into burning that file;
#   preview.png  page 1 of a 4-step phase-shift set with 8 stripes at scan
#                value 10000, drawn by dvkctl preview (the README's own example
#                makes the same picture).
# The window is driven with the keyboard, as a user could (xdotool), and
# captured with ImageMagick's import.
#
# Usage: scripts/screenshot.sh [OUT_DIR]      (default: docs/)
# Uses the build in build/, or in $BUILD_DIR. Needs Xvfb, xwininfo, xdotool
# and import (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

OUT=$(realpath -m "${1:-docs}")
BIN=$(realpath -m "${BUILD_DIR:-build}/bin")
for tool in "$BIN/dvk-sp" "$BIN/dvkctl"; do
  [ -x "$tool" ] || { echo "screenshot.sh: $tool is missing; build first (./run.sh or scripts/setup.sh)" >&2; exit 1; }
done
for tool in Xvfb xwininfo xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing; scripts/setup.sh installs it" >&2; exit 1; }
done
mkdir -p "$OUT"
work=$(mktemp -d)

# A virtual screen of its own. Xvfb picks a free display number and reports
# it once it accepts connections. No window manager runs, so the pictures are
# the window's inside, without a title bar.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
app=
sim=
cleanup() {
  set +e
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "screenshot.sh: $*" >&2
  for log in app.log simulator.log; do
    [ -s "$work/$log" ] && { echo "--- $log" >&2; cat "$work/$log" >&2; }
  done
  exit 1
}
# Waits up to 20 s for a condition (a command), else fails with the message.
waitFor() {
  local what=$1
  shift
  for _ in $(seq 1 200); do
    "$@" && return 0
    [ -n "$app" ] && ! kill -0 "$app" 2>/dev/null && fail "dvk-sp ended while waiting: $what"
    sleep 0.1
  done
  fail "timed out waiting: $what"
}
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n1 "$work/display")"
# No GL driver: the window paints without one, and what a machine's driver
# does at load and exit is no part of the pictures.
export QT_XCB_GL_INTEGRATION=none

# The simulator registers in a runtime directory of the script's own, so the
# port list shows it and nothing a user may have running.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$BIN/dvkctl" simulate --name simulator >"$work/simulator.log" 2>&1 &
sim=$!
waitFor "the simulator's registration" test -L "$XDG_RUNTIME_DIR/dvk-sp/ports/simulator"

# The pattern file goes where the directory dialog starts: the current one.
mkdir "$work/patterns"
(cd "$work/patterns" && exec env LC_ALL=C.UTF-8 "$BIN/dvk-sp") >"$work/app.log" 2>&1 &
app=$!
waitFor "the window" xwininfo -name "DVK_SP_V2.03" >/dev/null 2>&1
window=$(xdotool search --name '^DVK_SP_V2\.03$' | head -n1)
windows() { xdotool search --onlyvisible --class dvk-sp 2>/dev/null | wc -l; }
dialogOpen() { [ "$(windows)" -ge 2 ]; }
dialogGone() { [ "$(windows)" -eq 1 ]; }
# The splash screen goes as the window shows; focus can only go to a window
# that is on the screen.
viewable() { xwininfo -id "$window" 2>/dev/null | grep -q 'IsViewable'; }
waitFor "the window on the screen" viewable
waitFor "the splash screen to go" dialogGone
xdotool windowfocus --sync "$window"
sleep 0.5
key() { xdotool key --delay 60 "$@"; }
# Types a path into the file dialog that just opened and accepts it. A slow
# machine may still be building the dialog when the first keys arrive and
# lose some: then the dialog stays (or complains in a box of its own, which
# is dismissed), and the path is typed again over whatever the field holds.
answerDialog() {
  local what=$1 path=$2
  for _ in 1 2 3 4; do
    sleep 0.5
    key ctrl+a
    xdotool type --delay 20 "$path"
    key Return
    for _ in $(seq 1 50); do
      dialogGone && return 0
      sleep 0.1
    done
    [ "$(windows)" -ge 3 ] && key Return
  done
  fail "timed out waiting: $what to close"
}

# The port list holds the system's ports, then the simulator: pick the last
# entry and press 打开串口; the directory dialog starts in the current
# directory, which is chosen.
key End Tab space
waitFor "the directory dialog" dialogOpen
answerDialog "the directory dialog" "$work/patterns"
# The projector's answer unlocks the window (the receive thread logs it).
waitFor "the projector's answer" grep -qx "10000" "$work/app.log"
sleep 0.5

# N步相移 4, 条纹数量 8, 生成, and the completion box closed.
key Tab Tab Tab
xdotool type 4
key Tab
xdotool type 8
key Tab space
waitFor "the completion box" dialogOpen
key Return
waitFor "the completion box to close" dialogGone
pattern=$(ls "$work"/patterns/wave_*.txt)

# "..." beside 文件路径: the file just generated.
key shift+Tab shift+Tab shift+Tab space
waitFor "the burn-file dialog" dialogOpen
answerDialog "the burn-file dialog" "$pattern"
sleep 1
# No time stamps in the files: an unchanged window gives the same bytes.
import -window "$window" -strip -define png:exclude-chunks=date,time "$OUT/window.png"

# 开始烧录, ten controls further on, and a moment into the transfer.
key Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
# The burn thread logs the file's path as it starts.
waitFor "the burn to start" grep -qF "\"$pattern\"" "$work/app.log"
sleep 1.5
import -window "$window" -strip -define png:exclude-chunks=date,time "$OUT/burn.png"

# A generated page, drawn as the window's preview draws it.
"$BIN/dvkctl" generate phase --scan-value 10000 --steps 4 --stripes 8 -o "$work/patterns.txt" 2>/dev/null
"$BIN/dvkctl" preview "$work/patterns.txt" --page 1 -o "$OUT/preview.png"

echo "$OUT/window.png"
echo "$OUT/burn.png"
echo "$OUT/preview.png"
