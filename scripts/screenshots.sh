#!/usr/bin/env bash
# Builds the app and renders every screen under Xvfb at 600x700 into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s '-screen 0 1280x900x24' build/notecrate-screenshots docs/screenshots 600 700
