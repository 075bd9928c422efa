#!/usr/bin/env bash
# Draws the app's three images (twice the point size, for sharp display). Run from this folder;
# needs ImageMagick. The results are committed, so building never needs this.
set -euo pipefail

# The Notes app: a ruled notepad with binder rings.
convert -size 160x160 xc:none \
  -fill '#00000022' -draw 'roundrectangle 14,18 148,152 30,30' \
  -fill '#FFFDF6' -stroke '#D9D2BE' -strokewidth 2 -draw 'roundrectangle 12,12 146,146 30,30' \
  -stroke none -fill '#F5C542' -draw 'path "M 13,42 L 13,40 Q 13,13 40,13 L 118,13 Q 145,13 145,40 L 145,42 Z"' \
  -stroke '#E4DCC6' -strokewidth 3 \
  -draw 'line 32,70 126,70' -draw 'line 32,92 126,92' -draw 'line 32,114 100,114' \
  -stroke '#7A6A45' -strokewidth 4 -fill none \
  -draw 'roundrectangle 42,4 50,30 4,4' -draw 'roundrectangle 75,4 83,30 4,4' -draw 'roundrectangle 108,4 116,30 4,4' \
  appIcon_notes.png

# Vesper: a quill over a deep slate tile.
convert -size 160x160 xc:none \
  -fill '#00000022' -draw 'roundrectangle 14,18 148,152 30,30' \
  -fill '#2E3A4B' -draw 'roundrectangle 12,12 146,146 30,30' \
  -fill '#E9EEF5' -draw 'path "M 112,34 Q 70,46 54,100 L 48,124 L 60,104 Q 98,92 112,34 Z"' \
  -stroke '#8FA3BF' -strokewidth 3 -fill none -draw 'path "M 104,46 Q 76,70 54,114"' \
  appIcon_vesper.png

# The archive: a page with a folded corner and a small crate on it.
convert -size 104x126 xc:none \
  -fill '#00000022' -draw 'path "M 12,6 L 68,6 L 98,36 L 98,124 L 12,124 Z"' \
  -fill '#FFFFFF' -stroke '#8C98A8' -strokewidth 2 -draw 'path "M 8,2 L 66,2 L 96,32 L 96,120 L 8,120 Z"' \
  -fill '#DCE3EC' -draw 'path "M 66,2 L 66,32 L 96,32 Z"' \
  -stroke none -fill '#C98B4B' -draw 'rectangle 28,58 76,96' \
  -fill '#A86F36' -draw 'rectangle 28,58 76,66' -draw 'rectangle 49,58 55,96' \
  backupFileIcon.png
