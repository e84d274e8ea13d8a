#!/usr/bin/env bash
# Builds a Release tree and runs every benchmark in bench/, then prints one
# table of their figures against their targets. Not part of the test suite.
#   tools/bench.sh [RUNS]     RUNS: start-ups of each program (default 20)
# The build goes to $BUILD_DIR (default build-release). The start-up bench
# needs an X server: an Xvfb of its own is started for it.
# Exits non-zero when a target was missed.
set -euo pipefail

cd "$(dirname "$0")/.."
runs=${1:-20}
build=${BUILD_DIR:-build-release}

source tools/packages.sh
need_packages "${base_packages[@]}" libxcb1-dev xvfb

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target \
    tavrin barewindow startupbench keycodebench pollbench hidreadbench hidwritebench serialreadbench applybench

work=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A free display, chosen by the server itself.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
display=":$(head -n1 "$work/display")"

status=0
run() { # name command...
    local name=$1
    shift
    echo "== $name"
    if ! "$@" | tee "$work/$name.out"; then
        status=1
    fi
    echo
}

b="$build/bench"
run startup env DISPLAY="$display" "$b/startupbench" "$build/tavrin" "$b/barewindow" "$runs"
run hidread env QT_QPA_PLATFORM=offscreen "$b/hidreadbench"
run hidwrite env QT_QPA_PLATFORM=offscreen "$b/hidwritebench"
run serialread "$b/serialreadbench"
run apply env QT_QPA_PLATFORM=offscreen "$b/applybench"
run poll env QT_QPA_PLATFORM=offscreen "$b/pollbench"
run keycodes "$b/keycodebench"

# pollbench predates the BENCH lines; its own lines say the same.
poll=$(sed -n 's/^ratio 1 MB \/ 1 KB, poll: median \([0-9.]*\).*/\1/p' "$work/poll.out")
if [ -n "$poll" ]; then
    small=$(awk -F'|' '/^1 KB/ { split($2, f, " "); print f[1] }' "$work/poll.out")
    large=$(awk -F'|' '/^1 MB/ { split($2, f, " "); print f[1] }' "$work/poll.out")
    verdict=$(awk -v r="$poll" 'BEGIN { print (r <= 2.0) ? "met" : "MISSED" }')
    echo "BENCH|output tab poll, 1 MB vs 1 KB shown|${large} us vs ${small} us|${poll}x|<= 2x|$verdict" >>"$work/poll.out"
fi

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1)"
{
    echo "BENCH|what|figure|ratio|target|verdict"
    for name in startup hidread hidwrite serialread apply poll keycodes; do
        grep '^BENCH|' "$work/$name.out" || true
    done
} | cut -d'|' -f2- | column -t -s'|'
exit $status
