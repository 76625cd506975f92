#!/usr/bin/env bash
# The Windows kit: build-kit/ORVIX32-<version>-windows.zip with the 32-bit and
# 64-bit ORVIX32.dll, the headers, orvix32.def, and for each DLL a MinGW import
# library (libORVIX32.dll.a, made with dlltool) and an MSVC one (ORVIX32.lib,
# made with llvm-dlltool) from the export list, plus README.txt and
# LICENSE.txt.
#
#   packaging/windows/make-kit.sh          both DLLs, the import libraries, the zip
#   packaging/windows/make-kit.sh libs 32  only the import libraries of one DLL
#                                          (into build-win32/kit/; 32 or 64)
#
# Reuses build-win32/ and build-win64/ (the folders of scripts/wine-test).
# Every import library is checked to resolve exactly the names of the export
# list before it goes into the kit.
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
cd "$ROOT"
ensure_packages cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix llvm zip unzip
VERSION=$(sed -n 's/^project(ORVIX32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DEF=driver/orvix32.def

def_names() { awk '/^EXPORTS/ {on = 1; next} on && NF {print $1}' "$DEF" | sort; }

# import_names LIB: the DLL names an import library imports (its __imp_
# symbols), without the stdcall decoration of 32-bit callers (_Name@N).
import_names() {
  llvm-nm "$1" 2>/dev/null | awk '$2 ~ /^[IT]$/ && $3 ~ /^__imp_/ {print $3}' |
    sed -E 's/^__imp_//; s/^_//; s/@[0-9]+$//' | sort -u
}

check_lib() {
  local lib=$1 got
  got=$(import_names "$lib")
  if [ "$got" != "$(def_names)" ]; then
    echo "$lib does not import exactly the names of $DEF:" >&2
    diff <(def_names) <(printf '%s\n' "$got") >&2 || true
    return 1
  fi
  echo "$lib: $(printf '%s\n' "$got" | wc -l) names"
}

# make_libs BITS: build the DLL and write its import libraries to build-winBITS/kit/.
make_libs() {
  local bits=$1 arch machine build
  case $bits in
  32) arch=i686 machine=i386 ;;
  64) arch=x86_64 machine=i386:x86-64 ;;
  *) echo "unknown flavour $bits (32 or 64)" >&2 && return 1 ;;
  esac
  build=$ROOT/build-win$bits
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" -DORVIX32_BUILD_APP=OFF >"$build.configure.log"
  ninja -C "$build" -j "$JOBS" ORVIX32 >/dev/null
  mkdir -p "$build/kit"
  cp "$build/driver/ORVIX32.dll" "$build/kit/"
  if [ "$bits" = 32 ]; then
    # 32-bit callers link stdcall names decorated with their argument bytes
    # (_LinkCom@4); the DLL exports them undecorated. The decorated names come
    # from the objects the DLL is made of; both import libraries map each
    # decorated name to the plain export (-k).
    { echo "LIBRARY ORVIX32.dll" && echo EXPORTS &&
      find "$build/driver" -name '*.obj' -exec llvm-nm {} + |
      awk '$2 == "T" && $3 ~ /^_[A-Za-z0-9_]+@[0-9]+$/ {print substr($3, 2)}' |
      grep -xE "($(def_names | paste -sd'|'))@[0-9]+" | sort -u; } >"$build/kit/orvix32-stdcall.def"
    i686-w64-mingw32-dlltool -k -D ORVIX32.dll -d "$build/kit/orvix32-stdcall.def" \
      -l "$build/kit/libORVIX32.dll.a"
    llvm-dlltool -m "$machine" -k -d "$build/kit/orvix32-stdcall.def" -l "$build/kit/ORVIX32.lib"
  else
    x86_64-w64-mingw32-dlltool -D ORVIX32.dll -d "$DEF" -l "$build/kit/libORVIX32.dll.a"
    llvm-dlltool -m "$machine" -d "$DEF" -l "$build/kit/ORVIX32.lib"
  fi
  check_lib "$build/kit/libORVIX32.dll.a"
  check_lib "$build/kit/ORVIX32.lib"
}

if [ "${1:-}" = libs ]; then
  make_libs "$2"
  exit 0
fi

name=ORVIX32-$VERSION-windows
stage=$ROOT/build-kit/$name
rm -rf "$stage" "$ROOT/build-kit/$name.zip"
mkdir -p "$stage/include" "$stage/x86" "$stage/x64"
for bits in 32 64; do
  make_libs "$bits"
  dir=$([ "$bits" = 32 ] && echo x86 || echo x64)
  cp "$ROOT/build-win$bits/kit/"{ORVIX32.dll,libORVIX32.dll.a,ORVIX32.lib} "$stage/$dir/"
done
cp include/orvix32.h include/orvix.h include/orvix.hpp "$stage/include/"
cp "$DEF" "$stage/orvix32.def"
# Text files with Windows line ends.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$ROOT/build-kit" && zip -qrX "$name.zip" "$name")
echo "$ROOT/build-kit/$name.zip: $(stat -c %s "$ROOT/build-kit/$name.zip") bytes"
