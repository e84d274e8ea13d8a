#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build tree of its own and runs the whole test suite there. Any report fails
# the run: UBSan stops at its first error, ASan at every error and at exit
# for leaks.
#   BUILD_DIR  the build tree (default build-asan)
set -euo pipefail

cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-asan}

source tools/packages.sh
need_packages "${base_packages[@]}" xvfb xdotool imagemagick x11-utils

# -O1 keeps the instrumented tests quick without hiding the stack traces.
flags="-O1 -fsanitize=address,undefined -fno-omit-frame-pointer"
start=$SECONDS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$build" -j"$(nproc)"
echo "sanitizer build: $((SECONDS - start)) s"

# ASan's reports (leaks included) go to files: a program that a test starts
# (the simulator, the real window in e2e_serial) may die or be killed without
# the test noticing, but its report stays behind. UBSan's go to the failing
# program's output.
reports=$PWD/$build/sanitizer-reports
[[ $build = /* ]] && reports=$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
# No leak needs a suppression: the GUI tests run on the offscreen platform and
# e2e_serial ends the real window with a signal, before any leak check.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
start=$SECONDS
status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" || status=$?
echo "sanitizer tests: $((SECONDS - start)) s"

shopt -s nullglob
found=("$reports"/*)
if [ ${#found[@]} -gt 0 ]; then
    for report in "${found[@]}"; do
        echo "=== sanitizer report: $report"
        head -n 60 "$report"
    done
    exit 1
fi
exit "$status"
