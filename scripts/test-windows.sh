#!/usr/bin/env bash
# The windows stage of ./test.sh --all: the Windows build and its packages
# (scripts/package-windows.sh into build-win/) run under Wine against the
# Linux build (build/):
#   core      the core tests built for Windows
#   licences  every DLL of the package named in licenses\INDEX.txt, every
#             licence it names there shipped
#   opencv    a small program built against the OpenCV toolchain runs
#   math      the single-precision functions over every 7th input of the
#             model: the Linux build's bits
# then twice, from the unzipped zip in a new, empty Wine prefix and from the
# installer's silent installation in another:
#   resources icon, version information and the window's one manifest; the
#             version dvkctl.exe --version and the packages' names give
#   grid     dvkctl.exe generate over a grid of requests (all five kinds, many
#            scan values): the Linux build's bytes, each line end CR LF as a
#            Windows text file has it
#   tools    inspect, preview, analyze and decode (PNG and JPEG captures):
#            the Linux build's results
#   geometry calibrate on rendered board poses and reconstruct a rendered
#            scene: the Linux build's depth within 0.001 % of z
#   serial   query and burn --no-wait through a Wine COM port linked to the
#            Linux simulator's pseudo-terminal, the stream checked by it
#   page1    dvk-sp.exe on Xvfb, driven with the keyboard: COM5 opened on
#            the simulator, a pattern file loaded, page 1 drawn (its
#            screenshot in the output)
#   window   dvk-sp.exe opens, its screenshot goes to the output, closes on
#            request (the 是否退出? box answered) with exit status 0
# and, for the installer: its Start-menu entries and uninstall registration,
# then a silent uninstallation that leaves Program Files, the Start menu and
# the registry as they were. One wine server at a time and one virtual
# screen for the whole stage. Output: build-win/stage/.
set -uo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
WIN=$(realpath -m "${1:-build-win}")
LIN=$(realpath -m "${2:-build}")
OUT=$WIN/stage
rm -rf "$OUT"
mkdir -p "$OUT"

# Built and packed; everything but the core tests runs from the unzipped
# package and from the installed one, each in a Wine prefix made afresh for
# every run, so the stage proves what a user unzips or installs.
pkg=$(scripts/package-windows.sh "$WIN" | tail -n3) || exit 1
QT_PREFIX=$(sed -n 's/^QT_PREFIX=//p' <<<"$pkg")
INSTALLER=$(sed -n 's/^INSTALLER=//p' <<<"$pkg")
PACKAGE=$(sed -n 's/^PACKAGE=//p' <<<"$pkg")
OPENCV_PREFIX=$(dirname "$QT_PREFIX")/opencv-mingw64
version=$(cat "$WIN/version.txt")
[ -x "$LIN/bin/dvkctl" ] || { echo "test-windows: build the Linux tree first ($LIN)" >&2; exit 1; }
unzip -q "$PACKAGE" -d "$OUT/unzipped" || exit 1

winpath() { echo "Z:${1//\//\\}"; }
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver64 || command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$OUT/wine-zip WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  "$WINESERVER" -k 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

# The virtual screen comes first: Wine's desktop is made once per session,
# on the display of whichever program first needs it, and a session begun
# without one never shows a window.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$OUT/display" 2>"$OUT/xvfb.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$OUT/display" ] && break; sleep 0.1; done
[ -s "$OUT/display" ] || { echo "FAIL Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$OUT/display")"

