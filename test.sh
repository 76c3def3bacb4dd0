#!/usr/bin/env bash
# Set up (install what is missing, build) and run every test stage:
#   1. the normal build and the whole suite (build/)
#   2. the Windows serial layer built with MinGW-w64 and run under Wine against
#      the projector simulator (build/, ctest -L wine; the first run sets up a
#      Wine prefix in build/tests/wine)
#   3. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   4. the threaded tests under ThreadSanitizer (build-tsan/)
#   5. each fuzz target for FUZZ_SECONDS (default 60) seconds (build-fuzz/)
# Every stage runs even if an earlier one failed; the exit status is non-zero
# if any failed. DVK_STAGES picks stages (e.g. DVK_STAGES="suite asan").
set -uo pipefail
cd "$(dirname "$0")"

STAGES=${DVK_STAGES:-suite wine asan tsan fuzz}
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
    suite) stage suite bash -c 'cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 -LE wine' ;;
    wine) stage wine bash -c 'cd build && QT_QPA_PLATFORM=offscreen ctest --verbose -L wine' ;;
    asan) stage asan scripts/test-sanitizers.sh address build-asan ;;
    tsan) stage tsan scripts/test-sanitizers.sh thread build-tsan ;;
    fuzz) stage fuzz scripts/fuzz.sh "$FUZZ_SECONDS" build-fuzz ;;
    *) echo "unknown stage '$s'" >&2; failed=1 ;;
    esac
done

echo
echo "======== summary ========"
printf '%s\n' "${summary[@]}"
grep -hE '^FUZZ ' "$LOGS/fuzz.log" 2>/dev/null || true
# The normal suite's own closing lines come last.
if [ -f "$LOGS/suite.log" ]; then
    echo
    sed -n '/tests passed/,$p' "$LOGS/suite.log"
fi
exit $failed
