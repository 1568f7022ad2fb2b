#!/usr/bin/env bash
# updpack build and inspect as a publisher runs them: the bundled sample (with
# a large added file, so that the data spills into volume files) builds to
# the same bytes with one thread or several; stderr stays empty when it is not
# a terminal; inspect reads the result back, names a missing volume, and
# answers a cut installer with exit code 1 and the reason.
# usage: build_inspect.sh DIST_DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
UPDPACK="$DIST/updpack"

"$ROOT/examples/sample/build.sh" "$T/versions" >/dev/null
mkdir -p "$T/versions/2.0/tools"
head -c 1500000 "$UPDPACK" > "$T/versions/2.0/tools/big.bin"
cat > "$T/project.toml" <<'TOML'
[installer]
output = "setup.exe"
title = "Sample 2.0"
[update]
old = ["versions/1.0", "versions/1.1"]
new = "versions/2.0"
volume_size = 131072
[[update.rule]]
files = "settings.ini"
regions = [ { pattern = ";<user>", length = 53 } ]
TOML

for jobs in 1 2 5; do
  mkdir -p "$T/j$jobs"
  "$UPDPACK" build "$T/project.toml" --stub "$DIST/updstub-i686.exe" --jobs "$jobs" \
    -o "$T/j$jobs/setup.exe" >"$T/j$jobs.out" 2>"$T/j$jobs.err"
done
check "volume files written" yes "$([ -f "$T/j1/setup.D02" ] && echo yes || echo no)"
same=yes
for j in 2 5; do
  [ "$(ls "$T/j1")" = "$(ls "$T/j$j")" ] || same=no
  for f in "$T"/j1/*; do cmp -s "$f" "$T/j$j/$(basename "$f")" || same=no; done
done
check "same bytes with 1, 2 and 5 jobs" yes "$same"
check "no progress line when stderr is a file" "" "$(cat "$T/j1.err")"
check "summary lists the volumes" yes "$(grep -q 'volume 02:' "$T/j1.out" && echo yes || echo no)"

rc=0; "$UPDPACK" inspect "$T/j1/setup.exe" >"$T/inspect.out" 2>&1 || rc=$?
check "inspect reads a sound installer" 0 "$rc"
check "inspect shows the kept region" yes "$(grep -q 'after pattern ";<user>"' "$T/inspect.out" && echo yes || echo no)"
check "inspect finds every volume" no "$(grep -q "missing:" "$T/inspect.out" && echo yes || echo no)"

rm "$T/j1/setup.D02"
rc=0; "$UPDPACK" inspect --data "$T/j1/setup.exe" >"$T/missing.out" 2>&1 || rc=$?
check "inspect names the missing volume and fails" "yes 1" \
  "$(grep -q "missing: $T/j1/setup.D02" "$T/missing.out" && echo yes || echo no) $rc"

head -c 90000 "$T/j2/setup.exe" > "$T/cut.exe"
rc=0; "$UPDPACK" inspect "$T/cut.exe" >/dev/null 2>"$T/cut.err" || rc=$?
check "inspect of a cut installer fails" 1 "$rc"
check "and says why" yes "$(grep -q 'cut short\|runs past\|ends' "$T/cut.err" && echo yes || echo no)"
finish
