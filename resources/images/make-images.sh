#!/usr/bin/env bash
# Draws the app's images (twice the point size, for sharp display). Run from this folder;
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

# Google Keep: three note cards fanned out on a teal tile, the front one a checklist.
convert -size 160x160 xc:none \
  -fill '#00000022' -draw 'roundrectangle 14,18 148,152 30,30' \
  -fill '#1F8A84' -draw 'roundrectangle 12,12 146,146 30,30' \
  -fill '#F7B7C4' -draw 'push graphic-context translate 66,82 rotate -14 roundrectangle -30,-38 30,38 8,8 pop graphic-context' \
  -fill '#FFD95A' -draw 'push graphic-context translate 94,78 rotate 12 roundrectangle -30,-38 30,38 8,8 pop graphic-context' \
  -fill '#00000018' -draw 'roundrectangle 48,52 116,132 8,8' \
  -fill '#FFFFFF' -draw 'roundrectangle 46,48 114,128 8,8' \
  -fill '#1F8A84' -draw 'roundrectangle 54,60 68,74 3,3' -draw 'roundrectangle 54,82 68,96 3,3' \
  -stroke '#1F8A84' -strokewidth 3 -fill none -draw 'roundrectangle 55,105 67,117 3,3' \
  -stroke '#FFFFFF' -draw 'polyline 57,67 60,70 65,63' -draw 'polyline 57,89 60,92 65,85' \
  -stroke '#BFCBCA' -draw 'line 76,67 104,67' -draw 'line 76,89 104,89' -draw 'line 76,111 96,111' \
  appIcon_keep.png

# Evernote: an export file, a page with a folded corner and angle brackets, on a forest tile.
convert -size 160x160 xc:none \
  -fill '#00000022' -draw 'roundrectangle 14,18 148,152 30,30' \
  -fill '#2F5D3A' -draw 'roundrectangle 12,12 146,146 30,30' \
  -fill '#F4F1E8' -draw 'path "M 46,32 L 96,32 L 116,52 L 116,128 L 46,128 Z"' \
  -fill '#C9D8C4' -draw 'path "M 96,32 L 96,52 L 116,52 Z"' \
  -stroke '#3E8E52' -strokewidth 5 -fill none -draw 'polyline 72,70 60,82 72,94' -draw 'polyline 90,70 102,82 90,94' \
  -stroke '#B7C2B4' -strokewidth 3 -draw 'line 58,108 104,108' -draw 'line 58,116 90,116' \
  appIcon_evernote.png
