#!/usr/bin/env bash
# The shipped i686 stub, run the way most users run it: a 32-bit program on
# 64-bit Windows (a WoW64 Wine prefix, the 32-bit side emulated by QEMU).
# Each start costs about a minute here, so the runs are few and chosen.
# usage: smoke32.sh DIST_DIR   (WINEPREFIX is the WoW64 prefix, a wineserver runs)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$1"
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

finish
