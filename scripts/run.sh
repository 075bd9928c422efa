#!/usr/bin/env bash
# Sets up, builds and starts Notecrate. Without a display it converts the bundled example
# Vesper export headless and says how to start the window under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/notecrate "$@"
fi
echo "No display here: converting the bundled example export instead." >&2
echo "To open the window without a display: xvfb-run -s '-screen 0 1280x900x24' build/notecrate" >&2
exec build/notecrate convert vesper examples/VesperExport
