#!/usr/bin/env bash
# Pictures of every page of the sample update for the README: the windowed
# and the full-screen presentation, each at 96 and 144 DPI (Wine reads the
# DPI from HKCU\Control Panel\Desktop LogPixels when a program starts). The
# x86_64 twin runs under wine64 and the wizard driver walks it.
# usage: screens.sh BUILD_DIR OUT_DIR   (./build.sh screens, which sets WINEPREFIX)
set -euo pipefail
BUILD="$1"
OUT="$2"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIST="$BUILD/dist"
SAMPLE="$BUILD/sample"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
mkdir -p "$OUT" "$SAMPLE"
[ -d "$SAMPLE/versions/2.0" ] || "$ROOT/examples/sample/build.sh" "$SAMPLE/versions"

# The full-screen variant sits beside the project, whose paths are relative.
full="$(mktemp "$ROOT/examples/sample/.full-screen-XXXXXX.toml")"
trap 'rm -f "$full"' EXIT
sed 's/^full_screen = false$/full_screen = true/' "$ROOT/examples/sample/project.toml" >"$full"
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$SAMPLE/screens-windowed.exe" \
  --stub "$DIST/updstub-x86_64.exe" >/dev/null
"$DIST/updpack" build "$full" -o "$SAMPLE/screens-full.exe" --stub "$DIST/updstub-x86_64.exe" >/dev/null

TARGET="$WINEPREFIX/drive_c/Program Files/Sample"
for presentation in windowed full; do
  for dpi in 96 144; do
    rm -rf "$TARGET"; mkdir -p "$TARGET"
    cp -r "$SAMPLE/versions/1.0/." "$TARGET/"
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
      '"$WINESERVER"' -p
      '"$WINE64"' wineboot >/dev/null 2>&1 </dev/null
      '"$WINE64"' reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 </dev/null
      '"$WINE64"' reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$4" /f >/dev/null 2>&1 </dev/null
      rc=0; '"$WINE64"' "$1" "$2" "C:\\Program Files\\Sample" "$3" </dev/null || rc=$?
      '"$WINE64"' reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1 </dev/null
      '"$WINESERVER"' -k || true
      exit $rc' bash "$BUILD/x86_64/wizard_walk.exe" "$SAMPLE/screens-$presentation.exe" \
      "$OUT/$presentation-$dpi" "$dpi"
  done
done
chmod -R u+w "$TARGET"
ls -1 "$OUT"