# newPrefix DIR: a new Wine prefix in DIR, the current one's server ended.
newPrefix() {
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  rm -rf "$1"
  export WINEPREFIX=$1
  # Wine's server and its services outlive the first program and keep whatever
  # it had open: started here with nothing open, or a caller reading a test's
  # output (ctest, a pipe) would wait for them for ever.
  start=$SECONDS
  "$WINESERVER" -p60 </dev/null >/dev/null 2>&1
  "$WINE" wineboot --init </dev/null >/dev/null 2>&1 || { echo "FAIL wineboot" >&2; exit 1; }
  # A program that crashes ends with an error status instead of waiting in
  # Wine's crash dialog. Windows' own fonts are not here: Wine would draw
  # Windows' dialog font (Tahoma, behind "MS Shell Dlg 2") and the form's 黑体
  # with whatever fontconfig offers first, on this system a mathematical font
  # three lines high, and every line edit, combo box and title would grow to
  # match (a stock QLineEdit comes out 52 pixels high instead of 22); a CJK font
  # stands in for them, as Windows' own would.
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" 黑体 SimHei 宋体 SimSun "Microsoft YaHei" 微软雅黑; do
      printf '"%s"="Noto Sans CJK SC"\r\n' "$font"
    done
  } | iconv -f UTF-8 -t UTF-16 >"$OUT/settings.reg"
  "$WINE" regedit /S "$(winpath "$OUT/settings.reg")" </dev/null >/dev/null 2>&1
  echo "new Wine prefix $WINEPREFIX in $((SECONDS - start)) s"
}
newPrefix "$OUT/wine-zip"

failed=0
RUN="" # which copy of the programs the checks ran on: zip/ or installed/
result() { # name ok-status detail
  if [ "$2" -eq 0 ]; then echo "PASS $RUN$1${3:+: $3}"; else echo "FAIL $RUN$1${3:+: $3}"; failed=1; fi
}
dvkctl() { "$WINE" "$APP/dvkctl.exe" "$@"; }
# A Linux text as Windows' text mode writes it.
crlf() { sed 's/$/\r/' "$@"; }

# --- core: the core tests under Wine
# The core tests load Qt and OpenCV from the toolchains.
(cd "$WIN" && WINEPATH="Z:$QT_PREFIX/bin;Z:$OPENCV_PREFIX/bin;Z:/usr/lib/gcc/x86_64-w64-mingw32/12-posix;Z:/usr/x86_64-w64-mingw32/lib" \
  QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="Z:$QT_PREFIX/plugins" ctest --output-on-failure -LE long)
result core $?

# --- math: the single-precision functions over every float the scan model
# gives them would take minutes under Wine; every 7th input (the stride whose
# digest the test pins from the Linux run) is enough to show the same bits.
start=$SECONDS
(cd "$WIN" && WINEPATH="Z:$QT_PREFIX/bin;Z:$OPENCV_PREFIX/bin;Z:/usr/lib/gcc/x86_64-w64-mingw32/12-posix;Z:/usr/x86_64-w64-mingw32/lib" \
  QT_QPA_PLATFORM=offscreen DVK_MATH_STRIDE=7 ctest --output-on-failure -R '^long_singlemath$')
result math $? "$((SECONDS - start)) s"

