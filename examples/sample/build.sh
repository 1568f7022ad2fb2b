#!/usr/bin/env bash
# Builds the sample product in its three versions under OUT/1.0, OUT/1.1
# and OUT/2.0, each a folder as the product installs it:
#
#   sample.exe          the program (real i686 executable, version resource)
#   readme.txt          text that changes with every version
#   settings.ini        settings; the [user] part between its markers is
#                       the user's and is kept across updates
#   license.txt         read-only once installed
#   docs/guide.txt      a file in a subfolder
#   old-notes.txt       present in 1.0 and 1.1, deleted by 2.0
#   whatsnew.txt        added in 2.0
#
# usage: build.sh OUT
set -euo pipefail
OUT="$1"
SRC="$(cd "$(dirname "$0")/src" && pwd)"
CC=i686-w64-mingw32-gcc
RC=i686-w64-mingw32-windres
for v in 1.0 1.1 2.0; do
  d="$OUT/$v"
  rm -rf "$d"; mkdir -p "$d/docs"
  major="${v%%.*}" minor="${v##*.}"
  $RC -DSAMPLE_MAJOR="$major" -DSAMPLE_MINOR="$minor" -DSAMPLE_VERSION="\\\"$v\\\"" \
    "$SRC/sample.rc" -O coff -o "$d/version.o"
  $CC -Os -s -mwindows -Wl,--no-insert-timestamp -DSAMPLE_MAJOR="$major" -DSAMPLE_VERSION="\"$v\"" \
    "$SRC/sample.c" "$d/version.o" -o "$d/sample.exe"
  rm "$d/version.o"
  printf 'Sample %s\r\n\r\nA small program that shows its version.\r\n' "$v" > "$d/readme.txt"
  [ "$v" = 1.0 ] || printf '\r\nChanges in %s: steadier start-up.\r\n' "$v" >> "$d/readme.txt"
  {
    printf '[program]\r\nversion=%s\r\nwindow=320x160\r\n' "$v"
    printf ';<user>\r\n[user]\r\nname=Anyone\r\ncolour=blue\r\n;</user>\r\n'
  } > "$d/settings.ini"
  printf 'Sample is free to use and to pass on.\r\n' > "$d/license.txt"
  printf 'Guide to Sample %s\r\n\r\nStart sample.exe; the window shows the version.\r\n' "$v" > "$d/docs/guide.txt"
  if [ "$v" = 2.0 ]; then
    printf 'What is new in 2.0: a second line in the window.\r\n' > "$d/whatsnew.txt"
  else
    printf 'Notes that 2.0 no longer ships.\r\n' > "$d/old-notes.txt"
  fi
done
echo "sample versions in $OUT: $(ls "$OUT" | tr '\n' ' ')"
