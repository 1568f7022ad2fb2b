#!/usr/bin/env bash
# One entry point for everything: ./build.sh setup|build|demo|test|bench|fuzz|torture
# Every subcommand runs setup first, so each works on a fresh Debian 12 machine.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
BUILD="$ROOT/build"
cd "$ROOT"   # cmake and ctest read CMakePresets.json from here
WINE64=/usr/lib/wine/wine64
JOBS="$(nproc)"

log() { printf '== %s\n' "$*"; }

# Debian packages, each with the reason it is here (README.md lists them too).
PACKAGES=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools  # the two stubs, Win32 tests
  wine wine64                                               # running Win32 code
  xvfb xauth                                                # a display for GUI tests
  imagemagick                                               # screenshots, picture conversion
  cmake ninja-build python3                                 # build; stub image check
  googletest libgtest-dev                                   # tests (native and mingw)
  clang llvm libclang-rt-14-dev                             # native tree, libFuzzer, sanitizers
  libtomlplusplus-dev libcli11-dev                          # packaging tool: project file, CLI
  libdeflate-dev zlib1g-dev                                 # compressor; decoder benchmark anchors
  libxxhash-dev                                             # reference for the file digest's tests
  osslsigncode openssl                                      # signing tests
  xdelta3 bsdiff zstd                                       # patch benchmark anchors
  locales                                                   # the code-page tests' locales (below)
  libdivsufsort-dev                                         # differ: suffix array of the old file
)

# Wine gives a process the ANSI code page of its locale: the code-page tests
# run installers as a German (1252) and a Japanese (932) Windows would.
LOCALES=(de_DE.UTF-8 ja_JP.UTF-8)

setup() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing: ${missing[*]}"
    local sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  setup_locales
}

setup_locales() {
  local wanted=()
  for l in "${LOCALES[@]}"; do
    locale -a 2>/dev/null | grep -qix "${l%.*}.utf8" || wanted+=("$l")
  done
  ((${#wanted[@]})) || return 0
  log "generating locales: ${wanted[*]}"
  local sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo"
  for l in "${wanted[@]}"; do
    if grep -q "^# *$l UTF-8" /etc/locale.gen; then
      $sudo sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
    elif ! grep -q "^$l UTF-8" /etc/locale.gen; then
      echo "$l UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    fi
  done
  $sudo locale-gen >/dev/null
}

# 32-bit Wine: the kernel here runs no 32-bit code, so i386 programs run
# under QEMU's user-mode emulation through binfmt_misc. Returns 1 (with the
# reason on stderr) when this machine cannot be set up for it.
setup32() {
  if [ "$(id -u)" != 0 ]; then echo "32-bit Wine needs root for its setup" >&2; return 1; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  local missing=()
  for p in wine32:i386 qemu-user-static; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
  fi
  local fs=/proc/sys/fs/binfmt_misc
  if [ ! -e "$fs/register" ]; then
    mount -t binfmt_misc binfmt_misc "$fs" 2>/dev/null || { echo "binfmt_misc cannot be mounted" >&2; return 1; }
  fi
  if [ ! -e "$fs/qemu-i386" ]; then
    # Magic and mask of 32-bit x86 ELF executables; F: the interpreter is
    # opened now, so it works inside any mount namespace later.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$fs/register" 2>/dev/null || { echo "binfmt_misc: cannot register i386" >&2; return 1; }
  fi
}

# The three trees of CMakePresets.json: configure (again, so that the
# presets' values hold in an older tree) and build.
build_tree() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
}

build() {
  log "native tree"
  build_tree native
  log "i686 tree (the shipped stub)"
  build_tree i686
  log "x86_64 tree (stub twin and Windows tests)"
  build_tree x86_64
}

# Every test is a CTest test with a label (README.md, Tests); each tree's
# Windows tests start and stop their Wine session as a CTest fixture
# (tests/e2e/wine.sh).
run_tests() {
  local t0=$SECONDS rc=0
  log "native tree: native tests, end-to-end scripts, bounded fuzzing (135 s)"
  ctest --preset native || rc=1
  log "x86_64 tree: Windows tests under wine64"
  ctest --preset x86_64 || rc=1
  log "i686 tree: the 32-bit suite, the shipped stub under 32-bit Wine"
  if setup32; then
    local t32=$SECONDS
    ctest --preset i686 || rc=1
    log "32-bit suite took $((SECONDS - t32)) s"
  elif [ "${CI:-}" = true ]; then
    echo "32-bit suite: 32-bit Wine could not be set up on this CI machine" >&2; rc=1
  else
    echo "32-bit suite SKIPPED: 32-bit Wine could not be set up here (see above)"
  fi
  log "tests took $((SECONDS - t0)) s"
  return $rc
}

# in_wine64 env|with CMD...: CMD with the Windows tests' 64-bit prefix
# (env), or in a Wine session of its own over it (with; tests/e2e/wine.sh).
in_wine64() {
  "$ROOT/tests/e2e/wine.sh" "$1" "$BUILD/wine64" --floppy "$BUILD/removable" -- "${@:2}"
}

cmd="${1:-build}"; shift || true
case "$cmd" in
  setup) setup ;;
  build) setup; build ;;
  test)  setup; build; run_tests ;;
  demo)  setup; build; in_wine64 env "$ROOT/examples/demo.sh" "$BUILD" ;;
  screens) setup; build; in_wine64 env "$ROOT/examples/screens.sh" "$BUILD" "$ROOT/docs/screens" ;;
  bench) setup; build; "$ROOT/bench/run.sh" "$BUILD" "$@" ;;
  fuzz)  setup; build; "$ROOT/tests/fuzz/run.sh" "$BUILD/native" "${1:-600}" ;;  # seconds per target
  torture) setup; build; in_wine64 with "$WINE64" "$BUILD/x86_64/torture.exe" "${1:-1000}" ;;
  *) echo "usage: $0 setup|build|demo|screens|test|bench|fuzz|torture" >&2; exit 2 ;;
esac
