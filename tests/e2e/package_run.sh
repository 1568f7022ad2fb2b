#!/usr/bin/env bash
# End to end through the tools a publisher uses: updpack writes an installer
# from a project file, the x86_64 stub runs it under wine64; a signed
# installer loads like the unsigned one; broken projects are refused with the
# file, line and key named.
# usage: package_run.sh DIST_DIR   (WINEPREFIX and a wineserver are set up)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
WINE64=/usr/lib/wine/wine64
run() { local rc=0; "$WINE64" "$@" >/dev/null 2>&1 </dev/null || rc=$?; echo "$rc"; }

project() {  # FILE START_PAGE_LINE
  cat > "$1" <<TOML
[installer]
output = "$(basename "$1" .toml).exe"
defaults = false                      # no layouts: the wizard has nothing to show
destination = "#Program Files#\\\\Sample"
title = "Sample 2.0"
$2

[installer.registry]
root = "HKCU"
key = "Software\\\\Sample"
value = "Path"

[texts]
"6.0" = "Sample Update"

[update]
old = ["v1"]
new = "v2"
TOML
}
# No layouts and no text for the damaged-package box (which would wait for a
# click). Start page 6 asks for no page at all: such an installer needs no
# frame and shuts down normally. Without a start-page record the size rule
# decides completeness, so a cut one is refused before any window (a sound
# one would stop at its missing frame, with a box).
mkdir -p "$T/v1" "$T/v2"; echo one > "$T/v1/a.txt"; echo two > "$T/v2/a.txt"
project "$T/quiet.toml" 'start_page = 6'
project "$T/sized.toml" ''
for p in quiet sized; do
  "$DIST/updpack" build "$T/$p.toml" --stub "$DIST/updstub-x86_64.exe" >/dev/null
done
check "installer runs to a normal shut-down" 0 "$(run "$T/quiet.exe")"
rc=0; "$DIST/updpack" inspect "$T/sized.exe" > "$T/inspect.txt" || rc=$?
check "inspect reads the whole installer" "0 1" "$rc $(grep -c '^  data area' "$T/inspect.txt")"

head -c -1 "$T/sized.exe" > "$T/cut.exe"
check "a cut installer exits with -1" 255 "$(run "$T/cut.exe")"

# Signing rewrites two PE header fields and appends a certificate table.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Test Publisher" -days 2 \
  -keyout "$T/key.pem" -out "$T/cert.pem" >/dev/null 2>&1
for p in quiet sized; do
  osslsigncode sign -certs "$T/cert.pem" -key "$T/key.pem" -n "Sample Update" \
    -in "$T/$p.exe" -out "$T/$p-signed.exe" >/dev/null
done
check "signature changed the file" 1 "$(cmp -s "$T/quiet.exe" "$T/quiet-signed.exe" && echo 0 || echo 1)"
check "a signed installer runs like the unsigned one" 0 "$(run "$T/quiet-signed.exe")"
cp "$T/sized-signed.exe" "$T/tampered.exe"; printf 'x' >> "$T/tampered.exe"
check "a byte after the signature makes it incomplete" 255 "$(run "$T/tampered.exe")"

# Project errors name file, line and key; usage errors exit 2.
printf '[installer]\nstart_page = 6\ncolour = "red"\n' > "$T/bad.toml"
rc=0; msg="$("$DIST/updpack" build "$T/bad.toml" 2>&1)" || rc=$?
check "unknown key is an error" 1 "$rc"
check "error names file, line and key" 1 "$(grep -c "bad.toml:3: installer.colour: unknown key" <<<"$msg")"
printf '[installer]\nstart_page = "first"\n' > "$T/bad2.toml"
rc=0; msg="$("$DIST/updpack" build "$T/bad2.toml" 2>&1)" || rc=$?
check "wrong type is an error" 1 "$(grep -c "bad2.toml:2: installer.start_page: expected a whole number" <<<"$msg")"
printf '[installer]\nframe_image = "missing.bmp"\n' > "$T/bad3.toml"
rc=0; msg="$("$DIST/updpack" build "$T/bad3.toml" 2>&1)" || rc=$?
check "missing file is an error" 1 "$(grep -c "bad3.toml:2: installer.frame_image: no such file" <<<"$msg")"
rc=0; "$DIST/updpack" frobnicate >/dev/null 2>&1 || rc=$?
check "usage error exits 2" 2 "$rc"

finish