# checkPrograms APP RUN: the checks below on the programs in APP, their
# output in $OUT/RUN/.
checkPrograms() {
  APP=$1
  RUN=$2/
  local OUT=$OUT/$2
  mkdir -p "$OUT"
  # --- resources: both programs carry the icon and the version users see,
  # the one dvkctl.exe --version and the packages' names give; the window
  # carries one manifest (a second, such as a linker's default, makes Windows
  # refuse to start it).
  bad=0
  said=$(dvkctl --version | tr -d '\r')
  [ "$said" = "dvkctl $version" ] && [[ $PACKAGE == */dvk-sp-$version-win64.zip ]] &&
    [[ $INSTALLER == */dvk-sp-$version-win64-setup.exe ]] ||
    { echo "  versions: '$said', $PACKAGE, $INSTALLER"; bad=1; }
  for exe in dvk-sp dvkctl; do
    types=$(x86_64-w64-mingw32-objdump -p "$APP/$exe.exe" | sed -n 's/^[0-9a-f]\{3\}   Entry: ID: 0x0000\(..\),.*/\1/p' | tr '\n' ' ')
    # (grep -q on a pipe would end strings early, which pipefail counts as failure)
    [[ $types == *"0e "* ]] && [[ $types == *"10 "* ]] && grep -qx "$version" <(strings -el "$APP/$exe.exe") ||
      { echo "  $exe.exe: resource types $types, version $version not found"; bad=1; }
  done
  manifests=$(strings "$APP/dvk-sp.exe" | grep -c '<assembly ')
  [ "$manifests" = 1 ] && grep -q 'level="requireAdministrator"' <(strings "$APP/dvk-sp.exe") || bad=1
  result resources "$bad" "icon and version $version in both, $manifests manifest in dvk-sp.exe"

  # --- grid: generate, request by request
  grid=$OUT/grid
  mkdir -p "$grid/linux" "$grid/windows"
  scans=(1 2 3 100 1941 3105 4851 7761 8000 8246 10000 11447 11932 16275 16276)
  requests=()
  for i in $(seq 0 159); do
    if [ "$i" -lt ${#scans[@]} ]; then F=${scans[$i]}; else F=$(((i * 7919 + 4273) % 16276 + 1)); fi
    case $((i % 5)) in
    0) requests+=("phase --scan-value $F --steps $((3 + i % 6)) --stripes $((1 + (i * 37) % 128))") ;;
    1) requests+=("gray --scan-value $F --bits $((1 + i % 10))") ;;
    2) requests+=("square --scan-value $F --stripes $((1 + (i * 53) % 128))") ;;
    3) requests+=("phase --scan-value $F --steps $((3 + (i / 5) % 6)) --stripes $((128 - i % 64))") ;;
    4) if [ $((i % 10)) -eq 4 ]; then requests+=("dark"); else requests+=("light"); fi ;;
    esac
  done
  # Windows' side in one Wine session (a batch file): starting Wine 160 times
  # would take minutes.
  bat=$grid/grid.bat
  : >"$bat"
  for n in "${!requests[@]}"; do
    f=$(printf '%03d.txt' "$n")
    "$LIN/bin/dvkctl" generate ${requests[$n]} -o "$grid/linux/$f" 2>>"$grid/linux.log"
    printf '"%s" generate %s -o "%s"\r\n' "$(winpath "$APP/dvkctl.exe")" "${requests[$n]}" \
      "$(winpath "$grid/windows/$f")" >>"$bat"
  done
  start=$SECONDS
  "$WINE" cmd /c "$(winpath "$bat")" >"$grid/windows.log" 2>&1
  differ=0
  for n in "${!requests[@]}"; do
    f=$(printf '%03d.txt' "$n")
    if ! cmp -s <(crlf "$grid/linux/$f") "$grid/windows/$f"; then
      echo "  differs: generate ${requests[$n]}"
      differ=$((differ + 1))
    fi
  done
  result grid "$differ" "${#requests[@]} requests, $differ differ, $((SECONDS - start)) s under Wine"

  # --- tools: inspect, preview, analyze, decode on small inputs
  tools=$OUT/tools
  mkdir -p "$tools"
  cd "$tools"
  "$LIN/bin/dvkctl" generate phase --scan-value 10000 --steps 4 --stripes 8 -o p.txt 2>/dev/null
  "$LIN/bin/dvkctl" generate gray --scan-value 10000 --bits 4 -o p.txt 2>/dev/null
  bad=0
  for args in "inspect p.txt --json" \
    "analyze p.txt --scan-value 10000 --set phase:4x8@1 --set gray:4@5 --json"; do
    "$LIN/bin/dvkctl" $args >linux.out 2>&1
    l=$?
    dvkctl $args >windows.out 2>&1
    w=$?
    if [ "$l" != "$w" ] || ! cmp -s <(crlf linux.out) windows.out; then
      echo "  differs: $args (exit $l / $w)"
      diff linux.out <(tr -d '\r' <windows.out) | head -5
      bad=1
    fi
  done
  # Pictures compared by their pixels (the two builds' PNG encoders may pack
  # the same pixels differently).
  "$LIN/bin/dvkctl" preview p.txt --page 2 -o linux.png &&
    dvkctl preview p.txt --page 2 -o windows.png &&
    [ "$(compare -metric AE linux.png windows.png null: 2>&1)" = 0 ] ||
    { echo "  differs: preview"; bad=1; }
  # Captures: the previews of the eight pages, decoded on both sides.
  caps=()
  for p in 1 2 3 4 5 6 7 8; do
    "$LIN/bin/dvkctl" preview p.txt --page $p -o cap$p.png
    caps+=(cap$p.png)
  done
  sets=(--scan-value 10000 --set phase:4x8@1 --set gray:4@5)
  "$LIN/bin/dvkctl" decode p.txt "${sets[@]}" "${caps[@]}" -o dl --json >linux.out 2>&1
  dvkctl decode p.txt "${sets[@]}" "${caps[@]}" -o dw --json >windows.out 2>&1
  # The reports less their timings, which differ from run to run.
  untimed() { sed 's/"timing":{[^}]*},//' "$@"; }
  if ! cmp -s <(crlf linux.out | untimed) <(untimed windows.out) || ! cmp -s dl/position.npy dw/position.npy; then
    echo "  differs: decode"
    bad=1
  fi
  # The same captures as a camera's JPEG files, read through the JPEG plugin
  # the package ships: decoded as on Linux, every page found.
  jpegs=()
  for p in 1 2 3 4 5 6 7 8; do
    convert cap$p.png -quality 95 cap$p.jpg
    jpegs+=(cap$p.jpg)
  done
  "$LIN/bin/dvkctl" decode p.txt "${sets[@]}" "${jpegs[@]}" -o jl --json >linux-jpeg.out 2>&1
  l=$?
  dvkctl decode p.txt "${sets[@]}" "${jpegs[@]}" -o jw --json >windows-jpeg.out 2>&1
  w=$?
  if [ "$l" != 0 ] || [ "$w" != 0 ] || ! cmp -s <(crlf linux-jpeg.out | untimed) <(untimed windows-jpeg.out) ||
    ! cmp -s jl/position.npy jw/position.npy; then
    echo "  differs: decode of JPEG captures (exit $l / $w)"
    head -c 300 windows-jpeg.out
    bad=1
  fi
  cd "$SRC"
  result tools "$bad" "inspect, preview, analyze, decode of PNG and JPEG captures"

  # --- geometry: calibrate from rendered board poses, then reconstruct a
  # rendered scene, on both sides: both succeed, and the depth maps measure
  # the same pixels with z equal within 0.001 %.
  geo=$OUT/geometry
  mkdir -p "$geo"
  cd "$geo"
  bad=0
  if [ ! -s p.txt ]; then
    "$LIN/tests/rig_captures" rig &&
      "$LIN/bin/dvkctl" generate gray --scan-value 10000 --bits 7 -o p.txt 2>/dev/null &&
      "$LIN/bin/dvkctl" generate phase --scan-value 10000 --steps 4 --stripes 64 -o p.txt 2>/dev/null &&
      "$LIN/bin/dvkctl" generate dark -o p.txt 2>/dev/null &&
      "$LIN/bin/dvkctl" generate light -o p.txt 2>/dev/null || bad=1
  fi
  sets=(--scan-value 10000 --set gray:7@1 --set phase:4x64@8 --set dark@12 --set light@13)
  poses=(rig/pose1 rig/pose2 rig/pose3 rig/pose4 rig/pose5)
  "$LIN/bin/dvkctl" calibrate p.txt "${sets[@]}" --board 9x6:25 "${poses[@]}" -o cl.json >linux-calibrate.out 2>&1
  l=$?
  dvkctl calibrate p.txt "${sets[@]}" --board 9x6:25 "${poses[@]}" -o cw.json >windows-calibrate.out 2>&1
  w=$?
  [ "$l" = 0 ] && [ "$w" = 0 ] || { echo "  calibrate: exit $l / $w"; bad=1; }
  "$LIN/bin/dvkctl" reconstruct p.txt "${sets[@]}" --calibration cl.json rig/scene -o rl >linux-reconstruct.out 2>&1
  l=$?
  dvkctl reconstruct p.txt "${sets[@]}" --calibration cw.json rig/scene -o rw >windows-reconstruct.out 2>&1
  w=$?
  [ "$l" = 0 ] && [ "$w" = 0 ] || { echo "  reconstruct: exit $l / $w"; bad=1; }
  # The float32 values after the .npy header, one a line.
  npyfloats() { od -An -v -t f4 -w4 -j $((10 + $(od -An -t u2 -j 8 -N 2 "$1"))) "$1"; }
  paste <(npyfloats rl/depth.npy) <(npyfloats rw/depth.npy) | awk '
    { l = $1; w = $2; ln = (l ~ /nan/); wn = (w ~ /nan/)
      if (ln != wn) { bad++; next }
      if (!ln && (l - w > 1e-5 * l || w - l > 1e-5 * l)) bad++ }
    END { if (bad) print "  depth differs at " bad " pixels"; exit bad > 0 }' || bad=1
  cd "$SRC"
  result geometry "$bad" "calibrate and reconstruct: the Linux build's depth within 0.001 %"

  # --- serial: query and burn through COM5, the Linux simulator at the other end
  serial=$OUT/serial
  mkdir -p "$serial/record"
  export XDG_RUNTIME_DIR=$serial/runtime
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  "$LIN/bin/dvkctl" simulate --scan-value 12345 --record "$serial/record" >"$serial/sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$serial/sim.log" ] && break; sleep 0.1; done
  pty=$(head -n1 "$serial/sim.log")
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
  answer=$(dvkctl query --port COM5 | tr -d '\r')
  [ "$answer" = 12345 ]
  result query $? "answered '$answer'"
  "$LIN/bin/dvkctl" generate square --scan-value 12345 --stripes 5 -o "$serial/burn.txt" 2>/dev/null
  dvkctl burn "$(winpath "$serial/burn.txt")" --port COM5 --no-wait >"$serial/burn.log" 2>&1
  rc=$?
  for _ in $(seq 1 100); do grep -q '"transfer"' "$serial/sim.log" && break; sleep 0.1; done
  line=$(grep '"transfer"' "$serial/sim.log" | head -n1)
  # The simulator checked the framing; every value arrived.
  values=$(wc -l <"$serial/burn.txt")
  [ "$rc" -eq 0 ] && [[ $line == *'"committed":true'* ]] && [[ $line == *'"errors":[]'* ]] &&
    [[ $line == *"\"values\":$values,"* ]] && [ "$(wc -l <"$serial"/record/*)" = "$values" ]
  result burn $? "exit $rc, $line"

  # --- window: dvk-sp.exe on a virtual screen, driven with the keyboard as a
  # user could: COM5 picked and opened, the projector's answer unlocks the
  # window, a pattern file loaded, page 1 drawn.
  # Wine lists the ports of HARDWARE\DEVICEMAP\SERIALCOMM, which its mount
  # manager fills at start-up from the serial devices it finds; the link made
  # above is added by hand (the key lives as long as the wine server).
  "$WINE" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /t REG_SZ /d COM5 /f \
    </dev/null >/dev/null 2>&1
  "$LIN/bin/dvkctl" generate phase --scan-value 12345 --steps 4 --stripes 8 -o "$OUT/window-pattern.txt" 2>/dev/null
  queries=$(grep -c '"event":"query"' "$serial/sim.log")
  "$WINE" "$APP/dvk-sp.exe" >"$OUT/window.log" 2>&1 &
  app=$!
  pids+=($app)
  # Waits up to 20 s for a condition (a command); says what it waited for.
  waitFor() {
    local what=$1
    shift
    for _ in $(seq 1 200); do
      "$@" && return 0
      sleep 0.1
    done
    echo "  timed out waiting: $what"
    return 1
  }
  key() { xdotool key --delay 60 "$@"; }
  # The window's dialogs and boxes: its other visible top-level windows.
  dialog() { xdotool search --onlyvisible --class '^dvk-sp\.exe$' 2>/dev/null | grep -vx "$win" | head -n1; }
  dialogOpen() { [ -n "$(dialog)" ]; }
  dialogGone() { [ -z "$(dialog)" ]; }
  answered() { [ "$(grep -c '"event":"query"' "$serial/sim.log")" -gt "$queries" ]; }
  # Types into the dialog that just opened and presses Return. A dialog still
  # being built may lose the first keys: then it stays, and the text is typed
  # again over whatever its field holds.
  answerDialog() {
    local text=$1 d
    for _ in 1 2 3; do
      d=$(dialog)
      [ -n "$d" ] || return 0
      xdotool windowfocus --sync "$d" 2>/dev/null
      sleep 0.5
      if [ -n "$text" ]; then
        key ctrl+a
        xdotool type --delay 20 "$text"
        key Return
      else
        key Escape
      fi
      for _ in $(seq 1 50); do
        dialogGone && return 0
        sleep 0.1
      done
    done
    echo "  the dialog did not close"
    return 1
  }
  # Page 1 of an 8-stripe phase-shift set in the screenshot: on the row with
  # the most red, the picture's stripes, eight red bands. Prints the width,
  # the row, its red pixels and the bands.
  redBands() {
    convert "$1" -fuzz 30% -fill black +opaque red -fill white -opaque red -colorspace gray \
      -threshold 50% -negate -compress none pbm:- | tr -s ' \n' '\n\n' | tail -n +2 |
      awk 'NR == 1 { w = $1; next } NR == 2 { h = $1; next }
        { for (i = 1; i <= length($0); i++) px[k++] = substr($0, i, 1) }
        END {
          best = -1
          for (y = 0; y < h; y++) {
            s = 0
            for (x = 0; x < w; x++) s += px[y * w + x]
            if (s > best) { best = s; row = y }
          }
          for (x = 0; x < w; x++) { v = px[row * w + x]; if (v == 1 && prev != 1) bands++; prev = v }
          print w, row, best, bands + 0
        }'
  }
  shown=1
  for _ in $(seq 1 600); do
    xwininfo -name "DVK_SP_V$version" 2>/dev/null | grep -q IsViewable && { shown=0; break; }
    sleep 0.1
  done
  if [ "$shown" -eq 0 ]; then
    sleep 3 # the splash gone, the window painted
    win=$(xdotool search --name "^DVK_SP_V${version//./\\.}\$" | head -n1)
    drawn=1
    # The last port listed (COM5), 打开串口; the folder dialog that follows is
    # cancelled (the program's own folder is used); the simulator's answer; then
    # "..." beside 文件路径, two controls on, and the pattern file.
    xdotool windowfocus --sync "$win" 2>/dev/null
    sleep 0.5
    key End Tab space
    if waitFor "the folder dialog" dialogOpen && answerDialog "" &&
      waitFor "the simulator's answer to a query" answered; then
      sleep 1
      xdotool windowfocus --sync "$win" 2>/dev/null
      sleep 0.5
      key Tab Tab space
      if waitFor "the file dialog" dialogOpen && answerDialog "$(winpath "$OUT/window-pattern.txt")"; then
        sleep 2
        import -window "$win" -strip "$OUT/window-page1.png"
        read -r width row red bands < <(redBands "$OUT/window-page1.png")
        [ "$bands" = 8 ] && [ "$red" -gt $((width / 4)) ]
        drawn=$?
      fi
    fi
    result page1 "$drawn" "COM5 opened, ${red:-no} red pixels in ${bands:-no} bands on row ${row:-?} of $OUT/window-page1.png (8 bands wanted)"
    import -window root -strip "$OUT/window.png"
    # Asked to close as Windows asks (WM_CLOSE), not killed; the window asks
    # 是否退出? and its default button, 确认, is pressed with Return.
    "$WINE" taskkill /im dvk-sp.exe >>"$OUT/window.log" 2>&1
    ended=1
    for _ in $(seq 1 300); do
      kill -0 "$app" 2>/dev/null || { ended=0; break; }
      box=$(xdotool search --onlyvisible --name '^退出$' 2>/dev/null | head -n1)
      if [ -n "$box" ]; then
        xdotool windowfocus --sync "$box" 2>/dev/null
        sleep 0.3
        xdotool key Return
        sleep 0.5
      fi
      sleep 0.1
    done
    if [ "$ended" -eq 0 ]; then
      wait "$app"
      code=$?
    else
      kill "$app"
      code=timeout
    fi
    [ "$ended" -eq 0 ] && [ "$code" -eq 0 ]
    result window $? "screenshot $OUT/window.png, exit $code"
  else
    result window 1 "no window within 60 s"
  fi
  RUN=""
}
# --- licences: every DLL of the package has its line in licenses\INDEX.txt,
# and every licence a line names is in the package.
ZIPPED=$OUT/unzipped/$(basename "$PACKAGE" .zip)
bad=0
dlls=0
while IFS= read -r dll; do
  dlls=$((dlls + 1))
  line=$(tr -d '\r' <"$ZIPPED/licenses/INDEX.txt" | awk -v d="${dll//\//\\\\}" '$1 == d')
  [ -n "$line" ] || { echo "  no licence named for $dll"; bad=1; continue; }
  for f in $(cut -d' ' -f2- <<<"$line"); do
    [ -s "$ZIPPED/licenses/${f//\\//}" ] || { echo "  $dll: $f missing"; bad=1; }
  done
