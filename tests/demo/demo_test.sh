#!/bin/bash
# scripts/demo's tour on the programs of BUILD: each step's command and line,
# in order; nothing left behind (no process, no file), also after Ctrl-C at
# its last step; and its package lists hold none of the tests' packages.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd) BUILD=$1 W=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$W"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# shellcheck source=../../scripts/common.sh
source "$ROOT/scripts/common.sh"
for p in chromium chromium-driver python3-selenium ser2net python3-pytest python3-websocket \
  python3-venv libgtest-dev libgmock-dev libssl-dev clang xvfb help2man doxygen lintian ccache; do
  [[ " ${DEMO_PACKAGES[*]} ${BENCH_PACKAGES[*]} " != *" $p "* ]] || fail "the demo installs $p"
  [[ " ${BASE_PACKAGES[*]} ${INSTALL_PACKAGES[*]} " == *" $p "* ]] || fail "scripts/test misses $p"
done

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
demo() { # TMP ARGS…: the demo with its temporary folder in TMP
  local tmp=$1
  shift
  mkdir "$tmp" && BUILD=$BUILD TMPDIR=$tmp DEMO_LISTEN=127.0.0.1:$port "$@"
}
# Left behind: a process that has the demo's TMPDIR, or a file in it.
left() {
  grep -lsxzF "TMPDIR=$1" /proc/[0-9]*/environ
  find "$1" -mindepth 1
}

demo "$W/a" "$ROOT/scripts/demo" --text </dev/null >"$W/out" 2>&1 || fail "exit $?: $(cat "$W/out")"
want=('^\$ readersim --link [^ ]+/reader &$'
  '^  readersim is the reader on [^ ]+/reader: one Mifare 1 card \(serial 12 34 56 78\)'
  '^\$ orvix ports$'
  '^  COM1 +[^ ]+/reader +ok: 57600 bit/s, module 17, firmware TK61'
  '^  \(9 more ports: missing\)$'
  '^\$ orvix info$'
  '^  link .*COM1.*; module 17; .*firmware TK61.*; speed 57600 bit/s$'
  '^\$ orvix mifare dump -o [^ ]+/card\.mfd$'
  '^  card 12345678: 16 of 16 sectors read.* written to [^ ]+card\.mfd$'
  '^\$ orvix mifare value set 4 100$' '^  block 4: value 100$'
  '^\$ orvix mifare value add 4 25$' '^  block 4: value 125$'
  "^\\\$ python3 -c 'import orvix32$" '^  12345678 block 4: 125$'
  "^\\\$ orvix serve --listen 127.0.0.1:$port\$"
  "^  the operator's page: http://127.0.0.1:$port/ \\(stopped now")
at=0
for w in "${want[@]}"; do
  n=$(tail -n +$((at + 1)) "$W/out" | grep -nE -m1 "$w" | cut -d: -f1)
  [ -n "$n" ] || fail "no line /$w/ after line $at of:"$'\n'"$(cat "$W/out")"
  at=$((at + n))
done
[ -z "$(left "$W/a")" ] || fail "left behind: $(left "$W/a")"

# The port taken: one line, and the demo ends well. Then Ctrl-C while the
# page is served: the demo says so, exits 130, and leaves nothing.
mkfifo "$W/hold" "$W/keys"
python3 -c 'import socket,sys; s=socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen()
print("bound", flush=True); sys.stdin.read()' "$port" <"$W/hold" >"$W/taker" &
exec 4>"$W/hold"
# poll: until the port taker has bound
for _ in $(seq 100); do [ -s "$W/taker" ] && break; sleep 0.1; done
demo "$W/b" "$ROOT/scripts/demo" --text </dev/null >"$W/out" 2>&1 || fail "port taken: exit $?"
exec 4>&-
grep -qE '^  skipped: orvix serve did not start \(.+\)$' "$W/out" || fail "port taken: $(tail -3 "$W/out")"
demo "$W/c" script -qefc "'$ROOT/scripts/demo' --text" /dev/null <"$W/keys" >"$W/out" 2>&1 &
pid=$!
exec 3>"$W/keys"
# poll: until the tour has reached the page
for _ in $(seq 600); do grep -q "operator's page" "$W/out" && break; sleep 0.1; done
printf '\003' >&3
wait "$pid"
rc=$?
[ $rc = 130 ] && grep -q 'demo stopped' "$W/out" || fail "Ctrl-C: exit $rc: $(cat "$W/out")"
[ -z "$(left "$W/c")" ] || fail "Ctrl-C: left behind: $(left "$W/c")"
echo "ok: the tour's $((${#want[@]})) lines, the port taken, Ctrl-C; nothing left behind"
