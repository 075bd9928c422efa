#!/usr/bin/env bash
# Fails when clang-format (the repository's .clang-format) would change a tracked C++ file, and
# names each such file; `clang-format -i FILE` makes it right.
set -euo pipefail
cd "$(dirname "$0")/.."
# CI runs this first, on a machine that may have nothing installed yet.
command -v clang-format >/dev/null || bash scripts/install-deps.sh
count="$(git ls-files -- '*.cpp' '*.h' | wc -l)"
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
status=0
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror 2>"$report" || status=$?
# Each change is reported as "FILE:LINE:COL: error: code should be clang-formatted".
off="$(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' "$report" | sort -u)"
if [ -n "$off" ]; then
  echo "clang-format would change $(wc -l <<<"$off") of $count files (clang-format -i to fix):" >&2
  sed 's/^/  /' <<<"$off" >&2
  exit 1
fi
if ((status)); then
  # Not a formatting change: clang-format itself failed (a file it cannot read, a bad .clang-format).
  cat "$report" >&2
  exit 1
fi
echo "$count files formatted as .clang-format says"
