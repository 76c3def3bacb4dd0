#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]      (default 60, build-fuzz)
# Targets run two at a time. The corpus grows in BUILD_DIR/corpus/<target>,
# seeded from the system's own files by make_seeds; a crash leaves its input
# in BUILD_DIR/artifacts/ and fails the run. FUZZ_RUNS=N runs each target for
# N executions instead of a time (the long runs use it).
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-60}
BUILD_DIR=${2:-build-fuzz}
CXX_FUZZ=${CXX_FUZZ:-clang++-14}
# Inputs larger than a few pages add time per run, not paths.
MAX_LEN=${FUZZ_MAX_LEN:-16384}

CXX="$CXX_FUZZ" cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDVK_FUZZ=ON >/dev/null
# The fuzzers are those fuzz/CMakeLists.txt lists.
mapfile -t targets <"$BUILD_DIR/fuzz/fuzzers.txt"
cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzzers

seeds="$BUILD_DIR/corpus-seed"
rm -rf "$seeds"
"$BUILD_DIR/bin/make_seeds" "$seeds"
# A folder of seeds no fuzzer reads is a name out of step.
for dir in "$seeds"/*/; do
    name=$(basename "$dir")
    if ! printf '%s\n' "${targets[@]}" | grep -qx "fuzz_$name"; then
        echo "FUZZ: make_seeds wrote seeds for '$name', which no fuzzer in fuzz/CMakeLists.txt is" >&2
        exit 1
    fi
done
mkdir -p "$BUILD_DIR/artifacts" "$BUILD_DIR/logs"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

run_one() {
    local t=$1 short=${1#fuzz_}
    local corpus="$BUILD_DIR/corpus/$short"
    mkdir -p "$corpus"
    local limit=(-max_total_time="$SECONDS_PER_TARGET")
    [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
    # A fuzzer without seeds starts from its corpus alone.
    local from=("$corpus")
    [ -d "$seeds/$short" ] && from+=("$seeds/$short")
    "$BUILD_DIR/bin/$t" "${from[@]}" "${limit[@]}" -max_len="$MAX_LEN" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$BUILD_DIR/artifacts/$short-" >"$BUILD_DIR/logs/$short.log" 2>&1
}

status=0
pids=()
names=()
for t in "${targets[@]}"; do
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -ge 2 ]; then
        wait "${pids[0]}" || true
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || true; done

for t in "${targets[@]}"; do
    short=${t#fuzz_}
    log="$BUILD_DIR/logs/$short.log"
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    secs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | awk '{print $5}' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
    if grep -qE '^==[0-9]+==ERROR|runtime error:|check failed:|deadly signal|Test unit written' "$log"; then
        echo "FUZZ $short: FAILED after ${runs:-?} runs (log: $log)"
        grep -E 'ERROR|runtime error|check failed|Test unit written' "$log" | head -5
        status=1
    else
        echo "FUZZ $short: ok, ${runs:-0} runs in ${secs:-?} s, coverage ${cov:-?} edges"
    fi
done
exit $status
