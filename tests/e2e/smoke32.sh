#!/usr/bin/env bash
# The shipped i686 stub, run the way most users run it: a 32-bit program on
# 64-bit Windows (a WoW64 Wine prefix, the 32-bit side emulated by QEMU).
# Each start costs about a minute here, so the runs are few and chosen.
# usage: smoke32.sh DIST_DIR WALK_I686 WALK_X86_64   (WINEPREFIX is the WoW64
#        prefix, a wineserver runs). The whole wizard is driven once by the
#        i686 driver, which runs emulated like the stub, and once by the
#        x86_64 driver, which reads the stub's lists in the 32-bit layouts.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
WALK="$2"
WALK64="$3"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
# The emulator keeps a 32-bit program's memory at its guest base in the host
# process; the wineserver reaches other processes' memory at host addresses.
# A fixed base lets the wizard driver find the installer's list texts there.
export QEMU_GUEST_BASE=0x10000000000
run() { local rc=0; timeout 600 "$WINE32" "$@" >/dev/null 2>&1 </dev/null || rc=$?; echo "$rc"; }

# Start page 6 asks for no page, so no layouts are needed; the second has no
# start-page record, so the size rule decides whether a cut one is complete.
mkdir -p "$T/v1" "$T/v2"; echo one > "$T/v1/a.txt"; echo two > "$T/v2/a.txt"
for p in quiet sized; do
  cat > "$T/$p.toml" <<TOML
[installer]
output = "$p.exe"
defaults = false
$([ "$p" = quiet ] && echo 'start_page = 6')
[texts]
"6.0" = "Smoke Test"

[update]
old = ["v1"]
new = "v2"
TOML
  "$DIST/updpack" build "$T/$p.toml" --stub "$DIST/updstub-i686.exe" >/dev/null
done
t0=$SECONDS
check "i686 stub loads its package and shuts down normally" 0 "$(run "$T/quiet.exe")"
echo "     (one 32-bit start: $((SECONDS - t0)) s)"
head -c -8 "$T/sized.exe" > "$T/cut.exe"
check "i686 stub exits with -1 on a cut package" 255 "$(run "$T/cut.exe")"
# The stub, then a string-table record declaring eight tables of almost 2 GiB
# holding two bytes each: refused before any memory is asked for.
python3 - "$T/sized.exe" "$T/hostile.exe" <<'PY'
import struct, sys
stub = open(sys.argv[1], "rb").read()[:65536]
tables = struct.pack("<H", 8) + b"".join(struct.pack("<I", 0x7FFFFFF0) + b"\x0d\x00" for _ in range(8))
package = struct.pack("<HHI", 0x1239, 0, len(tables)) + tables + struct.pack("<HHII", 0x7F7F, 0, 4, 0)
open(sys.argv[2], "wb").write(stub + package)
PY
check "i686 stub refuses a package declaring gigabytes" 255 "$(run "$T/hostile.exe")"


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
walk() {  # WINE DRIVER [--hold FILE] INSTALLER FOLDER NAME
  local rc=0
  timeout 900 "$@" > "$T/walk.txt" 2>&1 </dev/null || rc=$?
  tr -d '\r' < "$T/walk.txt" > "$T/walk.log"
  sed 's/^/     | /' "$T/walk.log" >&2
  echo "$rc"
}
# No folder remembered from an earlier run: the proposal comes from the
# project's default, as the 32-bit view of the system sees it.
"$WINE64" reg delete 'HKCU\Software\Sample Company' /f >/dev/null 2>&1 </dev/null || true
t0=$SECONDS
dir=$(install10 Sample32)
check "the whole wizard runs on the i686 stub" 0 "$(walk "$WINE32" "$WALK" "$T/sample.exe" 'C:\Sample32' "$T/p32")"
echo "     (whole wizard: $((SECONDS - t0)) s)"
check "a 32-bit program is offered the 32-bit Program Files" \
  'proposed folder: C:\Program Files (x86)\Sample' "$(grep '^proposed folder:' "$T/walk.log")"
check "finish page: every file updated" 1 "$(grep -c '^result: Sample is now at version 2.0.' "$T/walk.log")"
check "finish page lists every file of the update" \
  "$(printf '%s\n' '  docs\guide.txt: updated' '  readme.txt: updated' '  sample.exe: updated' \
     '  settings.ini: updated' '  whatsnew.txt: added' '  old-notes.txt: removed')" \
  "$(grep '^  ' "$T/walk.log")"
sed -i 's/name=Robert/name=Anyone/' "$dir/settings.ini"
check "the installed folder is byte-exactly 2.0 (user setting kept)" "" "$(diff -r "$dir" "$VERSIONS/2.0" 2>&1 | head -3)"

# A target another program holds open is replaced at the next restart (the
# sample builds every file before replacing any): the finish page asks for a
# restart, the file stays 1.0 until then, and a wineserver that starts anew
# carries the move out, as a restart of Windows does.
dir=$(install10 Sample32b)
check "a run with a target held open ends (x86_64 driver)" 0 \
  "$(walk "$WINE64" "$WALK64" --hold 'C:\Sample32b\readme.txt' "$T/sample.exe" 'C:\Sample32b' "$T/p32b")"
check "finish page says files were in use and asks for a restart" 1 \
  "$(grep -c 'Some files were in use.*restart the computer now' "$T/walk.log")"
check "finish page names the held file" "  readme.txt: in use, will be updated when the computer restarts" \
  "$(grep '^  readme' "$T/walk.log")"
check "the held file is still 1.0" "" "$(cmp "$dir/readme.txt" "$VERSIONS/1.0/readme.txt" 2>&1)"
/usr/lib/wine/wineserver64 -k || true
/usr/lib/wine/wineserver64 -w || true
/usr/lib/wine/wineserver64 -p
"$WINE64" wineboot >/dev/null 2>&1 </dev/null
check "after the restart the held file is 2.0" "" "$(cmp "$dir/readme.txt" "$VERSIONS/2.0/readme.txt" 2>&1)"
check "and no temporary file is left" "" "$(ls "$dir" | grep -F '.$$' || true)"

# Unattended: /Q with /D= and /L=, no window at all.
dir=$(install10 Sample32q)
log="$WINEPREFIX/drive_c/Sample32q.log"; rm -f "$log"
check "a quiet run on the i686 stub exits 0" 0 "$(run "$T/sample.exe" /Q '/D=C:\Sample32q' '/L=C:\Sample32q.log')"
sed -i 's/name=Robert/name=Anyone/' "$dir/settings.ini"
check "the quiet run left the folder byte-exactly 2.0" "" "$(diff -r "$dir" "$VERSIONS/2.0" 2>&1 | head -3)"
check "the quiet run's log says what it did" "sample.exe: version 0, updated|result 0: Sample is now at version 2.0." \
  "$(tr -d '\r' < "$log" | grep -E '^(sample[.]exe:|result )' | paste -sd '|')"

finish
