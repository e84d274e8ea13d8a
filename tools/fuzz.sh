#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang-14 and runs each for a
# bounded time on a copy of its seed corpus. Any finding (crash, failed
# check, leak, timeout, sanitizer report) fails the run and names the
# reproducer; run it again with: <build>/fuzz/<target> <reproducer>
#   FUZZ_SECONDS  seconds per target (default 60; no limit when FUZZ_RUNS or
#                 FUZZ_SOAK is set and FUZZ_SECONDS is not)
#   FUZZ_RUNS     inputs tried per target (libFuzzer's -runs; default: no limit)
#   FUZZ_SOAK=1   the soak: 10,000,000 inputs per target (FUZZ_RUNS may change
#                 the count), however long that takes; the slower targets try
#                 about 3,000 inputs a second here, an hour each
#   FUZZ_JOBS     targets run at once (default: the number of cores)
#   FUZZ_TARGETS  the targets to run (default: all)
#   BUILD_DIR     the build tree (default build-fuzz)
# CI runs the default: one minute per target.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-fuzz}
runs_limit=${FUZZ_RUNS:-}
[ "${FUZZ_SOAK:-0}" = 1 ] && runs_limit=${runs_limit:-10000000}
if [ -n "$runs_limit" ]; then
    seconds=${FUZZ_SECONDS:-0} # 0: libFuzzer sets no time limit
else
    seconds=${FUZZ_SECONDS:-60}
fi
jobs=${FUZZ_JOBS:-$(nproc)}

source tools/packages.sh
need_packages "${base_packages[@]}" clang-14 libclang-rt-14-dev llvm-14

# Longest input worth trying: a whole serial settings run is 24 + 3 * 260
# bytes, a USB reply buffer 256; a read holds at most 31 key codes and a
# write 60, and the round trip works on neighbouring codes.
declare -A maxlen=(
    [fuzz_serialreply]=1024
    [fuzz_hidreply]=256
    [fuzz_keycodes]=64
    [fuzz_keycodetext]=256
    [fuzz_settingswrite]=2048
    [fuzz_settingsjson]=4096
)
targets=(${FUZZ_TARGETS:-fuzz_serialreply fuzz_hidreply fuzz_keycodes fuzz_keycodetext fuzz_settingswrite fuzz_settingsjson})

start=$SECONDS
# Debug keeps Q_ASSERT in the code under test; -O1 keeps it quick.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1" -DTAVRIN_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers
echo "fuzz build: $((SECONDS - start)) s"

# AddressSanitizer holds freed memory back (256 MB by default) to catch a use
# after free. These targets make many small short-lived strings, and with the
# default the key-code and write targets passed 800 MB within two minutes,
# still climbing: a soak would end at the rss limit, a false out-of-memory.
# A 1 MB quarantine still catches a use right after the free; with it and
# shorter allocation stacks the write target stays at 64 MB and runs 65%
# more inputs in the same time, the key-code target grows by a few MB per
# 100,000 inputs, ever more slowly.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:quarantine_size_mb=1:thread_local_quarantine_size_kb=64:malloc_context_size=10"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14
export LC_ALL=C.UTF-8

runs=$build/fuzz-runs
rm -rf "$runs"
mkdir -p "$runs"

run_one() { # target
    local target=$1 dir=$runs/$1
    mkdir -p "$dir/corpus" "$dir/findings"
    cp "$root/fuzz/corpus/$target/"* "$dir/corpus/"
    local extra=()
    [ -f "$root/fuzz/$target.dict" ] && extra+=("-dict=$root/fuzz/$target.dict")
    [ -n "$runs_limit" ] && extra+=("-runs=$runs_limit")
    local rc=0
    "$build/fuzz/$target" "$dir/corpus" "${extra[@]}" \
        -max_total_time="$seconds" -max_len="${maxlen[$target]:-1024}" \
        -timeout=10 -rss_limit_mb=2048 -error_exitcode=77 -timeout_exitcode=78 \
        -artifact_prefix="$dir/findings/" -print_final_stats=1 \
        >"$dir/log" 2>&1 || rc=$?
    echo "$rc" >"$dir/rc"
}

start=$SECONDS
pids=()
for target in "${targets[@]}"; do
    [ -x "$build/fuzz/$target" ] || { echo "no such fuzz target: $target" >&2; exit 2; }
    run_one "$target" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}"
        pids=("${pids[@]:1}")
    fi
done
wait

failed=0
for target in "${targets[@]}"; do
    dir=$runs/$target
    rc=$(cat "$dir/rc")
    runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n1)
    cov=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -n1 || true)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$dir/log" | tail -n1)
    if [ "$rc" -eq 0 ]; then
        echo "$target: ok, ${runs_done:-?} runs, ${cov:-cov: ?}, corpus $(ls "$dir/corpus" | wc -l), peak rss ${rss:-?} MB"
        continue
    fi
    failed=1
    echo "$target: FAILED (exit $rc); log: $dir/log"
    grep -E '^(==[0-9]+==|SUMMARY|.*runtime error|.*check failed)' "$dir/log" | head -n 20 || true
    for finding in "$dir"/findings/*; do
        [ -e "$finding" ] && echo "reproducer: $finding"
    done
done
echo "fuzzing: $((SECONDS - start)) s"
exit $failed
