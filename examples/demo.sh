#!/usr/bin/env bash
# The main job: pack the bundled sample and run the installer under wine64.
# usage: demo.sh BUILD_DIR   (called by ./build.sh demo, which sets WINEPREFIX)
set -euo pipefail
BUILD="$1"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIST="$BUILD/dist"
OUT="$BUILD/sample"
mkdir -p "$OUT"
echo "== packing the sample with the shipped i686 stub and its x86_64 twin"
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$OUT/setup.exe"
"$DIST/updpack" build "$ROOT/examples/sample/project.toml" -o "$OUT/setup-x86_64.exe" \
  --stub "$DIST/updstub-x86_64.exe"
"$DIST/updpack" inspect "$OUT/setup-x86_64.exe"
echo "== running the x86_64 installer under wine64"
rc=0
xvfb-run -a bash -c '
  /usr/lib/wine/wineserver64 -p
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null
  rc=0; /usr/lib/wine/wine64 "$1" >/dev/null 2>&1 </dev/null || rc=$?
  /usr/lib/wine/wineserver64 -k || true
  exit $rc' bash "$OUT/setup-x86_64.exe" || rc=$?
echo "installer exit code: $rc (0 = package loaded and the program shut down normally)"
exit $rc
