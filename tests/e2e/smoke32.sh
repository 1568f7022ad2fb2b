#!/usr/bin/env bash
# The shipped i686 stub, run the way most users run it: a 32-bit program on
# 64-bit Windows (a WoW64 Wine prefix, the 32-bit side emulated by QEMU).
# Each start costs about a minute here, so the runs are few and chosen.
# usage: smoke32.sh DIST_DIR WIZARD_WALK   (WINEPREFIX is the WoW64 prefix,
#        a wineserver runs; WIZARD_WALK is the i686 wizard driver, which
#        runs emulated like the stub and reads its list views in its own width)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
WALK="$2"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
run() { local rc=0; timeout 600 "$WINE32" "$@" >/dev/null 2>&1 </dev/null || rc=$?; echo "$rc"; }

cat > "$T/project.toml" <<'TOML'
[installer]
output = "setup.exe"
defaults = false
[texts]
"6.0" = "Smoke Test"
TOML
"$DIST/updpack" build "$T/project.toml" --stub "$DIST/updstub-i686.exe" >/dev/null
t0=$SECONDS
check "i686 stub loads its package and shuts down normally" 0 "$(run "$T/setup.exe")"
echo "     (one 32-bit start: $((SECONDS - t0)) s)"
head -c -8 "$T/setup.exe" > "$T/cut.exe"
check "i686 stub exits with -1 on a cut package" 255 "$(run "$T/cut.exe")"


# The bundled sample, 1.0 to 2.0, through the whole wizard.
VERSIONS="$DIST/../sample/versions"
"$ROOT/examples/sample/build.sh" "$VERSIONS" >/dev/null
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$T/sample.exe" >/dev/null
install10() {  # Windows folder name under C:
  local dir="$WINEPREFIX/drive_c/$1"
  rm -rf "$dir"; mkdir -p "$dir"; cp -r "$VERSIONS/1.0/." "$dir/"
  sed -i 's/name=Anyone/name=Robert/' "$dir/settings.ini"
  echo "$dir"
}
walk() {  # [--hold FILE] FOLDER NAME
  local rc=0
  timeout 900 "$WINE32" "$WALK" "$@" > "$T/walk.txt" 2>&1 </dev/null || rc=$?
  tr -d '\r' < "$T/walk.txt" > "$T/walk.log"
  sed 's/^/     | /' "$T/walk.log" >&2
  echo "$rc"
}
t0=$SECONDS
dir=$(install10 Sample32)
check "the whole wizard runs on the i686 stub" 0 "$(walk "$T/sample.exe" 'C:\Sample32' "$T/p32")"
echo "     (whole wizard: $((SECONDS - t0)) s)"
check "finish page: every file updated" 1 "$(grep -c '^result: Sample is now at version 2.0.' "$T/walk.log")"
# Under 32-bit Wine the list's item texts do not come back across processes
# (the walk's screenshot shows them); the number of lines does.
check "finish page lists every file of the update" 6 "$(grep -c '^  ' "$T/walk.log")"
sed -i 's/name=Robert/name=Anyone/' "$dir/settings.ini"
check "the installed folder is byte-exactly 2.0 (user setting kept)" "" "$(diff -r "$dir" "$VERSIONS/2.0" 2>&1 | head -3)"

# A target another program holds open keeps its old version.
dir=$(install10 Sample32b)
check "a run with a target held open ends" 0 \
  "$(walk --hold 'C:\Sample32b\readme.txt' "$T/sample.exe" 'C:\Sample32b' "$T/p32b")"
check "finish page says files were in use" 1 "$(grep -c 'Some files were in use' "$T/walk.log")"
check "the held file is still 1.0" "" "$(cmp "$dir/readme.txt" "$VERSIONS/1.0/readme.txt" 2>&1)"

finish