done < <(cd "$ZIPPED" && find . -name '*.dll' -printf '%P\n' | sort)
result licences "$bad" "$dlls DLLs"

# --- opencv: the toolchain's OpenCV found by CMake, a program linked against
# it, run under Wine with its DLLs.
ocv=$OUT/opencv
cmake -S "$SRC/tests/system/opencv-mingw" -B "$ocv" -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64.cmake" \
  -DOpenCV_DIR="$OPENCV_PREFIX/lib/cmake/opencv4" >"$ocv.log" 2>&1 &&
  cmake --build "$ocv" >>"$ocv.log" 2>&1 &&
  WINEPATH="Z:$OPENCV_PREFIX/bin;Z:/usr/lib/gcc/x86_64-w64-mingw32/12-posix;Z:/usr/x86_64-w64-mingw32/lib" \
    "$WINE" "$ocv/opencv-check.exe" >>"$ocv.log" 2>&1
result opencv $? "$(tail -n1 "$ocv.log" | tr -d '\r')"

checkPrograms "$ZIPPED" zip

# --- the installer, silent, in a new prefix: the same checks on what it
# installed, then a silent uninstallation that leaves nothing behind.
newPrefix "$OUT/wine-setup"
drive=$WINEPREFIX/drive_c
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
INSTALLED="$drive/Program Files/DVK_SP"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\DVK_SP'
tree() { find "$drive/Program Files" "$menu" 2>/dev/null | sort; }
tree >"$OUT/before-install.txt"
# In Chinese; the uninstaller then speaks it too, and must still find
# everything.
LC_ALL=C.UTF-8 "$WINE" "$INSTALLER" /S /LANG=2052 </dev/null >"$OUT/install.log" 2>&1
rc=$?
reg=$("$WINE" reg query "$key" 2>/dev/null | tr -d '\r')
regValue() { sed -n "s/^ *$1 *REG_SZ *//p" <<<"$reg"; }
# What the zip holds, and the uninstaller.
diff -r "$ZIPPED" "$INSTALLED" >"$OUT/install.diff"
[ "$rc" = 0 ] && [ "$(cat "$OUT/install.diff")" = "Only in $INSTALLED: uninstall.exe" ] &&
  [ "$(regValue DisplayName)" = DVK_SP ] && [ "$(regValue DisplayVersion)" = "$version" ] &&
  [ "$(regValue Publisher)" = "DVK_SP developers" ] &&
  [ "$(regValue QuietUninstallString)" = '"C:\Program Files\DVK_SP\uninstall.exe" /S' ] &&
  [ -f "$menu/DVK_SP/DVK_SP.lnk" ] && [ -f "$menu/DVK_SP/DVK_SP 命令行 (dvkctl).lnk" ]
result installed $? "exit $rc; $(regValue DisplayName) $(regValue DisplayVersion) by $(regValue Publisher); menu: $(ls "$menu/DVK_SP" 2>/dev/null | tr '\n' ' ')"

checkPrograms "$INSTALLED" installed

# The uninstaller hands over to a copy of itself and returns at once: done
# when its registry key is gone.
LC_ALL=C.UTF-8 "$WINE" "$INSTALLED/uninstall.exe" /S </dev/null >"$OUT/uninstall.log" 2>&1
rc=$?
for _ in $(seq 1 300); do
  "$WINE" reg query "$key" >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 1
tree >"$OUT/after-uninstall.txt"
"$WINE" reg query "$key" >/dev/null 2>&1
registered=$?
[ "$rc" = 0 ] && [ "$registered" != 0 ] && cmp -s "$OUT/before-install.txt" "$OUT/after-uninstall.txt"
result uninstalled $? "exit $rc; left behind: $(diff "$OUT/before-install.txt" "$OUT/after-uninstall.txt" | grep -c '^>') files, key $([ "$registered" = 0 ] && echo kept || echo removed)"

exit $failed
