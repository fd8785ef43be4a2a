#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (rsvg-convert, Debian librsvg2-bin).
# The PNGs are committed, so that a build needs no SVG renderer; run this after editing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" org.example.tulvex.svg -o "hicolor/${size}x${size}/org.example.tulvex.png"
done
