#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd "${NOTECRATE_BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)" --timeout 600
