#!/usr/bin/env bash
# The Wine session of the Windows tests: a prefix made once and kept, a
# virtual display (Xvfb, 1024 x 768) and one persistent wineserver, shared by
# every test of a run. A server that starts anew carries out the renames
# scheduled for the next restart, as a reboot would, so it runs from start to
# stop; under Xvfb, Wine's X11 driver must not let a window manager place
# windows (Managed = N). CTest starts and stops the session as a fixture
# (cmake/testing.cmake); the state (display, Xvfb's process) is PREFIX.session.
# usage: wine.sh start PREFIX [--floppy DIR] [--wow64]
#        wine.sh stop PREFIX
#        wine.sh run PREFIX CMD...      CMD in the running session (exit 77: none)
#        wine.sh with PREFIX [--floppy DIR] -- CMD...   start, CMD, stop
#        wine.sh env PREFIX [--floppy DIR] -- CMD...    CMD with the prefix only
# --floppy DIR: drive R: is a floppy drive over DIR (the removable-disk
# tests). --wow64: the prefix of the shipped i686 stub; without 32-bit Wine
# (set up as root by ./build.sh test) start makes no session, and the tests
# that need one exit 77 (skipped).
set -euo pipefail
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
cmd="${1:?usage: wine.sh start|stop|run|with|env PREFIX ...}"
PREFIX="${2:?usage: wine.sh $cmd PREFIX ...}"
shift 2
STATE="$PREFIX.session"
export WINEPREFIX="$PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

floppy="" wow64=0
options() {  # sets floppy and wow64; the caller shifts by $consumed
  consumed=0
  while (($#)); do
    case "$1" in
      --floppy) floppy="${2:?--floppy DIR}"; shift 2; consumed=$((consumed + 2)) ;;
      --wow64) wow64=1; shift; consumed=$((consumed + 1)) ;;
      --) consumed=$((consumed + 1)); return ;;
      *) echo "wine.sh: unknown option $1" >&2; exit 2 ;;
    esac
  done
}

have32() { [ -x /usr/lib/wine/wine ] && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }

# The prefix, made once (the WoW64 one takes a few minutes).
prefix() {
  if [ ! -f "$PREFIX/system.reg" ]; then
    echo "creating Wine prefix $PREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
  fi
  # \\localhost\c is drive C: as a network share (the share tests).
  mkdir -p "$PREFIX/dosdevices/unc/localhost"
  ln -sfn ../../../drive_c "$PREFIX/dosdevices/unc/localhost/c"
  if [ -n "$floppy" ]; then
    # The drive type takes effect when the wineserver starts.
    mkdir -p "$floppy"
    ln -sfn "$floppy" "$PREFIX/dosdevices/r:"
    if ! grep -q '"r:"="floppy"' "$PREFIX/system.reg" 2>/dev/null; then
      "$WINE64" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1 </dev/null
      "$WINESERVER" -w
    fi
  fi
}

stop() {
  [ -f "$STATE" ] || return 0
  local xvfb
  xvfb="$(sed -n 's/^XVFB=//p' "$STATE")"
  # The server must be gone before another starts (-p refuses a running one).
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  # Only the Xvfb this session started (its process id, checked by name).
  if [ -n "$xvfb" ] && [ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" = Xvfb ]; then
    kill "$xvfb" 2>/dev/null || true
  fi
  rm -f "$STATE" "$STATE.display"
}

start() {
  stop
  if ((wow64)) && ! have32; then
    echo "32-bit Wine is not set up here (./build.sh test does it, as root): no session, the 32-bit suite is skipped"
    return 0
  fi
  prefix
  # Xvfb writes its display number to fd 3 once it takes connections; its
  # own session and no descriptor of ours, so that CTest does not wait for it.
  rm -f "$STATE.display"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$STATE.display" >/dev/null 2>&1 </dev/null &
  local xvfb=$!
  while [ ! -s "$STATE.display" ]; do
    kill -0 "$xvfb" 2>/dev/null || { echo "wine.sh: Xvfb did not start" >&2; return 1; }
    sleep 0.2
  done
  export DISPLAY=":$(tr -d '[:space:]' < "$STATE.display")"
  printf 'DISPLAY=%s\nXVFB=%s\n' "$DISPLAY" "$xvfb" > "$STATE"
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null || { echo "wine.sh: the wineserver did not start" >&2; return 1; }
  "$WINE64" wineboot >/dev/null 2>&1 </dev/null || { echo "wine.sh: wineboot failed" >&2; return 1; }
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null ||
    { echo "wine.sh: cannot set Managed = N" >&2; return 1; }
  echo "Wine session: prefix $PREFIX, display $DISPLAY"
}

run() {
  if [ ! -f "$STATE" ]; then
    echo "wine.sh: no Wine session for $PREFIX (start it: wine.sh start, or run the test through ctest)" >&2
    exit 77
  fi
  DISPLAY="$(sed -n 's/^DISPLAY=//p' "$STATE")"
  export DISPLAY
  # A test that restarts the wineserver leaves the new one (and Wine's
  # services) running with the test's output descriptors, and CTest would
  # wait for them: the output goes through a file, shown as it grows.
  local log pid tailer rc=0
  log="$(mktemp)"
  "$@" >"$log" 2>&1 </dev/null &
  pid=$!
  trap 'kill "$pid" 2>/dev/null; rm -f "$log"; exit 143' TERM INT HUP
  tail -n +1 -f --pid="$pid" "$log" &
  tailer=$!
  wait "$pid" || rc=$?
  wait "$tailer" || true
  rm -f "$log"
  exit $rc
}

case "$cmd" in
  start) options "$@"; start ;;
  stop) stop ;;
  run) run "$@" ;;
  with)
    options "$@"; shift "$consumed"
    trap stop EXIT
    start
    rc=0; (run "$@") || rc=$?
    exit $rc ;;
  env) options "$@"; shift "$consumed"; prefix; exec "$@" ;;
  *) echo "usage: wine.sh start|stop|run|with|env PREFIX ..." >&2; exit 2 ;;
esac
