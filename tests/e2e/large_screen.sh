#!/usr/bin/env bash
# The wizard's DPI checks on a screen large enough for the frame at every
# DPI: the test screen of the other Windows tests (1024 x 768) leaves the
# backdrop's corner free only up to 120 DPI. This runs the given tests of
# win_tests on a 2048 x 1536 virtual display of its own, with a wineserver
# of its own over a copy of the running prefix, and tells them through
# UPD_LARGE_SCREEN=1 that every check must run.
# usage: large_screen.sh WIN_TESTS GTEST_FILTER   (WINEPREFIX set)
set -euo pipefail
TESTS="$1"
FILTER="$2"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
COPY="$(mktemp -d)"
trap 'rm -rf "$COPY"' EXIT
cp -a "$WINEPREFIX/." "$COPY/"
export WINEPREFIX="$COPY" UPD_LARGE_SCREEN=1
xvfb-run -a -s "-screen 0 2048x1536x24" bash -c '
  set -e
  '"$WINESERVER"' -p
  '"$WINE64"' wineboot >/dev/null 2>&1 </dev/null
  '"$WINE64"' reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 </dev/null
  rc=0; "'"$WINE64"'" "$1" --gtest_brief=1 --gtest_filter="$2" || rc=$?
  '"$WINESERVER"' -k || true
  exit $rc' bash "$TESTS" "$FILTER"
