#!/usr/bin/env bash
# The demo: build the sample product in its three versions, pack the update,
# install version 1.0 into the Wine prefix, and walk the installer through
# the whole wizard under a virtual display, saving a PNG of every page and
# printing what happened to each file.
# usage: demo.sh BUILD_DIR   (called by ./build.sh demo, which sets WINEPREFIX)
set -euo pipefail
BUILD="$1"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIST="$BUILD/dist"
OUT="$BUILD/sample"
SHOTS="$BUILD/demo"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
mkdir -p "$OUT" "$SHOTS"
rm -f "$SHOTS"/*.png

echo "== building Sample 1.0, 1.1 and 2.0"
"$ROOT/examples/sample/build.sh" "$OUT/versions"

echo "== packing the update from the three versions (i686 stub and its x86_64 twin)"
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$OUT/setup.exe"
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$OUT/setup-x86_64.exe" \
  --stub "$DIST/updstub-x86_64.exe"
"$DIST/updpack" inspect "$OUT/setup-x86_64.exe"

echo "== installing Sample 1.0 into the Wine prefix"
TARGET="$WINEPREFIX/drive_c/Program Files/Sample"
rm -rf "$TARGET"; mkdir -p "$TARGET"
cp -r "$OUT/versions/1.0/." "$TARGET/"
chmod a-w "$TARGET/readme.txt"    # Wine shows a file without write permission as read-only
sed -i 's/name=Anyone/name=Robert/' "$TARGET/settings.ini"   # the user's own setting

echo "== running the installer through the wizard (x86_64 twin under wine64)"
rc=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  '"$WINESERVER"' -p
  '"$WINE64"' wineboot >/dev/null 2>&1 </dev/null
  '"$WINE64"' reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 </dev/null
  rc=0; '"$WINE64"' "$1" "$2" "$3" "$4" 2>/dev/null </dev/null || rc=$?
  '"$WINESERVER"' -k || true
  exit $rc' bash "$BUILD/x86_64/wizard_walk.exe" "$OUT/setup-x86_64.exe" \
  'C:\Program Files\Sample' "$SHOTS/page" || rc=$?

echo "== pages saved"
ls -1 "$SHOTS"
echo "== files in C:\\Program Files\\Sample after the run"
(cd "$TARGET" && find . -type f | sort | while read -r f; do
  state="differs from 2.0"
  if [ -f "$OUT/versions/2.0/$f" ] && cmp -s "$f" "$OUT/versions/2.0/$f"; then state="as 2.0"; fi
  if [ -f "$OUT/versions/1.0/$f" ] && cmp -s "$f" "$OUT/versions/1.0/$f" && [ "$state" = "as 2.0" ]; then state="same in 1.0 and 2.0"; fi
  printf '  %-18s %s\n' "${f#./}" "$state"
done)
echo "== the user's settings after the run"
grep -a "name=\|version=" "$TARGET/settings.ini" | tr -d '\r' | sed 's/^/  /'
chmod -R u+w "$TARGET"
echo "demo exit code: $rc (0 = the wizard ran to its end)"
exit $rc
