#!/usr/bin/env bash
# Patch benchmark: our differ against xdelta3 (lzma, djw), bsdiff and
# zstd --patch-from on pairs of released binaries (two versions of Debian
# packages, fetched once into BUILD/bench-corpus), and the speed and memory
# of applying them. usage: patch.sh BUILD_ROOT
# Goals: our total <= 1.0x zstd -19 --patch-from, <= 0.8x xdelta3 -9 -S lzma.
set -euo pipefail
BUILD="${1:?usage: patch.sh BUILD_ROOT}"
BIN="$BUILD/native/bench"
CORPUS="$BUILD/bench-corpus"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Two versions each: bookworm and bookworm-security (or -updates).
DEBS=(xvfb=2:21.1.7-3+deb12u12 xvfb=2:21.1.7-3+deb12u13
      libssl3=3.0.20-1~deb12u2 libssl3=3.0.22-1~deb12u2
      libpython3.11=3.11.2-6+deb12u8 libpython3.11=3.11.2-6+deb12u9
      libcurl4=7.88.1-10+deb12u5 libcurl4=7.88.1-10+deb12u15)
if [ ! -d "$CORPUS/x" ]; then
  mkdir -p "$CORPUS/debs" "$CORPUS/x"
  if (cd "$CORPUS/debs" && apt-get download "${DEBS[@]}" >/dev/null 2>&1); then
    for d in "$CORPUS"/debs/*.deb; do
      n=$(basename "$d" .deb); mkdir -p "$CORPUS/x/$n"; dpkg-deb -x "$d" "$CORPUS/x/$n"
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
}

# Runs a command under /usr/bin/time: prints "seconds peakKiB".
timed() { /usr/bin/time -f "%e %M" -o "$WORK/t" "$@" >/dev/null 2>&1; cat "$WORK/t"; }
size() { stat -c %s "$1"; }

declare -A total
tools=(ours xd_lzma xd_djw bsdiff zstd)
for t in "${tools[@]}"; do total[$t]=0; done
echo "== Patch size (bytes) and differ time (s) / peak memory (MiB)"
printf "%-15s %9s | %-22s %-22s %-22s %-22s %-22s\n" file new ours "xdelta3 -9 -S lzma" "xdelta3 -9 -S djw" bsdiff "zstd -19 --patch-from"
while read -r name old new; do
  declare -A sz tm
  r=$(timed "$BIN/bench_patch" diff "$old" "$new" "$WORK/ours"); sz[ours]=$(size "$WORK/ours"); tm[ours]=$r
  r=$(timed xdelta3 -f -9 -S lzma -e -s "$old" "$new" "$WORK/xl"); sz[xd_lzma]=$(size "$WORK/xl"); tm[xd_lzma]=$r
  r=$(timed xdelta3 -f -9 -S djw -e -s "$old" "$new" "$WORK/xd"); sz[xd_djw]=$(size "$WORK/xd"); tm[xd_djw]=$r
  r=$(timed bsdiff "$old" "$new" "$WORK/bs"); sz[bsdiff]=$(size "$WORK/bs"); tm[bsdiff]=$r
  r=$(timed zstd -q -f -19 --patch-from="$old" "$new" -o "$WORK/zs"); sz[zstd]=$(size "$WORK/zs"); tm[zstd]=$r
  line=$(printf "%-15s %9s |" "$name" "$(size "$new")")
  for t in "${tools[@]}"; do
    read -r s k <<<"${tm[$t]}"
    line+=$(printf " %8s %5ss %5sM   |" "${sz[$t]}" "$s" "$((k / 1024))")
    total[$t]=$((total[$t] + sz[$t]))
  done
  echo "$line"
  cp "$WORK/ours" "$WORK/$name.ours"; cp "$WORK/xl" "$WORK/$name.xl"; cp "$WORK/zs" "$WORK/$name.zs"
done < <(pairs)
echo "total: ours ${total[ours]}; xdelta3 lzma ${total[xd_lzma]}; xdelta3 djw ${total[xd_djw]}; bsdiff ${total[bsdiff]}; zstd ${total[zstd]}"
for t in xd_lzma xd_djw bsdiff zstd; do
  awk -v a="${total[ours]}" -v b="${total[$t]}" -v n="$t" 'BEGIN { printf "ours / %-8s = %.3f\n", n, a / b }'
done
echo "goals: ours/zstd <= 1.0, ours/xd_lzma <= 0.8"

echo
echo "== Apply speed (s) and peak memory: the two largest pairs"
STUB="$BUILD/dist/updstub-x86_64.exe"
RUNNER="$BUILD/x86_64/engine_runner.exe"
printf "%-15s %-26s %-14s %-14s %-14s %-10s\n" file "engine (wine64, x86_64)" "engine native" "xdelta3 -d" "zstd -d" cp
while read -r name old new; do
  d="$WORK/apply"; rm -rf "$d"; mkdir -p "$d/pkg" "$d/inst"
  "$BIN/bench_patch" package "$old" "$new" "$STUB" "$d/pkg/setup.exe" >/dev/null
  cp "$old" "$d/inst/f.bin"
  eng="n/a"
  if [ -x "$RUNNER" ] || [ -f "$RUNNER" ]; then
    export WINEPREFIX="$BUILD/wine64" WINEDEBUG=-all
    eng=$(/usr/lib/wine/wine64 "$RUNNER" --report "Z:${d//\//\\}\\pkg\\setup.exe" "Z:${d//\//\\}\\inst" 2>/dev/null | tr -d '\r' | tail -1)
    cmp -s "$d/inst/f.bin" "$new" || eng="$eng (WRONG RESULT)"
  fi
  read -r s k <<<"$(timed "$BIN/bench_patch" apply "$old" "$WORK/$name.ours" "$d/native")"
  cmp -s "$d/native" "$new" || s="$s(WRONG)"
  nat="${s}s ${k}K"
  read -r s k <<<"$(timed xdelta3 -f -d -s "$old" "$WORK/$name.xl" "$d/xd")"; xd="${s}s $((k / 1024))M"
  read -r s k <<<"$(timed zstd -q -f -d --patch-from="$old" "$WORK/$name.zs" -o "$d/zs")"; zs="${s}s $((k / 1024))M"
  read -r s k <<<"$(timed cp "$old" "$d/cp")"; cpt="${s}s"
  printf "%-15s %-26s %-14s %-14s %-14s %-10s\n" "$name" "$eng" "$nat" "$xd" "$zs" "$cpt"
done < <(pairs | sort -t' ' -k1,1 | while read -r n o w; do echo "$(stat -c %s "$w") $n $o $w"; done | sort -rn | head -2 | cut -d' ' -f2-)
echo "(engine: verification + rebuild + replacement inside the x86_64 engine under wine64, its own"
echo " heap peak from memoryPeak; the others are native processes, peak RSS)"
