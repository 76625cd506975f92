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

# The trace never reaches the line: a host without standard error traces to "-" and every
# exchange is answered; past a file-size limit the host carries on untraced, unsignalled.
"$SIM" --exec sh -c 'ORVIX32_TRACE=- exec "$0" 2>&-' "$DEMO" >"$W/out3" || fail "stderr closed"
cmp -s "$W/out3" <("$SIM" --exec "$DEMO") || fail "stderr closed: the road differs"
(ulimit -f 1; ORVIX32_TRACE=$W/limited exec "$SIM" --exec "$DEMO" >/dev/null) || fail "ulimit -f"
[ "$(stat -c %s "$W/limited")" -le 1024 ] || fail "ulimit -f: traced past the limit"

# A capped trace: FILE.1 and FILE, each with its header, each loading for a replay, the two
# in order the whole recording, which replays.
max=$(($(stat -c %s "$W/site") * 2 / 3))
ORVIX32_TRACE_MAX=$max ORVIX32_TRACE=$W/cap "$SIM" --exec "$DEMO" >/dev/null || fail "capped"
for f in cap.1 cap; do
  head -1 "$W/$f" | grep -q '^# ORVIX32 trace version=1 ' || fail "$f: header"
  [ "$(stat -c %s "$W/$f")" -le $max ] && "$SIM" --replay "$W/$f" --exec true || fail "$f: size, load"
done
[ "$(body "$W/site")" = "$(body "$W/cap.1"; body "$W/cap")" ] || fail "capped: exchanges lost"
cat "$W/cap.1" "$W/cap" >"$W/whole"
"$SIM" --replay "$W/whole" --exec "$DEMO" >/dev/null 2>"$W/err" || fail "capped replay: $(cat "$W/err")"

# Replay plays back what the site did: a host that gives up during a slow
# exchange is a reported divergence; after a divergence the card models are
# where the site's commands left them; an unplug comes back as an unplug.
ORVIX32_TRACE=$W/site3 "$SIM" --exec "$DEMO" >"$W/out3" || fail recording
sed '0,/cmd A1 \(.*\) [0-9.]* ms$/s//cmd A1 \1 5000.0 ms/' "$W/site3" >"$W/slow"
"$SIM" --replay "$W/slow" --replay-timing --replay-continue --exec "$DEMO" >/dev/null 2>"$W/err"
[ $? = 99 ] && grep -Eq "^readersim: replay diverged at exchange 5 \(trace line 6\): the host gave up \
waiting after [0-9]+ ms; the site's reader answered after 5000 ms$" "$W/err" || fail "gave up: $(cat "$W/err")"
sed "$(grep -n 'cmd B9' "$W/site3" | head -1 | cut -d: -f1),\$d" "$W/site3" >"$W/cut"
"$SIM" --replay "$W/cut" --replay-continue --exec "$DEMO" >"$W/out4" 2>"$W/err"
[ $? = 99 ] && cmp -s "$W/out3" "$W/out4" || fail "the models missed the replayed exchanges"
ORVIX32_TRACE=$W/site4 "$SIM" --fault 'unplug skip=6' --exec "$DEMO" >"$W/out5"
grep -q 'status 101' "$W/site4" || fail "no unplug recorded"
timeout 20 "$SIM" --replay "$W/site4" --exec "$DEMO" >"$W/out6" 2>"$W/err"
[ $? = 1 ] && [ ! -s "$W/err" ] && cmp -s "$W/out5" "$W/out6" || fail "unplug: $(cat "$W/err")"

# Trace files: regular ones only, whole lines, a version this reader knows.
mkfifo "$W/fifo" && mkdir "$W/dir" && : >"$W/empty.trace" && ln -s "$W/site3" "$W/sl"
head -c -20 "$W/site3" >"$W/cut.trace"
printf '# ORVIX32 trace version=%s\n' 2 1.5 >"$W/v2"
printf '%05000d\n' 0 >"$W/long"
for c in "fifo:not a regular file (a FIFO)" "dir:Is a directory" "v2:line 1: trace format version 2" \
  "long:line 1: longer than 4096 characters" "/dev/zero:not a regular file (a device)"; do
  t=${c%%:*} && [ "${t:0:1}" = / ] || t=$W/$t
  timeout 5 "$SIM" --replay "$t" 2>"$W/err"
  [ $? = 2 ] && [ "$(wc -l <"$W/err")" = 1 ] && grep -qF "${c#*:}" "$W/err" || fail "$c: $(cat "$W/err")"
done
"$SIM" --replay "$W/cut.trace" --exec "$DEMO" >/dev/null 2>"$W/err"
[ $? = 99 ] && head -1 "$W/err" | grep -q "cut.trace: line $(wc -l <"$W/site3"): cut short" ||
  fail "cut: $(cat "$W/err")"
# mifare save replaces regular files only; --link never replaces a path.
printf 'mifare save %s\nmifare save %s\n' "$W/fifo" "$W/sl" | "$SIM" --stdin-control >"$W/out" 2>&1
[ "$(grep -c 'not a regular file; not replaced' "$W/out")" = 2 ] && [ -p "$W/fifo" ] && [ -L "$W/sl" ] ||
  fail "save: $(cat "$W/out")"
"$SIM" --link "$W/sl" 2>"$W/err"
[ $? = 2 ] && [ -L "$W/sl" ] && grep -q 'the path exists' "$W/err" || fail "--link: $(cat "$W/err")"
