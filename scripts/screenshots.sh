#!/usr/bin/env bash
# Builds the app and renders every screen under Xvfb at 600x700 into docs/screenshots/, and a
# few of them (start, Notes, Keep, errors, backup, list) in a wide window, 1280x900, into docs/screenshots/wide/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s '-screen 0 1280x900x24' build/notecrate-screenshots docs/screenshots 600 700
xvfb-run -a -s '-screen 0 1920x1080x24' build/notecrate-screenshots docs/screenshots/wide 1280 900 \
  1-start 2-notes 3b-notes-error 4c-keep 5-vesper-error 5c-evernote-error 6-backup 6b-list
