# Shared by scripts/demo and scripts/test: package checks and the build.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# ccache keys paths below the tree relative to it: clones share the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}

# What building and running the demo needs: the library, readersim, orvix
# (with orvix serve) and Python's standard library for the package's step.
DEMO_PACKAGES=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libboost-dev python3)
# The test bench, which the demo opens when a display is there.
BENCH_PACKAGES=(qt6-base-dev fonts-noto-cjk)
# What the tests add: compilers and runtimes of the sanitizer and fuzz builds,
# GoogleTest, OpenSSL (the DES reference), an X server for the bench's tests,
# the manual pages, pytest and the package's install, ser2net (the serial
# device server the network port tests reach readersim through), the
# WebSocket client of the service's tests, the browser tests of orvix serve's
# page (headless Chromium through WebDriver), and ccache and mold, which the
# builds use when present.
TEST_PACKAGES=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libssl-dev xvfb xauth help2man
  python3-pytest python3-setuptools python3-venv python3-pip ser2net python3-websocket
  chromium chromium-driver python3-selenium ccache mold)
# The WebAssembly driver (scripts/wasm-test): emcc with Debian's LLVM, binaryen, node.
TEST_PACKAGES+=(emscripten)
# The PC/SC driver and its tests (scripts/pcsc-test).
TEST_PACKAGES+=(pcscd libpcsclite-dev pcsc-tools python3-pyscard opensc)
# Everything the native build and its tests need.
BASE_PACKAGES=("${DEMO_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
# What the install test needs besides: the manual pages, the API reference,
# the Debian packages and their checks.
INSTALL_PACKAGES=(help2man doxygen dpkg-dev fakeroot file lintian pkgconf binutils)

# Installs the Debian packages given when any is missing: as root with
# apt-get; otherwise prints the exact command and stops.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  # One line on screen; apt's own output goes to a log shown only on failure.
  local log=$ROOT/build-apt.log
  echo "Installing Debian packages: ${missing[*]} (log: $log)"
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; } \
    >"$log" 2>&1; then
    cat "$log" >&2
    echo "Installing ${missing[*]} failed (log: $log)" >&2
    exit 1
  fi
}

# Build speed, when the tools are there: ccache as the compiler launcher,
# mold (else lld) as the linker, and orvix's command files in two units (the
# service's files keep one each: they share file-local names). Options
# are given at every configure, so a folder configured before ccache or mold
# was installed (or after it was removed) follows.
speed_options() {
  SPEED_OPTIONS=(-DORVIX32_UNITY=ON)
  if command -v ccache >/dev/null; then
    SPEED_OPTIONS+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  else
    SPEED_OPTIONS+=(-DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER=)
  fi
  if command -v mold >/dev/null; then
    SPEED_OPTIONS+=(-DORVIX32_LINKER=mold)
  elif command -v ld.lld >/dev/null; then
    SPEED_OPTIONS+=(-DORVIX32_LINKER=lld)
  else
    SPEED_OPTIONS+=(-DORVIX32_LINKER=)
  fi
}

# configure_and_build DIR [cmake options…] [-- ninja targets…]
configure_and_build() {
  local dir=$1
  shift
  local -a opts=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    opts+=("$1")
    shift
  done
  [ "${1:-}" = "--" ] && shift && targets=("$@")
  speed_options
  cmake -S "$ROOT" -B "$dir" -G Ninja "${SPEED_OPTIONS[@]}" "${opts[@]}" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
  ninja -C "$dir" -j "$JOBS" "${targets[@]}"
}

# Debian's hardening flags, and no source path in any binary: the flags the
# packages are built with (the native build of scripts/test is also the one
# its packages come from). Fills PACKAGE_FLAGS with cmake options; given at
# every configure, so a build folder made earlier with other flags takes them.
package_flags() {
  PACKAGE_FLAGS=()
  command -v dpkg-buildflags >/dev/null || return 0 # (dpkg-dev: the test's packages, not the demo's)
  local extra
  extra="$(dpkg-buildflags --get CPPFLAGS) -ffile-prefix-map=$ROOT=."
  PACKAGE_FLAGS=("-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $extra"
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $extra"
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
    "-DCMAKE_SHARED_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")
}

# No run may reach a real serial port: until a simulator is named, every COM
# port maps to a path that does not exist.
map_ports_nowhere() {
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    export "ORVIX32_COM$i=/nonexistent/orvix32-com$i"
  done
}
