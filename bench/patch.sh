#!/usr/bin/env bash
# Patch benchmark: our differ against bsdiff, zstd --patch-from and xdelta3
# (lzma) on pairs of released binaries (two versions of Debian
# packages, fetched once into BUILD/bench-corpus), and the speed and memory
# of applying them. usage: patch.sh BUILD_ROOT
# Goals: our total <= 1.0x bsdiff and no pair above zstd -19 --patch-from;
# on the largest pair our differ no slower than zstd -19 with at most 1.5x
# its peak memory; our apply no slower than bspatch.
set -euo pipefail
BUILD="${1:?usage: patch.sh BUILD_ROOT}"
BIN="$BUILD/native/bench"
CORPUS="$BUILD/bench-corpus"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Two versions each: bookworm and bookworm-security (or -updates). The last
# three packages hold the large pairs (47, 69 and 92 MB libraries; the two
# builds of the largest differ only in a few bytes).
DEBS=(xvfb=2:21.1.7-3+deb12u12 xvfb=2:21.1.7-3+deb12u13
      libssl3=3.0.20-1~deb12u2 libssl3=3.0.22-1~deb12u2
      libpython3.11=3.11.2-6+deb12u8 libpython3.11=3.11.2-6+deb12u9
      libcurl4=7.88.1-10+deb12u5 libcurl4=7.88.1-10+deb12u15
      libnode108=18.20.4+dfsg-1~deb12u2 libnode108=18.20.4+dfsg-1~deb12u3
      libreoffice-core=4:7.4.7-1+deb12u13 libreoffice-core=4:7.4.7-1+deb12u14
      libwebkit2gtk-4.1-0=2.50.6-1~deb12u1 libwebkit2gtk-4.1-0=2.50.6-1~deb12u2)
