#!/usr/bin/env bash
# Builds and runs the tests, each mode with its preset of CMakePresets.json (configure, build and
# test presets of the same name; an IDE or `cmake --workflow --preset NAME` runs the same).
#
#   scripts/test.sh               installs what is missing, builds into build/ and runs the whole suite
#                                 (preset "default")
#   scripts/test.sh --sanitize    the same suite built with clang, AddressSanitizer and
#                                 UndefinedBehaviorSanitizer in build-asan/ (preset "asan"); the
#                                 same build holds the libFuzzer targets, whose committed crash
#                                 inputs are tests of the suite
#   scripts/test.sh --fuzz-smoke  builds the fuzz targets in build-asan/ (nothing to do after
#                                 --sanitize), runs every committed crash input through them, then
#                                 each target on its seed corpus for FUZZ_SECONDS (20) seconds;
#                                 inputs that crash are saved in build-asan/fuzz-artifacts/
#
# Every preset builds with warnings as errors. Sanitizer runs read fuzz/lsan.supp, which silences
# only leaks inside libraries that are not built with the sanitizers (fontconfig, OpenSSL); our
# own code is never suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

mode="${1:-}"
case "$mode" in
"")
  bash scripts/build.sh
  ctest --preset default -j"$(nproc)"
  ;;

--sanitize)
  bash scripts/install-deps.sh
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan -j"$(nproc)"
  ;;

--fuzz-smoke)
  bash scripts/install-deps.sh
  dir=build-asan # the asan preset's binaryDir, which the fuzz presets share
  seconds="${FUZZ_SECONDS:-20}"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  # Every crash committed earlier must stay fixed: each is a test of the fuzz build.
  crashes=0
  ctest --preset fuzz -j"$(nproc)" || crashes=1
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
  artifacts="$root/$dir/fuzz-artifacts"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  # One target per core at a time; each writes its log and exit status into the artifacts folder.
  smoke() {
    local name="$1" corpus="fuzz/corpus/$1" binary="$root/$dir/fuzz/fuzz_$1" log="$artifacts/$1.log"
    local scratch status=0
    # New inputs go to a scratch folder; the committed corpus is only read.
    scratch="$(mktemp -d)"
    "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$scratch" "$corpus" >"$log" 2>&1 || status=$?
    rm -rf "$scratch"
    echo "$status" >"$artifacts/$name.status"
  }
  names=()
  for corpus in fuzz/corpus/*/; do
    name="$(basename "$corpus")"
    names+=("$name")
    while (($(jobs -rp | wc -l) >= $(nproc))); do
      wait -n || true
    done
    smoke "$name" &
  done
  wait
  failed=()
  for name in "${names[@]}"; do
    status="$(cat "$artifacts/$name.status" 2>/dev/null || echo missing)"
    stats="$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE|INITED)' "$artifacts/$name.log" 2>/dev/null | tail -1 || true)"
    if [ "$status" = "0" ]; then
      echo "fuzz $name: ok  $stats"
    else
      echo "fuzz $name: FAILED (exit $status), log: $artifacts/$name.log" >&2
      # The report itself (sanitizer, timeout or failed check) and its first frames, then the
      # log's end; stderr so that CI shows it next to the verdict.
      log="$artifacts/$name.log"
      if [ -f "$log" ]; then
        grep -m1 -A40 -E 'ERROR: |runtime error:|fuzz check failed|deadly signal|ALARM' "$log" >&2 || true
        tail -15 "$log" >&2
      fi
      failed+=("$name")
    fi
  done
  if ((crashes)); then
    echo "fuzz smoke failed: a committed crash input fails again (ctest above)" >&2
  fi
  if ((${#failed[@]})); then
    echo "fuzz smoke failed: ${failed[*]}" >&2
  fi
  if ((crashes || ${#failed[@]})); then
    exit 1
  fi
  ;;

*)
  echo "usage: $0 [--sanitize | --fuzz-smoke]" >&2
  exit 2
  ;;
esac
