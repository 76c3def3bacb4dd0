#!/usr/bin/env bash
# Builds the project with a sanitizer and runs tests in that build.
#   scripts/test-sanitizers.sh address [BUILD_DIR]   ASan + UBSan, the whole suite
#   scripts/test-sanitizers.sh thread  [BUILD_DIR]   TSan, the threaded tests
# Every finding is fatal (the test fails). Suppressions, each with its reason,
# are in scripts/sanitizers/. Extra ctest arguments may follow the build dir.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

MODE=${1:?address or thread}
BUILD_DIR=${2:-build-$MODE}
shift $(( $# >= 2 ? 2 : 1 ))

# The tests that run threads of ours: the receive thread and the driver
# (serial, portcontrol), the burn worker and the commit countdown in the
# window and in dvkctl (burn_window, fault_device, cli_burn), the port
# discovery (discovery), shutdown with any of them running (mainwindow,
# fault_close), a close or a signal waking a stalled write (driver_model,
# cli_device), and the decoder's worker (decode_threads: decode's
# set that is large enough for two threads).
THREADED='^(decode_threads|serial|portcontrol|burn_window|cli_burn|fault_device|fault_close|discovery|mainwindow|driver_model|cli_device)$'

case "$MODE" in
address)
    # Full allocation stacks (Qt has no frame pointers) so that the one
    # suppressed leak is matched by its origin, not by a guess; ten frames
    # reach it and keep the slow unwinder affordable.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=10:strict_string_checks=1:check_initialization_order=1:suppressions=$ROOT/scripts/sanitizers/asan.supp"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    # Not the Wine stage: it runs the Windows half, which has no sanitizer.
    # Nor the scan of every float through the math functions: arithmetic
    # only, minutes of it, and nothing there for a sanitizer to see.
    SELECT=(-LE wine -E '^long_singlemath$')
    targets=(all)
    ;;
thread)
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/scripts/sanitizers/tsan.supp:print_suppressions=0"
    SELECT=(-R "$THREADED")
    # Only what those tests need.
    targets=(dvkctl dvk-sp tst_decode tst_serial tst_portcontrol tst_burn_window tst_cli_burn tst_fault_device
             tst_fault_close tst_discovery tst_mainwindow tst_driver_model tst_cli_device
             dvkdrivermodel)
    ;;
*)
    echo "unknown mode '$MODE' (address or thread)" >&2
    exit 2
    ;;
esac

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDVK_SANITIZE="$MODE" \
    -DDVK_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}"
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "${SELECT[@]}" "$@"
