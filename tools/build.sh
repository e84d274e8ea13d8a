#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and then
#   run   starts the utility
#   sim   starts the utility beside a simulated reader on a pseudo-terminal
#   test  runs the whole test suite
#   deb   builds the Debian package
set -euo pipefail

cd "$(dirname "$0")/.."
what=${1:-run}
build=${BUILD_DIR:-build}

source tools/packages.sh
packages=("${base_packages[@]}")
case "$what" in
test) packages+=(xvfb xdotool imagemagick x11-utils) ;;
deb) packages+=(dpkg-dev file) ;;
esac
need_packages "${packages[@]}"

version=$(sed -n 's/^project(Tavrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

case "$what" in
run)
    exec "$build/tavrin"
    ;;
sim)
    port="${XDG_RUNTIME_DIR:-/tmp}/tavrin-simulated-reader"
    log="$build/readersim.log"
    "$build/tools/tavrin-readersim" --link "$port" --tokens 5 >"$log" 2>&1 &
    sim=$!
    trap 'kill $sim 2>/dev/null' EXIT
    for _ in $(seq 50); do [ -L "$port" ] && break; sleep 0.1; done
    echo "Simulated reader: choose \"Serial Port\", type $port and connect (its log: $log)"
    "$build/tavrin"
    ;;
deb)
    (cd "$build" && cpack -G DEB)
    bash tools/check-deb.sh "$build/tavrin_${version}_$(dpkg --print-architecture).deb"
    ;;
test)
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run|sim|test|deb" >&2
    exit 2
    ;;
esac
