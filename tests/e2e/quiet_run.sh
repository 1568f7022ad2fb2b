#!/usr/bin/env bash
# Unattended updates of the sample product with the real x86_64 stub: /Q
# with /D= and /L= updates an installation of 1.0 or 1.1 to byte-exactly 2.0
# (the user's settings kept, a read-only program updated and still
# read-only) and logs every file; the exit code says what happened: 0 done,
# 3 nothing to do, 10 a changed file (nothing touched), 20 a missing volume,
# 6 a folder that is not there. Relative /D= and /L= values count from the
# folder the installer was started in.
# usage: quiet_run.sh DIST_DIR   (WINEPREFIX set, wineserver running)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
WINE64=/usr/lib/wine/wine64
winpath() { echo "Z:${1//\//\\}"; }
quiet() {  # INSTALLER ARGS... -> exit code
  local rc=0; "$WINE64" "$@" >/dev/null 2>&1 </dev/null || rc=$?; echo "$rc"
}
same() { diff -r "$1" "$2" >/dev/null 2>&1 && echo same || echo differs; }

"$ROOT/examples/sample/build.sh" "$T/versions" >/dev/null
# A large file new in 2.0 spreads the spanned installer over volumes.
mkdir -p "$T/big"; cp -r "$T/versions/2.0" "$T/big/2.0"
head -c 400000 /dev/urandom > "$T/big/2.0/media.bin"
project() {  # FILE NEW VOLUME_SIZE
  cat > "$1" <<TOML
[installer]
output = "$(basename "$1" .toml).exe"
destination = "C:\\\\Not\\\\Used"
[texts]
"6.0" = "Sample 2.0 Update"
"5.1" = "Sample is now at version 2.0."
[update]
old = ["versions/1.0", "versions/1.1"]
new = "$2"
volume_size = $3
[[update.rule]]
files = "settings.ini"
regions = [ { pattern = ";<user>", length = 53 } ]
TOML
  "$DIST/updpack" build "$1" --stub "$DIST/updstub-x86_64.exe" >/dev/null
}
project "$T/setup.toml" versions/2.0 0
project "$T/spanned.toml" big/2.0 131072
check "the spanned installer has volumes" yes "$([ -f "$T/spanned.D01" ] && echo yes || echo no)"

# Every file the update handles (license.txt is the same in every version).
files="sample.exe readme.txt settings.ini docs\\guide.txt old-notes.txt whatsnew.txt"
for v in 1.0 1.1; do
  inst="$T/inst$v"; cp -r "$T/versions/$v" "$inst"
  # This user's settings, kept by the update.
  sed -i 's/name=Anyone/name=Alicia/' "$inst/settings.ini"
  [ "$v" = 1.1 ] && chmod a-w "$inst/sample.exe"
  log="$T/update$v.log"
  check "$v: quiet update exits 0" 0 "$(quiet "$T/setup.exe" /Q /D="$(winpath "$inst")" /L="$(winpath "$log")")"
  check "$v: the user's settings are kept" 1 "$(grep -c 'name=Alicia' "$inst/settings.ini")"
  # Wine shows a file without write permission as read-only (stat, not
  # test -w, which is always true for root).
  [ "$v" = 1.1 ] && check "1.1: the read-only program stays read-only" 0 "$(stat -c %A "$inst/sample.exe" | tr -cd w | wc -c)"
  chmod u+w "$inst/sample.exe"
  sed -i 's/name=Alicia/name=Anyone/' "$inst/settings.ini"
  check "$v: every file is byte-exactly 2.0" same "$(same "$inst" "$T/versions/2.0")"
  tr -d '\r' < "$log" > "$log.txt"
  for f in $files; do
    check "$v: the log names $f" 1 "$(grep -cF "$f: " "$log.txt")"
  done
  check "$v: the log gives what was found and done" "sample.exe: version $([ "$v" = 1.0 ] && echo 0 || echo 1), updated" \
    "$(grep -F 'sample.exe: ' "$log.txt")"
  check "$v: the log ends with the result" "result 0: Sample is now at version 2.0.|exit code 0" \
    "$(grep -E '^(result|exit code) ' "$log.txt" | paste -sd '|')"
  sed -i 's/name=Anyone/name=Alicia/' "$inst/settings.ini"
  check "$v: the same again has nothing to do" 3 "$(quiet "$T/setup.exe" /Q /D="$(winpath "$inst")" /L="$(winpath "$log")")"
  check "$v: the log was appended to" 2 "$(grep -c '^exit code ' "$log")"
done

# A file of no known version: nothing is touched, and the log names it.
inst="$T/changed"; cp -r "$T/versions/1.0" "$inst"; printf 'local edit\r\n' >> "$inst/readme.txt"
cp -r "$inst" "$T/changed.orig"
check "a changed file exits 10" 10 "$(quiet "$T/setup.exe" /Q /D="$(winpath "$inst")" /L="$(winpath "$T/changed.log")")"
check "a changed file leaves the folder as it was" same "$(same "$inst" "$T/changed.orig")"
check "the log says which file is unknown" 1 "$(tr -d '\r' < "$T/changed.log" | grep -c '^readme.txt: unknown$')"
check "the log's result names the file" 1 "$(grep -c '^result 10: .*readme.txt' "$T/changed.log")"

# A folder that is not there, named relative to the starting folder, and a
# relative log: both count from where the installer was started.
rc=0; (cd "$T" && "$WINE64" "$T/setup.exe" /Q /D=nowhere /L=relative.log >/dev/null 2>&1 </dev/null) || rc=$?
check "a missing folder exits 6" 6 "$rc"
check "the relative log lands in the starting folder" 1 "$(grep -c 'destination .*nowhere' "$T/relative.log" 2>/dev/null || echo 0)"

# A damaged installer shows no box in a quiet run; the log still says how
# it ended.
head -c -1 "$T/setup.exe" > "$T/cut.exe"
check "a cut installer exits with -1" 255 "$(quiet "$T/cut.exe" /Q /L="$(winpath "$T/cut.log")")"
check "its log ends with that code" "exit code -1" "$(tr -d '\r' < "$T/cut.log" | grep '^exit code')"

# A missing volume is not asked for: the run ends with 20 and names it.
inst="$T/spanned"; cp -r "$T/versions/1.0" "$inst"
mv "$T/spanned.D01" "$T/spanned.D01.away"
check "a missing volume exits 20" 20 "$(quiet "$T/spanned.exe" /Q /D="$(winpath "$inst")" /L="$(winpath "$T/spanned.log")")"
check "the log names the missing volume" 1 "$(grep -c '^result 20: .*spanned.D01' "$T/spanned.log")"
mv "$T/spanned.D01.away" "$T/spanned.D01"
check "with every volume the spanned update exits 0" 0 "$(quiet "$T/spanned.exe" /Q /D="$(winpath "$inst")")"
check "and the folder is 2.0 with the large file" same "$(same "$inst" "$T/big/2.0")"
finish
