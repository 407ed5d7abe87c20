#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for a bounded time against its seed
# corpus in Tests/Fuzz/corpus/<target>/. New inputs the fuzzer finds go to build/fuzz/work/, never
# into the repository. Fails on any crash, leak, time-out or out-of-memory.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-60}"
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(FuzzResponseHandlers FuzzConfigCache FuzzPackageFile FuzzScriptParser FuzzServiceRequest FuzzPakFile
  FuzzPatchSettings FuzzS3Errors FuzzImageDecoders)

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

BIN=build/fuzz/Tests/Fuzz
WORK=build/fuzz/work
ARTIFACTS=build/fuzz/artifacts
mkdir -p "$ARTIFACTS"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

failed=()
for target in "${TARGETS[@]}"; do
  mkdir -p "$WORK/$target" "Tests/Fuzz/corpus/$target"
  log="build/fuzz/$target.log"
  echo "== $target: ${SECONDS_PER_TARGET} s" >&2
  if "$BIN/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$target-" \
      "$WORK/$target" "Tests/Fuzz/corpus/$target" >"$log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   $target: ${execs:-?} executions, no crash" >&2
  else
    echo "   $target: FAILED (see $log; the input is under $ARTIFACTS/)" >&2
    grep -E "ERROR: |SUMMARY: |Test unit written" "$log" | head -5 >&2 || true
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
