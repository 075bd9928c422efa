#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs is there.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/notecrate share/applications/notecrate.desktop \
  share/icons/hicolor/48x48/apps/notecrate.png share/icons/hicolor/128x128/apps/notecrate.png \
  share/icons/hicolor/256x256/apps/notecrate.png share/icons/hicolor/scalable/apps/notecrate.svg \
  share/notecrate/notecrateStyles.plist share/notecrate/translations/notecrate_de.qm \
  share/notecrate/help/vesper-export.html share/notecrate/help/vesper-export.de.html; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done
# The installed executable draws its first screen from the installed resources.
log="$(env -u NOTECRATE_RESOURCES QT_QPA_PLATFORM=offscreen NOTECRATE_QUIT_AFTER_FIRST_FRAME=1 \
  "$prefix/bin/notecrate" 2>&1)"
grep -q "Resources from $prefix/share/notecrate" <<<"$log" || { echo "$log" >&2; exit 1; }
