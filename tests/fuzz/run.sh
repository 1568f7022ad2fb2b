#!/usr/bin/env bash
# Runs every fuzz target for a bounded time from its committed seed corpus.
# usage: run.sh BUILD_NATIVE_DIR SECONDS_PER_TARGET
# Each corpus is copied to a temporary directory so the repository stays as
# it is. Exits non-zero when a target crashes (or is missing); crash inputs
# are kept under BUILD_NATIVE_DIR/fuzz-artifacts.
set -euo pipefail
BUILD="${1:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
SECONDS_EACH="${2:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
HERE="$(cd "$(dirname "$0")" && pwd)"
TARGETS=(inflate filetable delta)
failed=0
for name in "${TARGETS[@]}"; do
  target="$BUILD/tests/fuzz/fuzz_$name"
  if [ ! -x "$target" ]; then
    echo "fuzz_$name: not built" >&2
    failed=1
    continue
  fi
  work="$(mktemp -d)"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$HERE/corpus/$name"/* "$work/corpus/"
  rc=0
  "$target" "$work/corpus" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=70000 -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    >"$work/log" 2>&1 || rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || echo "?")
  if [ "$rc" != 0 ] || ls "$work/artifacts"/* >/dev/null 2>&1; then
    tail -n 30 "$work/log"
    echo "fuzz_$name FAILED (exit $rc); artifacts:" >&2
    mkdir -p "$BUILD/fuzz-artifacts"
    for a in "$work"/artifacts/*; do
      [ -e "$a" ] || continue
      cp "$a" "$BUILD/fuzz-artifacts/"
      echo "  $BUILD/fuzz-artifacts/$(basename "$a")" >&2
    done
    failed=1
  else
    echo "fuzz_$name: ${SECONDS_EACH}s, $runs runs, no crash"
  fi
  rm -rf "$work"
done
exit $failed
