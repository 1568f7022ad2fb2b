#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time from the committed seed corpora.
# usage: run.sh BUILD_NATIVE_DIR SECONDS   (the time is shared by the targets)
# Each corpus is copied to a temporary directory so the repository stays as
# it is. Exits non-zero when a target crashes (or is missing).
set -euo pipefail
BUILD="${1:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
SECONDS_TOTAL="${2:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
HERE="$(cd "$(dirname "$0")" && pwd)"
TARGETS=(inflate delta)
EACH=$((SECONDS_TOTAL / ${#TARGETS[@]}))
((EACH < 10)) && EACH=10
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
rc=0
for t in "${TARGETS[@]}"; do
  TARGET="$BUILD/tests/fuzz/fuzz_$t"
  if [ ! -x "$TARGET" ]; then
    echo "fuzz: $TARGET not built" >&2
    rc=1; continue
  fi
  mkdir -p "$WORK/$t/corpus" "$WORK/$t/artifacts"
  cp "$HERE"/corpus/"$t"/* "$WORK/$t/corpus/"
  echo "fuzz_$t: ${EACH}s"
  trc=0
  "$TARGET" "$WORK/$t/corpus" -max_total_time="$EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=70000 -artifact_prefix="$WORK/$t/artifacts/" -print_final_stats=1 \
    >"$WORK/$t/log" 2>&1 || trc=$?
  tail -n 15 "$WORK/$t/log"
  if [ "$trc" != 0 ] || ls "$WORK/$t/artifacts"/* >/dev/null 2>&1; then
    echo "fuzz_$t FAILED (exit $trc); artifacts:" >&2
    for a in "$WORK/$t"/artifacts/*; do
      [ -e "$a" ] || continue
      mkdir -p "$BUILD/fuzz-artifacts"; cp "$a" "$BUILD/fuzz-artifacts/"
      echo "  $BUILD/fuzz-artifacts/$(basename "$a")" >&2
    done
    rc=1
  else
    echo "fuzz_$t: no crash"
  fi
done
exit $rc
