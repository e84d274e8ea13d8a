#!/usr/bin/env bash
# Renders the fixed-size icons from the drawing; run after changing it and
# commit the results, so that a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
source ../../packages.sh
need_packages librsvg2-bin
cd hicolor
for size in 16 32 48 64 128 256; do
    mkdir -p "${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" scalable/apps/tavrin.svg -o "${size}x${size}/apps/tavrin.png"
done
