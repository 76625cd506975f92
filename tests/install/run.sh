#!/usr/bin/env bash
# Install and consume: a build (BUILD, else a Release build in build-pkg/) is installed into a
# prefix and into a DESTDIR stage; two callers are built out of tree against
# those files only (pkg-config, find_package) and run against readersim; the
# Debian packages are made, their contents and lintian checked, unpacked into
# a throwaway root, and the programs there started.
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
cd "$ROOT"
ensure_packages "${BASE_PACKAGES[@]}" "${INSTALL_PACKAGES[@]}"
map_ports_nowhere
# The build to install and package: BUILD (scripts/test passes its native
# build, configured with the package flags), else a Release build of its own.
BUILD=${BUILD:-$ROOT/build-pkg}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  package_flags
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVIX32_BUILD_TESTS=OFF -DORVIX32_BUILD_BENCH=OFF "${PACKAGE_FLAGS[@]}" \
    >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
fi
ninja -C "$BUILD" -j "$JOBS" all docs >"$WORK/build.log" || { cat "$WORK/build.log"; exit 1; }
READERSIM=$BUILD/sim/readersim

# ---- the callers, against installed files only ---------------------------------
cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
DESTDIR=$WORK/stage cmake --install "$BUILD" --prefix /usr/local >/dev/null
expected=$(cat tests/install/consumer.expected)
run_caller() { # NAME LIBDIR PROGRAM
  local got
  got=$(LD_LIBRARY_PATH=$2 "$READERSIM" --exec "$3") || fail "$1 exited with $?: $got"
  [ "$got" = "$expected" ] || fail "$1 printed:"$'\n'"$got"
  echo "ok  $1: ${got//$'\n'/; }"
}
pcdir=$(dirname "$(find "$WORK/prefix" -name orvix32.pc)")
pc=$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --cflags --libs orvix32)
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror -o "$WORK/pc-consumer" tests/install/consumer.c $pc
run_caller "pkg-config caller (cc ... $pc)" "$(dirname "$pcdir")" "$WORK/pc-consumer"
# The README's examples of several readers, built against the installed headers.
awk -v w="$WORK" '/^## / {on = /^## Several readers$/} on && /^```(c|cpp)$/ {f = substr($0, 4); next}
  /^```$/ {f = ""} on && f {print > (w "/several." f)}' README.md
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror -o "$WORK/several-c" "$WORK/several.c" $pc
# shellcheck disable=SC2086
c++ -std=c++20 -Wall -Wextra -Werror -o "$WORK/several-cpp" "$WORK/several.cpp" $pc
# The C++ one on two readers, each with its own card.
"$READERSIM" --link "$WORK/reader2" --do 'mifare remove' --do 'mifare insert classic 9ABCDEF0' \
  >/dev/null &
sim2=$!
# poll: until readersim has made the second reader's link
for _ in $(seq 50); do if [ -e "$WORK/reader2" ]; then break; fi; sleep 0.1; done
got=$(LD_LIBRARY_PATH=$(dirname "$pcdir") timeout 30 "$READERSIM" --exec "$WORK/several-cpp" COM1 \
  "$WORK/reader2" | LC_ALL=C sort) || true
kill "$sim2"
[ "$got" = "$WORK/reader2: success"$'\n'"COM1: success" ] || fail "README C++ example printed: $got"
echo "ok  README examples of several readers: built (C, C++20), the C++ one ran on two readers"
stage=$WORK/stage/usr/local
cmake -S tests/install/cmake-consumer -B "$WORK/cmake-consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
ninja -C "$WORK/cmake-consumer" >/dev/null
run_caller "find_package caller (DESTDIR stage)" "$(dirname "$(find "$stage" -name 'libORVIX32.so.7')")" \
  "$WORK/cmake-consumer/consumer"
if grep -rlF "$ROOT" "$WORK/prefix" "$WORK/stage"; then fail "installed files name the source tree"; fi

# ---- Debian packages ---------------------------------------------------------------
rm -rf "$BUILD/debs"
(cd "$BUILD" && cpack -G DEB -B "$BUILD/debs" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
# Where each file belongs: package, then the paths (extended regex) it holds.
rules="liborvix32-7 ^/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libORVIX32\.so\.7(\.[0-9]+\.[0-9]+)?$
liborvix32-dev ^/usr/(include/orvix(32\.h|\.h|\.hpp|/ops/[a-z_]+\.h)|lib/[^/]+/(libORVIX32\.so|liborvix_ops\.a|cmake/ORVIX32/.*\.cmake|pkgconfig/orvix32\.pc)|share/doc/liborvix32-dev/html/.*)$
orvix32-tools ^/usr/(bin/(readersim|orvix)|share/man/man1/(readersim|orvix)\.1\.gz|lib/systemd/user/orvix-serve\.service|share/orvix32/web/[^/]+)$
libifd-orvix ^/usr/(lib/pcsc/drivers/serial/libifd-orvix\.so|share/libifd-orvix/reader\.conf\.d/orvix)$
cardbench ^/usr/(bin/cardbench|share/man/man1/cardbench\.1\.gz|share/applications/cardbench\.desktop|share/icons/hicolor/scalable/apps/cardbench\.svg)$"
must="liborvix32-7:libORVIX32.so.7.4.0 liborvix32-dev:orvix32.pc liborvix32-dev:ORVIX32Config.cmake
liborvix32-dev:ORVIX32ConfigVersion.cmake liborvix32-dev:html/index.html orvix32-tools:readersim.1.gz
libifd-orvix:libifd-orvix.so"
mkdir -p "$WORK/root"
for deb in "$BUILD"/debs/*.deb; do
  pkg=$(dpkg-deb -f "$deb" Package)
  rule=$(awk -v p="$pkg" '$1 == p {print $2}' <<<"$rules")
  [ -n "$rule" ] || fail "unexpected package $pkg"
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}')
  stray=$(grep -Ev "$rule|^/usr/share/doc/$pkg/(copyright|changelog\.Debian\.gz)$" <<<"$files" || true)
  [ -z "$stray" ] || fail "$pkg holds files of another package:"$'\n'"$stray"
  for f in /usr/share/doc/$pkg/copyright /usr/share/doc/$pkg/changelog.Debian.gz; do
    grep -qx "$f" <<<"$files" || fail "$pkg lacks $f"
  done
  for m in $must; do
    [ "${m%%:*}" != "$pkg" ] || grep -q "/${m#*:}$" <<<"$files" || fail "$pkg lacks ${m#*:}"
  done
  dpkg-deb -x "$deb" "$WORK/root"
  # No errors; the warnings are shown (and listed with their reasons in the README).
  rc=0
  lintian --fail-on error "$deb" >"$WORK/lintian.raw" 2>&1 || rc=$?
  grep -v 'root privileges' "$WORK/lintian.raw" >"$WORK/lintian.log" || true
  [ "$rc" -eq 0 ] || { cat "$WORK/lintian.log"; fail "lintian: $pkg"; }
  printf 'ok  %-15s %8s bytes  lintian: %s\n' "$pkg" "$(stat -c %s "$deb")" \
    "$(grep -c . "$WORK/lintian.log" | sed "s/^0$/clean/;s/^[1-9][0-9]*$/& warnings/")"
  sed 's/^/      /' "$WORK/lintian.log"
done
lib=$(find "$WORK/root" -name 'libORVIX32.so.7.4.0')
[ "$(objdump -p "$lib" | awk '/SONAME/ {print $2}')" = libORVIX32.so.7 ] || fail "soname of $lib"
while IFS= read -r -d '' f; do
  if file -b "$f" | grep -q ^ELF && strings -a "$f" | grep -F "$ROOT"; then fail "$f names a build path"; fi
done < <(find "$WORK/root" -type f -print0)

# ---- the installed programs, from the throwaway root ----------------------------------
root_bin=$WORK/root/usr/bin
help=$("$root_bin/readersim" --help) || fail "installed readersim --help exited with $?"
[[ $help == "usage: readersim "* ]] || fail "installed readersim --help printed: $help"
echo "ok  installed readersim --help: ${help%%$'\n'*}"
if [ -x "$root_bin/cardbench" ]; then
  # The installed program finds the installed library through its own folder.
  rel=$(strings -a -el "$root_bin/cardbench" | grep -m1 '^\.\./lib/')
  [ -e "$root_bin/${rel}libORVIX32.so.7" ] || fail "cardbench looks for the library in $rel"
  rc=0
  QT_QPA_PLATFORM=offscreen timeout 3 "$root_bin/cardbench" >"$WORK/cardbench.log" 2>&1 || rc=$?
  [ $rc -eq 124 ] || { cat "$WORK/cardbench.log"; fail "installed cardbench ended with $rc"; }
  echo "ok  installed cardbench ran offscreen for 3 s (library: usr/bin/${rel}libORVIX32.so.7)"
fi
echo "install test passed"
