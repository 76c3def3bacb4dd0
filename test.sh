#!/usr/bin/env bash
# Sets up (installs what is missing, builds into build/) and runs the tests.
#
#   ./test.sh         the quick run: every test except those labelled long
#                     (the soak, the full-size decode, the Wine stage), in
#                     build/, the layout check "format" among them
#                     (scripts/check-format.sh); a few minutes after the build
#   ./test.sh --all   every stage, as CI runs it:
#     suite  the whole suite but Wine, long tests included (build/)
#     wine   the Windows serial layer built with MinGW-w64 and run under Wine
#            against the projector simulator (build/, ctest -L wine; the
#            first run sets up a Wine prefix in build/tests/wine)
#     windows the whole application cross-built for Windows (build-win/)
#            and packed into its zip, run under Wine: its core tests; from
#            the unzipped package in a new Wine prefix, dvkctl.exe against
#            the Linux build, the serial link to the simulator, the window on
#            Xvfb (scripts/test-windows.sh; output in build-win/stage/)
#     asan   the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#            (build-asan/)
#     tsan   the threaded tests under ThreadSanitizer (build-tsan/)
#     fuzz   each fuzz target for FUZZ_SECONDS (default 60) seconds
#            (build-fuzz/)
#     qt6    the same tree built with Qt 6 (-DDVK_QT=6) and the quick run
#            on it (build-qt6/)
#
# With --all every stage runs even if an earlier one failed, and DVK_STAGES
# picks stages (e.g. DVK_STAGES="suite asan"). The exit status is non-zero if
# any stage failed. Each stage's output is kept in build-logs/<stage>.log.
set -uo pipefail
cd "$(dirname "$0")"

ALL_STAGES="suite wine windows asan tsan fuzz qt6"
case "${1:-}" in
"") STAGES=quick ;;
--all) STAGES=${DVK_STAGES:-$ALL_STAGES} ;;
-h | --help)
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
*)
    echo "usage: ./test.sh [--all]" >&2
    exit 2
    ;;
esac
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
LOGS=build-logs
mkdir -p "$LOGS"

summary=()
failed=0

# Runs one stage with its output shown and kept in $LOGS/<name>.log.
stage() {
    local name=$1
    shift
    echo
    echo "======== stage $name: $* ========"
    local start=$SECONDS
    "$@" 2>&1 | tee "$LOGS/$name.log"
    local rc=${PIPESTATUS[0]}
    local took=$((SECONDS - start))
    local result="ok"
    [ "$rc" -ne 0 ] && result="FAILED (exit $rc)" && failed=1
    local ctestLine
    ctestLine=$(grep -E '^[0-9]+% tests passed' "$LOGS/$name.log" | tail -1 || true)
    local line
    line=$(printf 'STAGE %-6s %s in %dm%02ds%s' "$name" "$result" $((took / 60)) $((took % 60)) \
        "${ctestLine:+: $ctestLine}")
    echo "$line"
    summary+=("$line")
}

stage setup scripts/setup.sh
for s in $STAGES; do
    case $s in
    quick) stage quick bash -c 'cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 -LE long' ;;
    suite) stage suite bash -c 'cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 -LE wine' ;;
    wine) stage wine bash -c 'cd build && QT_QPA_PLATFORM=offscreen ctest --verbose -L wine' ;;
    windows) stage windows scripts/test-windows.sh build-win build ;;
    asan) stage asan scripts/test-sanitizers.sh address build-asan ;;
    tsan) stage tsan scripts/test-sanitizers.sh thread build-tsan ;;
    fuzz) stage fuzz scripts/fuzz.sh "$FUZZ_SECONDS" build-fuzz ;;
    qt6) stage qt6 scripts/test-qt6.sh build-qt6 ;;
    *) echo "unknown stage '$s'" >&2; failed=1 ;;
    esac
done

echo
echo "======== summary ========"
printf '%s\n' "${summary[@]}"
case " $STAGES " in
*" fuzz "*) grep -hE '^FUZZ ' "$LOGS/fuzz.log" 2>/dev/null || true ;;
esac
# The test run's own closing lines come last.
for s in quick suite qt6; do
    case " $STAGES " in
    *" $s "*)
        echo
        sed -n '/tests passed/,$p' "$LOGS/$s.log"
        ;;
    esac
done
exit $failed
