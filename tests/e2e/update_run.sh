#!/usr/bin/env bash
# An update from two earlier versions to a new one, end to end: updpack
# builds the installer from the three version folders, the x86_64 engine
# recognises every installed file of either version, rebuilds the folder and
# leaves it byte-exactly equal to the new version.
# usage: update_run.sh DIST_DIR ENGINE_RUNNER   (WINEPREFIX set, wineserver running)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
RUNNER="$2"
WINE64=/usr/lib/wine/wine64
winpath() { echo "Z:${1//\//\\}"; }

# Three versions: a program that changes, a text that grows, a settings file
# whose user part differs per installation, a file new in 1.1, a file gone
# in 2.0, one in a subfolder.
mk() {  # version seed
  local d="$T/v$1"; mkdir -p "$d/data"
  head -c 300000 /usr/bin/cmake > "$d/app.exe"
  printf 'build %s\n' "$1" | dd of="$d/app.exe" bs=1 seek=1000 conv=notrunc 2>/dev/null
  head -c $((10000 * $2)) /usr/share/common-licenses/GPL-3 > "$d/readme.txt"
  printf '[options]\nversion=%s\n;user=%-20s;\n' "$1" "demo" > "$d/settings.ini"
  printf 'table %s\n' "$1" > "$d/data/table.dat"
}
mk 1.0 1; mk 1.1 2; mk 2.0 3
printf 'old notes\n' > "$T/v1.0/notes.txt"; cp "$T/v1.0/notes.txt" "$T/v1.1/notes.txt"
printf 'added in 1.1\n' > "$T/v1.1/extra.txt"; printf 'extra, now 2.0\n' > "$T/v2.0/extra.txt"

cat > "$T/project.toml" <<TOML
[installer]
output = "setup.exe"
destination = "C:\\\\Sample"
[texts]
"6.0" = "Update Test"
[update]
old = ["v1.0", "v1.1"]
new = "v2.0"
[[update.rule]]
files = "settings.ini"
regions = [ { pattern = ";user=", length = 27, restore = true } ]
TOML
"$DIST/updpack" build "$T/project.toml" --stub "$DIST/updstub-x86_64.exe" > "$T/build.txt"
check "updpack lists every file" 6 "$(grep -cE '^(app.exe|readme.txt|settings.ini|extra.txt|data\\table.dat|notes.txt) ' "$T/build.txt" | tr -d ' ' || true)"

for v in 1.0 1.1; do
  inst="$T/inst$v"; cp -r "$T/v$v" "$inst"
  # This installation's own user part: blanked for recognition, kept after.
  sed -i "s/;user=demo /;user=alice/" "$inst/settings.ini"
  rc=0
  "$WINE64" "$RUNNER" --versions "$(winpath "$T/setup.exe")" "$(winpath "$inst")" > "$T/out$v.txt" 2>/dev/null </dev/null || rc=$?
  tr -d '\r' < "$T/out$v.txt" > "$T/versions$v.txt"
  index=$([ "$v" = 1.0 ] && echo 0 || echo 1)
  check "$v: engine run succeeds" 0 "$rc"
  check "$v: app.exe recognised as $v" "app.exe: version $index" "$(grep '^app.exe:' "$T/versions$v.txt")"
  check "$v: readme.txt recognised as $v" "readme.txt: version $index" "$(grep '^readme.txt:' "$T/versions$v.txt")"
  check "$v: settings.ini recognised despite its user part" "settings.ini: version $index" "$(grep '^settings.ini:' "$T/versions$v.txt")"
  sed -i "s/;user=alice/;user=demo /" "$inst/settings.ini"
  check "$v: folder is byte-exactly 2.0 (user part kept)" "" "$(diff -r "$inst" "$T/v2.0" 2>&1 | head -3)"
done
finish
