#!/usr/bin/env bash
# Prints the decoder/compressor benchmark tables (both decoder builds), the
# patch tables and the threaded build against one thread.
# usage: run.sh BUILD_DIR   (the build root holding native/, or native/ itself)
# Goals: ours >= 1.5x zlib at -O2 and >= 1.0x with the stub's flags;
# our compressed size <= 1.01x libdeflate level 12.
set -euo pipefail
BUILD="${1:?usage: run.sh BUILD_DIR}"
[ -d "$BUILD/native/bench" ] && BUILD="$BUILD/native"
BIN="$BUILD/bench"

# Corpora of real files, a few MiB each.
pick() {  # max-bytes files... : prints a comma list of files up to the size
  local max=$1; shift; local total=0 list=""
  for f in "$@"; do
    [ -f "$f" ] || continue
    local s; s=$(stat -Lc %s "$f")
    ((total + s > max)) && continue
    total=$((total + s)); list="${list:+$list,}$f"
  done
  echo "$list"
}
EXES=$(pick 8000000 "$BUILD/native_tests" "$BUILD/updpack" /usr/bin/cmake /usr/bin/ninja)
LIBS=$(pick 8000000 $(ls -S /usr/lib/x86_64-linux-gnu/*.so* 2>/dev/null | head -40))
TEXT=$(pick 8000000 $(find /usr/share/doc /usr/share/common-licenses /usr/include -type f \
        \( -name '*.h' -o -name 'copyright' -o -name '*.txt' \) 2>/dev/null | sort | head -3000))

# BENCH_ONLY=patch, build or checksum runs that section alone.
if [ -z "${BENCH_ONLY:-}" ]; then
  for flavour in o2 stub; do
    "$BIN/bench_inflate_$flavour" "exes=$EXES" "libs=$LIBS" "text=$TEXT"
    echo
  done
fi
if [ -z "${BENCH_ONLY:-}" ] || [ "$BENCH_ONLY" = checksum ]; then
  echo "== installed-file checksum against a plain read (100 MiB file)"
  "$BIN/bench_checksum" "$BUILD/bench_checksum.dat"
  rm -f "$BUILD/bench_checksum.dat"
  echo
fi

[ "${BENCH_ONLY:-}" = checksum ] && exit 0
[ "${BENCH_ONLY:-}" = build ] || "$(dirname "$0")/patch.sh" "$(cd "$BUILD/.." && pwd)"
echo
[ "${BENCH_ONLY:-}" = patch ] || "$(dirname "$0")/build.sh" "$(cd "$BUILD/.." && pwd)"