if [ ! -d "$CORPUS/x" ] || [ ! -d "$CORPUS/x/libreoffice-core_4%3a7.4.7-1+deb12u14_amd64" ]; then
  mkdir -p "$CORPUS/debs" "$CORPUS/x"
  if (cd "$CORPUS/debs" && apt-get download "${DEBS[@]}" >/dev/null 2>&1); then
    for d in "$CORPUS"/debs/*.deb; do
      n=$(basename "$d" .deb); [ -d "$CORPUS/x/$n" ] || { mkdir -p "$CORPUS/x/$n"; dpkg-deb -x "$d" "$CORPUS/x/$n"; }
    done
  else
    echo "(downloads failed: falling back to pairs made from installed files)"
    rm -rf "$CORPUS/x"; mkdir -p "$CORPUS/x/a/f" "$CORPUS/x/b/f"
    for f in /usr/bin/cmake /usr/bin/ninja; do
      cp "$f" "$CORPUS/x/a/f/"; python3 - "$f" "$CORPUS/x/b/f/$(basename "$f")" <<'PY'
import sys, random
d = bytearray(open(sys.argv[1], 'rb').read()); r = random.Random(1)
for _ in range(len(d) // 5000): d[r.randrange(len(d))] ^= 0x10
d[1000:1000] = b'inserted' * 64
open(sys.argv[2], 'wb').write(d)
PY
    done
  fi
fi

# name old new, one line each.
pairs() {
  local x="$CORPUS/x"
  local lib=usr/lib/x86_64-linux-gnu
  if [ -d "$x/a" ]; then
    for f in "$x"/a/f/*; do echo "$(basename "$f") $f $x/b/f/$(basename "$f")"; done
    return
  fi
  echo "Xvfb $x/xvfb_2%3a21.1.7-3+deb12u12_amd64/usr/bin/Xvfb $x/xvfb_2%3a21.1.7-3+deb12u13_amd64/usr/bin/Xvfb"
  echo "libssl.so.3 $x/libssl3_3.0.20-1~deb12u2_amd64/$lib/libssl.so.3 $x/libssl3_3.0.22-1~deb12u2_amd64/$lib/libssl.so.3"
  echo "libcrypto.so.3 $x/libssl3_3.0.20-1~deb12u2_amd64/$lib/libcrypto.so.3 $x/libssl3_3.0.22-1~deb12u2_amd64/$lib/libcrypto.so.3"
  echo "libcurl.so.4 $x/libcurl4_7.88.1-10+deb12u5_amd64/$lib/libcurl.so.4.8.0 $x/libcurl4_7.88.1-10+deb12u15_amd64/$lib/libcurl.so.4.8.0"
  echo "libpython3.11 $x/libpython3.11_3.11.2-6+deb12u8_amd64/$lib/libpython3.11.so.1.0 $x/libpython3.11_3.11.2-6+deb12u9_amd64/$lib/libpython3.11.so.1.0"
  echo "libnode.so.108 $x/libnode108_18.20.4+dfsg-1~deb12u2_amd64/$lib/libnode.so.108 $x/libnode108_18.20.4+dfsg-1~deb12u3_amd64/$lib/libnode.so.108"
  echo "libmergedlo.so $x/libreoffice-core_4%3a7.4.7-1+deb12u13_amd64/usr/lib/libreoffice/program/libmergedlo.so $x/libreoffice-core_4%3a7.4.7-1+deb12u14_amd64/usr/lib/libreoffice/program/libmergedlo.so"
  echo "libwebkit2gtk $x/libwebkit2gtk-4.1-0_2.50.6-1~deb12u1_amd64/$lib/libwebkit2gtk-4.1.so.0.19.9 $x/libwebkit2gtk-4.1-0_2.50.6-1~deb12u2_amd64/$lib/libwebkit2gtk-4.1.so.0.19.9"
}

# Runs a command under /usr/bin/time: prints "seconds peakKiB".
timed() { /usr/bin/time -f "%e %M" -o "$WORK/t" "$@" >/dev/null 2>&1; cat "$WORK/t"; }
size() { stat -c %s "$1"; }

# Per tool: patch size, diff seconds and peak MiB, apply seconds and peak MiB.
tools=(ours bsdiff zstd xd_lzma)
declare -A total tdiff tapply
for t in "${tools[@]}"; do total[$t]=0; tdiff[$t]=0; tapply[$t]=0; done
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a + b }'; }
echo "== Patches: size (bytes), diff time (s) / peak (MiB), apply time (s) / peak (MiB)"
printf "%-15s %10s | %-44s | %-44s | %-44s | %-44s\n" file new ours bsdiff "zstd --patch-from -19" "xdelta3 -9 -S lzma"
while read -r name old new; do
  declare -A sz dt at
  dt[ours]=$(timed "$BIN/bench_patch" diff "$old" "$new" "$WORK/p.ours")
  dt[bsdiff]=$(timed bsdiff "$old" "$new" "$WORK/p.bsdiff")
  dt[zstd]=$(timed zstd -q -f -19 --patch-from="$old" "$new" -o "$WORK/p.zstd")
  dt[xd_lzma]=$(timed xdelta3 -f -9 -S lzma -e -s "$old" "$new" "$WORK/p.xd_lzma")
  at[ours]=$(timed "$BIN/bench_patch" apply "$old" "$WORK/p.ours" "$WORK/n.ours")
  at[bsdiff]=$(timed bspatch "$old" "$WORK/n.bsdiff" "$WORK/p.bsdiff")
  at[zstd]=$(timed zstd -q -f -d --patch-from="$old" "$WORK/p.zstd" -o "$WORK/n.zstd")
  at[xd_lzma]=$(timed xdelta3 -f -d -s "$old" "$WORK/p.xd_lzma" "$WORK/n.xd_lzma")
  line=$(printf "%-15s %10s |" "$name" "$(size "$new")")
  for t in "${tools[@]}"; do
    sz[$t]=$(size "$WORK/p.$t")
    cmp -s "$WORK/n.$t" "$new" || sz[$t]="${sz[$t]}(WRONG)"
    read -r ds dk <<<"${dt[$t]}"; read -r as ak <<<"${at[$t]}"
    line+=$(printf " %9s %7ss %5sM %6ss %5sM |" "${sz[$t]}" "$ds" "$((dk / 1024))" "$as" "$((ak / 1024))")
    bytes=${sz[$t]%%"(WRONG)"}; total[$t]=$((total[$t] + bytes))
    tdiff[$t]=$(add "${tdiff[$t]}" "$ds"); tapply[$t]=$(add "${tapply[$t]}" "$as")
  done
  echo "$line"
  cp "$WORK/p.ours" "$WORK/$name.ours"
done < <(pairs)
line=$(printf "%-15s %10s |" total "")
for t in "${tools[@]}"; do
  line+=$(printf " %9s %7ss %6s %6ss %6s |" "${total[$t]}" "${tdiff[$t]}" "" "${tapply[$t]}" "")
done
echo "$line"
for t in bsdiff zstd xd_lzma; do
  awk -v a="${total[ours]}" -v b="${total[$t]}" -v n="$t" 'BEGIN { printf "size: ours / %-8s = %.3f\n", n, a / b }'
done
echo "goals: total <= 1.0x bsdiff; no pair above zstd -19; on the largest pair the differ no slower"
echo "than zstd -19 with at most 1.5x its peak memory; apply no slower than bspatch"

echo
echo "== The engine under wine64 (x86_64 stub's code: verification, rebuild, replacement): the two largest pairs"
STUB="$BUILD/dist/updstub-x86_64.exe"
RUNNER="$BUILD/x86_64/engine_runner.exe"
while read -r name old new; do
  d="$WORK/apply"; rm -rf "$d"; mkdir -p "$d/pkg" "$d/inst"
  "$BIN/bench_patch" package "$old" "$new" "$STUB" "$d/pkg/setup.exe" >/dev/null
  cp "$old" "$d/inst/f.bin"
  eng="n/a"
  if [ -f "$RUNNER" ]; then
    export WINEPREFIX="$BUILD/wine64" WINEDEBUG=-all
    eng=$(/usr/lib/wine/wine64 "$RUNNER" --report "Z:${d//\//\\}\\pkg\\setup.exe" "Z:${d//\//\\}\\inst" 2>/dev/null | tr -d '\r' | tail -1)
    cmp -s "$d/inst/f.bin" "$new" || eng="$eng (WRONG RESULT)"
  fi
  printf "%-15s %s\n" "$name" "$eng"
done < <(pairs | while read -r n o w; do echo "$(stat -c %s "$w") $n $o $w"; done | sort -rn | head -2 | cut -d' ' -f2-)
echo "(its own heap peak from memoryPeak; the table above measures native processes, peak RSS)"
