#!/usr/bin/env bash
# Builds and runs the tests.
#
#   scripts/test.sh               installs what is missing, builds into build/ and runs the whole suite
#   scripts/test.sh --sanitize    the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer
#                                 in build-asan/ (gcc)
#   scripts/test.sh --fuzz-smoke  builds the fuzz targets with clang in build-fuzz/ and runs each on its
#                                 seed corpus for FUZZ_SECONDS (30) seconds; inputs that crash are saved
#                                 in build-fuzz/fuzz-artifacts/
#
# Sanitizer runs read fuzz/lsan.supp, which silences only leaks inside libraries that are not built
# with the sanitizers (fontconfig, OpenSSL); our own code is never suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

mode="${1:-}"
case "$mode" in
"")
  bash scripts/build.sh
  cd "${NOTECRATE_BUILD_DIR:-build}"
  ctest --output-on-failure -j"$(nproc)" --timeout 600
  ;;

--sanitize)
  bash scripts/install-deps.sh
  dir="${NOTECRATE_ASAN_DIR:-build-asan}"
  # -O1 with line tables keeps the build and the run quick while stacks stay readable.
  cmake -S . -B "$dir" -G Ninja -DNOTECRATE_SANITIZE=ON -DNOTECRATE_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1" >/dev/null
  cmake --build "$dir"
  export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:abort_on_error=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
  cd "$dir"
  ctest --output-on-failure -j"$(nproc)" --timeout 900
  ;;

--fuzz-smoke)
  bash scripts/install-deps.sh
  dir="${NOTECRATE_FUZZ_DIR:-build-fuzz}"
  seconds="${FUZZ_SECONDS:-30}"
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DNOTECRATE_FUZZ=ON -DNOTECRATE_BUILD_TESTS=OFF \
    -DNOTECRATE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" >/dev/null
  cmake --build "$dir" --target fuzzers
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
    # Every crash committed earlier must stay fixed.
    if [ -d "fuzz/crashes/$name" ] && [ -n "$(ls -A "fuzz/crashes/$name")" ]; then
      "$binary" -timeout=20 "fuzz/crashes/$name"/* >"$log.crashes" 2>&1 || status=$?
    fi
    if [ "$status" -eq 0 ]; then
      # New inputs go to a scratch folder; the committed corpus is only read.
      scratch="$(mktemp -d)"
      "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$scratch" "$corpus" >"$log" 2>&1 || status=$?
      rm -rf "$scratch"
    fi
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
      for log in "$artifacts/$name.log.crashes" "$artifacts/$name.log"; do
        [ -f "$log" ] || continue
        grep -m1 -A40 -E 'ERROR: |runtime error:|fuzz check failed|deadly signal|ALARM' "$log" >&2 || true
        tail -15 "$log" >&2
      done
      failed+=("$name")
    fi
  done
  if ((${#failed[@]})); then
    echo "fuzz smoke failed: ${failed[*]}" >&2
    exit 1
  fi
  ;;

*)
  echo "usage: $0 [--sanitize | --fuzz-smoke]" >&2
  exit 2
  ;;
esac
