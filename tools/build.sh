#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and either starts the utility or runs
# the tests:  bash tools/build.sh run | test
set -euo pipefail

cd "$(dirname "$0")/.."
what=${1:-run}
build=${BUILD_DIR:-build}

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6serialport6-dev
    libhidapi-dev libgl-dev
)
if [ "$what" = test ]; then
    packages+=(xvfb xdotool imagemagick x11-utils)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

case "$what" in
run)
    exec "$build/tavrin"
    ;;
test)
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
