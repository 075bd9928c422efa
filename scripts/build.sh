#!/usr/bin/env bash
# Installs what is missing and builds into build/ with the "default" preset of CMakePresets.json;
# arguments go to the configure step (e.g. -DCMAKE_BUILD_TYPE=Debug).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default "$@" >/dev/null
cmake --build --preset default
