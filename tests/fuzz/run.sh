#!/usr/bin/env bash
# Runs every fuzz target for a bounded time from its committed seed corpus.
# usage: run.sh BUILD_NATIVE_DIR SECONDS_PER_TARGET
#        run.sh BUILD_NATIVE_DIR --total SECONDS   (the time shared among the targets;
#          UPD_FUZZ_SECONDS in the environment replaces it: a quick check)
# Each target's corpus grows in BUILD_NATIVE_DIR/fuzz-corpus/NAME (seeded
# from tests/fuzz/corpus on every run), so a later campaign goes on where
# the last one stopped and the repository stays as it is. Exits non-zero
# when a target crashes (or is missing); crash inputs are kept under
# BUILD_NATIVE_DIR/fuzz-artifacts.
set -euo pipefail
BUILD="${1:?usage: run.sh BUILD_NATIVE_DIR SECONDS | --total SECONDS}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# target:seed corpus (the 32-bit decoder shares the decoder's seeds)
TARGETS=(inflate:inflate inflate32:inflate filetable:filetable delta:delta installer:installer)
if [ "${2:-}" = "--total" ]; then
  TOTAL="${UPD_FUZZ_SECONDS:-${3:?usage: run.sh BUILD_NATIVE_DIR --total SECONDS}}"
  SECONDS_EACH=$(( TOTAL / ${#TARGETS[@]} ))
else
  SECONDS_EACH="${2:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
fi
failed=0
for entry in "${TARGETS[@]}"; do
  name="${entry%%:*}" seeds="${entry#*:}"
  target="$BUILD/tests/fuzz/fuzz_$name"
  if [ ! -x "$target" ]; then
    echo "fuzz_$name: not built" >&2
    failed=1
    continue
  fi
  corpus="$BUILD/fuzz-corpus/$name"
  work="$(mktemp -d)"
  mkdir -p "$corpus" "$work/artifacts"
  cp "$HERE/corpus/$seeds"/* "$corpus/"
  rc=0
  "$target" "$corpus" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=70000 -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    >"$work/log" 2>&1 || rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || echo "?")
  if [ "$rc" != 0 ] || ls "$work/artifacts"/* >/dev/null 2>&1; then
    tail -n 30 "$work/log"
    echo "fuzz_$name FAILED (exit $rc); artifacts:" >&2
    mkdir -p "$BUILD/fuzz-artifacts"
    for a in "$work"/artifacts/*; do
      [ -e "$a" ] || continue
      cp "$a" "$BUILD/fuzz-artifacts/$name-$(basename "$a")"
      echo "  $BUILD/fuzz-artifacts/$name-$(basename "$a")" >&2
    done
    failed=1
  else
    echo "fuzz_$name: ${SECONDS_EACH}s, $runs runs, corpus $(ls "$corpus" | wc -l) inputs, no crash"
  fi
  rm -rf "$work"
done
exit $failed
