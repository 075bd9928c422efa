#!/usr/bin/env bash
# Draws the two pictures of the example Vesper export with ImageMagick's `convert`.
# The results are committed, so the example works without running this; run it again only
# to change the pictures. Metadata that would differ per run (timestamps) is left out.
set -euo pipefail
cd "$(dirname "$0")/VesperExport/Active Notes/Pictures"

# A harbour at low tide: sky, sea, mud flat, a sun and a leaning boat. 640x480 JPEG, 72 dpi.
convert -size 640x480 gradient:'#f6c88a'-'#7fa7c9' \
  -fill '#35617f' -draw 'rectangle 0,300 640,360' \
  -fill '#8a7558' -draw 'rectangle 0,360 640,480' \
  -fill '#fff3c4' -draw 'circle 470,150 470,190' \
  -fill '#b33a2e' -draw 'polygon 180,380 330,368 312,400 200,410' \
  -stroke '#3b2b1d' -strokewidth 4 -draw 'line 255,385 240,250' \
  -stroke none -fill '#f2efe6' -draw 'polygon 243,260 244,370 310,360' \
  -units PixelsPerInch -density 72 -strip -quality 88 harbour.jpg

# A pencil sketch of a shelf on graph paper. 400x300 PNG.
convert -size 400x300 xc:'#fbfaf5' \
  -stroke '#d5e3ee' -strokewidth 1 \
  -draw 'path "M 0,20 L 400,20 M 0,40 L 400,40 M 0,60 L 400,60 M 0,80 L 400,80 M 0,100 L 400,100 M 0,120 L 400,120 M 0,140 L 400,140 M 0,160 L 400,160 M 0,180 L 400,180 M 0,200 L 400,200 M 0,220 L 400,220 M 0,240 L 400,240 M 0,260 L 400,260 M 0,280 L 400,280"' \
  -draw 'path "M 20,0 L 20,300 M 60,0 L 60,300 M 100,0 L 100,300 M 140,0 L 140,300 M 180,0 L 180,300 M 220,0 L 220,300 M 260,0 L 260,300 M 300,0 L 300,300 M 340,0 L 340,300 M 380,0 L 380,300"' \
  -stroke '#444444' -strokewidth 6 -draw 'line 60,110 340,110' -draw 'line 60,210 340,210' \
  -strokewidth 3 -draw 'line 100,110 100,140' -draw 'line 300,110 300,140' \
  -draw 'line 100,210 100,240' -draw 'line 300,210 300,240' \
  -fill none -stroke '#c0392b' -strokewidth 2 -draw 'line 360,110 360,210' \
  -draw 'line 352,110 368,110' -draw 'line 352,210 368,210' \
  -strip -define png:exclude-chunks=date,time shelf-sketch.png
