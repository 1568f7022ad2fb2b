#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time from the committed seed corpus.
# usage: run.sh BUILD_NATIVE_DIR SECONDS
# The corpus is copied to a temporary directory so the repository stays as it
# is. Exits non-zero when a target crashes (or is missing).
set -euo pipefail
BUILD="${1:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
SECONDS_TOTAL="${2:?usage: run.sh BUILD_NATIVE_DIR SECONDS}"
HERE="$(cd "$(dirname "$0")" && pwd)"
TARGET="$BUILD/tests/fuzz/fuzz_inflate"
if [ ! -x "$TARGET" ]; then
  echo "fuzz: $TARGET not built" >&2
  exit 1
fi
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/corpus" "$WORK/artifacts"
cp "$HERE"/corpus/inflate/* "$WORK/corpus/"
echo "fuzz_inflate: ${SECONDS_TOTAL}s"
rc=0
"$TARGET" "$WORK/corpus" -max_total_time="$SECONDS_TOTAL" -timeout=10 -rss_limit_mb=2048 \
  -max_len=70000 -artifact_prefix="$WORK/artifacts/" -print_final_stats=1 \
  >"$WORK/log" 2>&1 || rc=$?
tail -n 15 "$WORK/log"
if [ "$rc" != 0 ] || ls "$WORK/artifacts"/* >/dev/null 2>&1; then
  echo "fuzz_inflate FAILED (exit $rc); artifacts:" >&2
  for a in "$WORK"/artifacts/*; do
    [ -e "$a" ] || continue
    mkdir -p "$BUILD/fuzz-artifacts"; cp "$a" "$BUILD/fuzz-artifacts/"
    echo "  $BUILD/fuzz-artifacts/$(basename "$a")" >&2
  done
  exit 1
fi
echo "fuzz_inflate: no crash"
