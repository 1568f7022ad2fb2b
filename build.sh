#!/usr/bin/env bash
# One entry point for everything: ./build.sh setup|build|demo|test|bench|fuzz
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
  osslsigncode openssl                                      # signing tests
)

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

# The 64-bit Wine prefix, made once per build directory and kept.
wine_env() {
  export WINEPREFIX="$BUILD/wine64" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating Wine prefix $WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
  fi
  # Drive R: is a floppy drive over build/removable, for the removable-disk
  # tests. The drive type takes effect when the wineserver starts.
  mkdir -p "$BUILD/removable"
  ln -sfn "$BUILD/removable" "$WINEPREFIX/dosdevices/r:"
  if ! grep -q '"r:"="floppy"' "$WINEPREFIX/system.reg" 2>/dev/null; then
    "$WINE64" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
  fi
}

# Runs "$@" with a virtual display and one persistent wineserver.
with_wine() {
  wine_env
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
  log "Windows tests under wine64"
  with_wine ctest --test-dir "$BUILD/x86_64" --output-on-failure || rc=1
  if [ -x "$ROOT/tests/fuzz/run.sh" ]; then
    log "fuzzing (bounded)"
    "$ROOT/tests/fuzz/run.sh" "$BUILD/native" 45 || rc=1
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
  bench) setup; build; "$ROOT/bench/run.sh" "$BUILD" "$@" ;;
  fuzz)  setup; build; "$ROOT/tests/fuzz/run.sh" "$BUILD/native" "${1:-600}" ;;
  *) echo "usage: $0 setup|build|demo|test|bench|fuzz" >&2; exit 2 ;;
esac
