#!/usr/bin/env bash
# Build benchmark: `updpack build` with one thread (--jobs 1, the anchor)
# against the default (one thread per core), on a generated update of real
# binaries: the new version is a set of shared libraries of this machine, the
# three old versions are edited copies (bytes flipped, runs inserted and cut)
# made by a fixed seed, and lack every fourth file, which goes into the
# package whole and fills a few volumes. Both builds must write the same
# bytes.
# usage: build.sh BUILD_ROOT   (the folder holding dist/ and native/)
# Goal: default >= 1.6x faster than --jobs 1 on two cores or more.
set -euo pipefail
BUILD="${1:?usage: build.sh BUILD_ROOT}"
UPDPACK="$BUILD/dist/updpack"
STUB="$BUILD/dist/updstub-i686.exe"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# About 24 MB of libraries, the largest first, none over 6 MB.
mkdir -p "$WORK/new"
total=0
for f in $(ls -S /usr/lib/x86_64-linux-gnu/*.so* 2>/dev/null); do
  [ -f "$f" ] || continue
  s=$(stat -Lc %s "$f")
  ((s > 6000000 || total + s > 24000000)) && continue
  cp -L "$f" "$WORK/new/"; total=$((total + s))
done
python3 - "$WORK" <<'PY'
import os, random, sys
work = sys.argv[1]
names = sorted(os.listdir(os.path.join(work, 'new')))
for v in range(3):
    out = os.path.join(work, 'old%d' % v); os.makedirs(out)
    r = random.Random(v)
    for k, n in enumerate(names):
        if k % 4 == 3:
            continue  # new in the new version: stored whole
        d = bytearray(open(os.path.join(work, 'new', n), 'rb').read())
        for _ in range(len(d) // 20000):
            d[r.randrange(len(d))] ^= 0x21
        at = r.randrange(len(d)); d[at:at] = bytes(r.randrange(256) for _ in range(500))
        at = r.randrange(len(d)); del d[at:at + 700]
        open(os.path.join(out, n), 'wb').write(d)
PY
cat > "$WORK/project.toml" <<EOF
[installer]
output = "setup.exe"
[update]
old = ["old0", "old1", "old2"]
new = "new"
volume_size = 500000
EOF

files=$(ls "$WORK/new" | wc -l)
echo "== updpack build: $files files, $((total / 1000000)) MB new, 3 old versions, $(nproc) cores"
# Best of three, the two settings taking turns; the processor time beside the
# wall time shows whether the threads found the cores free.
declare -A best cpu
for round in 1 2 3; do
  for jobs in 1 default; do
    arg=(); [ "$jobs" = default ] || arg=(--jobs "$jobs")
    rm -rf "$WORK/out-$jobs"; mkdir -p "$WORK/out-$jobs"
    /usr/bin/time -f "%e %U %S" -o "$WORK/t" \
      "$UPDPACK" build "$WORK/project.toml" --stub "$STUB" -o "$WORK/out-$jobs/setup.exe" "${arg[@]}" >/dev/null
    read -r t u k <"$WORK/t"
    if [ -z "${best[$jobs]:-}" ] || awk -v t="$t" -v b="${best[$jobs]}" 'BEGIN { exit !(t < b) }'; then
      best[$jobs]=$t; cpu[$jobs]=$(awk -v u="$u" -v k="$k" 'BEGIN { print u + k }')
    fi
  done
done
same=yes
for f in "$WORK"/out-1/*; do cmp -s "$f" "$WORK/out-default/$(basename "$f")" || same=NO; done
[ "$(ls "$WORK/out-1" | wc -l)" = "$(ls "$WORK/out-default" | wc -l)" ] || same=NO
printf "%-28s %8.2f s wall %8.2f s processor\n" "--jobs 1 (anchor)" "${best[1]}" "${cpu[1]}"
printf "%-28s %8.2f s wall %8.2f s processor   %.2fx the anchor, %.2f cores busy\n" \
  "default ($(nproc) threads)" "${best[default]}" "${cpu[default]}" \
  "$(awk -v a="${best[1]}" -v b="${best[default]}" 'BEGIN { print a / b }')" \
  "$(awk -v c="${cpu[default]}" -v b="${best[default]}" 'BEGIN { print c / b }')"
echo "installer and $(($(ls "$WORK/out-1" | wc -l) - 1)) volume files identical: $same"
echo "goal: default >= 1.6x the anchor on two cores or more (a busy machine that leaves"
echo "      one core free shows about 1.0 cores busy, and no gain can be had)"
[ "$same" = yes ]
