#!/usr/bin/env bash
# Draws the application icon (the shapes of notecrate.svg) as PNG in the sizes desktops look
# for. Run from this folder; needs ImageMagick. The results are committed.
set -euo pipefail
convert -size 256x256 xc:none \
  -fill '#2F6FDB' -draw 'roundrectangle 16,16 240,240 48,48' \
  -stroke '#9C7A45' -strokewidth 6 \
  -fill '#F4E3C3' -draw 'roundrectangle 60,84 196,192 10,10' \
  -fill '#E6C892' -draw 'roundrectangle 52,68 204,96 8,8' \
  -draw 'line 60,128 196,128' -draw 'line 60,160 196,160' \
  -strokewidth 4 -fill '#FFFFFF' -draw 'roundrectangle 108,104 148,120 4,4' \
  notecrate-256.png
for size in 128 48; do
  convert notecrate-256.png -resize ${size}x${size} notecrate-${size}.png
done
