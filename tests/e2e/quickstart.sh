#!/usr/bin/env bash
# The README's quick start, run as written: init, fill the version folders
# from the sample product, build, verify, diagnose. The commands are read
# from the README itself, so the guide cannot drift from the tool.
# usage: quickstart.sh DIST_DIR   (the build's distribution folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$(cd "$1" && pwd)"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"

# The indented block under the quick-start heading, without its first line
# (./build.sh build: done by now) and with /tmp/sample moved into T.
awk '/^### Quick start/ {on = 1; next} on && /^### / {exit} on && /^    / {print substr($0, 5)}' \
  "$ROOT/README.md" | grep -v '^\./build.sh' | sed "s|/tmp/sample|$T/sample|g" > "$T/steps.sh"
check "the quick start has its seven steps" 7 "$(wc -l < "$T/steps.sh")"

# A folder that looks like a checkout: build/dist and examples.
mkdir -p "$T/work/build"
ln -s "$DIST" "$T/work/build/dist"
ln -s "$ROOT/examples" "$T/work/examples"
rc=0; (cd "$T/work" && bash -x "$T/steps.sh") > "$T/out.txt" 2>&1 || rc=$?
# The last step diagnoses a version the project does not know: exit 1.
check "every step runs; diagnose reports the unknown version" 1 "$rc"
check "init scaffolds the project" 1 "$(grep -c '^myupdate: project.toml' "$T/out.txt")"
check "build writes the installer" 1 "$(grep -c '^installer myupdate/setup.exe' "$T/out.txt")"
check "verify proves 1.0" 1 "$(grep -c '^PASS myupdate/versions/1.0: 4 updated, 1 added, 1 removed' "$T/out.txt")"
check "diagnose names 1.0 as nearest for the changed program" 1 \
  "$(grep -cE '^sample.exe +delta +unknown; nearest 1.0' "$T/out.txt")"
[ "$failed" = 0 ] || sed 's/^/     | /' "$T/out.txt"
finish
