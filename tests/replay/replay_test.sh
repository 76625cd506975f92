#!/bin/bash
# Record at the site, replay at the desk: the demo road recorded with the
# trace on, replayed against the same program, a changed program and a
# recording full of link failures; and readersim's command line.
set -u
SIM=$1 DEMO=$2 W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
for i in $(seq 1 10); do export ORVIX32_COM$i=/nonexistent/com$i; done
fail() { echo "FAIL: $*"; exit 1; }
# What must repeat exactly (exchanges without times), and the host's bytes of each.
body() { grep -v '^#' "$1" | cut -d' ' -f3- | sed 's/ [0-9.]* ms$//'; }
sent() { awk '!/^#/{s="";on=0;for(i=1;i<=NF&&$i!="<";i++){if(on)s=s (s?" ":"") $i;if($i==">")on=1}print s}' "$1"; }

ORVIX32_TRACE=$W/site "$SIM" --exec "$DEMO" >/dev/null || fail recording
ORVIX32_TRACE=$W/desk "$SIM" --replay "$W/site" --exec "$DEMO" >/dev/null 2>"$W/err" || fail "replay: $(cat "$W/err")"
[ "$(body "$W/site")" = "$(body "$W/desk")" ] || fail "the replayed exchanges differ"
grep -q '^# ORVIX32 trace version=1 port=COM1 speed=57600 library=[0-9.]*$' "$W/site" || fail header

# The contact section where the Mifare one was recorded.
ORVIX32_TRACE=$W/changed "$SIM" --exec "$DEMO" contact >/dev/null
n=$(paste -d'|' <(sent "$W/site") <(sent "$W/changed") | awk -F'|' '$1!=$2{print NR; exit}')
"$SIM" --replay "$W/site" --exec "$DEMO" contact >/dev/null 2>"$W/err"
[ $? = 99 ] || fail "a divergence must exit 99"
want="readersim: replay diverged at exchange $n (trace line $((n + 1)))
  expected: $(sent "$W/site" | sed -n "${n}p")
  received: $(sent "$W/changed" | sed -n "${n}p" | sed 's/ 89$//')
  trace:    $(grep -v '^#' "$W/site" | sed -n "${n}p")"
[ "$(cat "$W/err")" = "$want" ] || fail "report: $(cat "$W/err") -- want: $want"

# Link failures at the site come back the same at the desk, a slow reader as slow.
ORVIX32_TRACE=$W/site2 "$SIM" --fault silent --fault 'shortdata cmd=22' --fault 'badchecksum cmd=20' \
  --fault 'noack cmd=b9' --fault 'delay ms=300 cmd=a1' --exec "$DEMO" >"$W/out1"
for s in 102 113 115 108; do grep -q "status $s " "$W/site2" || fail "no $s recorded"; done
ORVIX32_TRACE=$W/desk2 "$SIM" --replay "$W/site2" --replay-timing --exec "$DEMO" >"$W/out2" 2>"$W/err"
[ $? = 1 ] && [ ! -s "$W/err" ] || fail "failure replay: $(cat "$W/err")"
[ "$(body "$W/site2")" = "$(body "$W/desk2")" ] && cmp -s "$W/out1" "$W/out2" || fail "failures differ"
# (the recorded time less the reply's wire time at the recorded speed, 6 bytes at 9600 bit/s)
grep -m1 'cmd A1' "$W/desk2" | grep -Eq ' (29[0-9]|3[0-9][0-9])\.[0-9] ms$' || fail "--replay-timing"

# Switches take yes/no or are refused; a --link failure names path and reason.
for c in "--paced=no:paced=off" "--paced=yes:paced=on" "--paced:paced=on"; do
  echo status | "$SIM" "${c%%:*}" --stdin-control | grep -q " ${c#*:} " || fail "$c"
done
"$SIM" --verbose=maybe 2>"$W/err"
[ $? = 2 ] && grep -q -- '--verbose=maybe: a switch takes yes or no' "$W/err" || fail --verbose=maybe
"$SIM" --link /nonexistent/d/reader 2>"$W/err"
grep -q "line at /nonexistent/d/reader: .*No such file or directory" "$W/err" || fail "$(cat "$W/err")"
