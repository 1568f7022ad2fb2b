#!/usr/bin/env bash
# updpack verify and diagnose on the bundled sample, end to end: the sample's
# installer updates copies of 1.0 and 1.1 to
# 2.0 with the installer's own engine, the version folders stay as they were,
# a package glued to another stub and a damaged data area are refused, and
# diagnose names the version of every installed file and the bytes of a file
# changed in place.
# usage: verify_run.sh DIST_DIR   (updpack and both stubs built there)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$(cd "$1" && pwd)"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
U="$DIST/updpack"

# The project's paths are relative to it: lay the folders out the same way.
V="$T/build/sample/versions"
bash "$ROOT/examples/sample/build.sh" "$V" >/dev/null
mkdir -p "$T/examples/sample"
cp "$ROOT/examples/sample/project.toml" "$T/examples/sample/"
"$U" build "$T/examples/sample/project.toml" -o "$T/setup.exe" >/dev/null
tree_sum() { (cd "$1" && find . -type f -printf '%p %m\n' | sort && find . -type f -print0 | sort -z | xargs -0 cat | sha256sum); }
before="$(tree_sum "$V")"

rc=0; out="$("$U" verify "$T/setup.exe" --old "$V/1.0" --old "$V/1.1" --new "$V/2.0")" || rc=$?
check "verify passes for 1.0 and 1.1" "0 2" "$rc $(grep -c '^PASS' <<<"$out")"
check "1.0: four updated, one added, one removed" "1" \
  "$(grep -c "^PASS $V/1.0: 4 updated, 1 added, 1 removed" <<<"$out")"
check "the version folders are untouched" "$before" "$(tree_sum "$V")"

head -c 65536 "$DIST/updstub-x86_64.exe" > "$T/other.exe"
tail -c +65537 "$T/setup.exe" >> "$T/other.exe"
rc=0; out="$("$U" verify "$T/other.exe" --old "$V/1.0" --new "$V/2.0")" || rc=$?
check "another stub: refused, and said so" "1 1" "$rc $(grep -c 'FAIL.*different stub' <<<"$out")"

cp "$T/setup.exe" "$T/damaged.exe"
size=$(stat -c %s "$T/damaged.exe")
for off in $(seq $((size - 1500)) 97 $((size - 16))); do
  printf '\xA5' | dd of="$T/damaged.exe" bs=1 seek="$off" conv=notrunc 2>/dev/null
done
rc=0; out="$("$U" verify "$T/damaged.exe" --old "$V/1.0" --old "$V/1.1" --new "$V/2.0")" || rc=$?
check "damaged data area: both fail" "1 2" "$rc $(grep -cE '^FAIL .*(ERR_READ|ERR_VERIFY)' <<<"$out")"

out="$("$U" diagnose "$T/setup.exe" "$V/1.1" --old "$V/1.0" --old "$V/1.1")"
check "diagnose 1.1: every changed file is 1.1's" "4" "$(grep -cE '^(docs.guide.txt|readme.txt|sample.exe|settings.ini) +delta +version [0-9]+ \((1.0, )?1.1\)' <<<"$out")"
check "diagnose 1.1: the new file is absent" "1" "$(grep -cE '^whatsnew.txt +whole +absent' <<<"$out")"
cp -r "$V/1.0" "$T/installed"
printf 'XYZW' | dd of="$T/installed/sample.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
mine="$(tree_sum "$T/installed")"
rc=0; out="$("$U" diagnose "$T/setup.exe" "$T/installed" --old "$V/1.0" --old "$V/1.1")" || rc=$?
check "diagnose: a changed program is unknown, nearest 1.0, at its bytes" "1 1" \
  "$rc $(grep -cE '^sample.exe +delta +unknown; nearest 1.0: [0-9]+ bytes? differs? at 0x10' <<<"$out")"
check "diagnose leaves the folder as it was" "$mine" "$(tree_sum "$T/installed")"
finish
