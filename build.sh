#!/usr/bin/env bash
# One entry point for everything: ./build.sh setup|build|demo|test|bench|fuzz|torture
# Every subcommand runs setup first, so each works on a fresh Debian 12 machine.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
BUILD="$ROOT/build"
DIST="$BUILD/dist"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
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

configure_and_build() {  # tree-name extra-cmake-args...
  local tree="$1"; shift
  local dir="$BUILD/$tree"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$JOBS"
}

build() {
  log "native tree"
  configure_and_build native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  log "i686 tree (the shipped stub)"
  configure_and_build i686 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake"
  log "x86_64 tree (stub twin and Windows tests)"
  configure_and_build x86_64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE64"
}

# Selects the Wine prefix DIR, making it once per build directory and keeping it.
use_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating Wine prefix $WINEPREFIX (the WoW64 one takes a few minutes)"
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
  fi
}

# The 64-bit prefix of the Windows tests.
wine_env() {
  use_prefix "$BUILD/wine64"
  # Drive R: is a floppy drive over build/removable, for the removable-disk
  # tests. The drive type takes effect when the wineserver starts.
  mkdir -p "$BUILD/removable"
  ln -sfn "$BUILD/removable" "$WINEPREFIX/dosdevices/r:"
  if ! grep -q '"r:"="floppy"' "$WINEPREFIX/system.reg" 2>/dev/null; then
    "$WINE64" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
  fi
}

# The WoW64 prefix (64-bit Wine with its 32-bit side) for the shipped stub,
# made once per build directory: the stub sees what it sees as a 32-bit
# program on 64-bit Windows.
wow64_env() {
  use_prefix "$BUILD/wow64"
}

# Runs "$@" with a virtual display and one persistent wineserver.
with_wine() {
  wine_env
  with_server "$@"
}

with_server() {
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    '"$WINESERVER"' -p
    '"$WINE64"' wineboot >/dev/null 2>&1 </dev/null
    '"$WINE64"' reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 </dev/null
    rc=0; "$@" || rc=$?
    '"$WINESERVER"' -k || true
    exit $rc' bash "$@"
}

run_tests() {
  local t0=$SECONDS rc=0
  log "native tests"
  ctest --test-dir "$BUILD/native" --output-on-failure || rc=1
  "$ROOT/tests/e2e/build_inspect.sh" "$DIST" || rc=1
  "$ROOT/tests/e2e/verify_run.sh" "$DIST" || rc=1
  "$ROOT/tests/e2e/quickstart.sh" "$DIST" || rc=1
  log "Windows tests under wine64"
  with_wine ctest --test-dir "$BUILD/x86_64" --output-on-failure || rc=1
  log "32-bit suite: the shipped i686 stub under 32-bit Wine"
  if setup32; then
    local t32=$SECONDS
    wow64_env
    with_server "$ROOT/tests/e2e/smoke32.sh" "$DIST" "$BUILD/i686/wizard_walk.exe" "$BUILD/x86_64/wizard_walk.exe" || rc=1
    log "32-bit suite took $((SECONDS - t32)) s"
  elif [ "${CI:-}" = true ]; then
    echo "32-bit suite: 32-bit Wine could not be set up on this CI machine" >&2; rc=1
  else
    echo "32-bit suite SKIPPED: 32-bit Wine could not be set up here (see above)"
  fi
  if [ -x "$ROOT/tests/fuzz/run.sh" ]; then
    log "fuzzing (bounded: 135 s shared among the targets)"
    "$ROOT/tests/fuzz/run.sh" "$BUILD/native" --total 135 || rc=1
  fi
  log "tests took $((SECONDS - t0)) s"
  return $rc
}

demo() {
  wine_env
  "$ROOT/examples/demo.sh" "$BUILD"
}

cmd="${1:-build}"; shift || true
case "$cmd" in
  setup) setup ;;
  build) setup; build ;;
  test)  setup; build; run_tests ;;
  demo)  setup; build; demo "$@" ;;
  screens) setup; build; wine_env; "$ROOT/examples/screens.sh" "$BUILD" "$ROOT/docs/screens" ;;
  bench) setup; build; "$ROOT/bench/run.sh" "$BUILD" "$@" ;;
  fuzz)  setup; build; "$ROOT/tests/fuzz/run.sh" "$BUILD/native" "${1:-600}" ;;  # seconds per target
  torture) setup; build; with_wine "$WINE64" "$BUILD/x86_64/torture.exe" "${1:-1000}" ;;
  *) echo "usage: $0 setup|build|demo|screens|test|bench|fuzz|torture" >&2; exit 2 ;;
esac
