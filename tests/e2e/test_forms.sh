#!/usr/bin/env bash
# Forms of a file, with the real updater.exe under Wine and nginx: five
# releases published in a row (r0 .. r4), each changing a big archive of
# game-like data a little and a text table, so that the list of r4 names a
# compressed copy of each and delta patches of the archive from r1, r2, r3:
#   [behind]   a client two releases behind (r2) fetches the archive's delta
#              and the table's compressed copy, nothing whole; the files are
#              r4's; a screenshot while the delta is applied; the restarted
#              updater finds nothing to update;
#   [cut]      the client of [behind], its updater killed while the delta is
#              applied past the first segment: the next start keeps the
#              segments made (the log says how many bytes) and makes the rest;
#   [changed]  the same client with one byte of its archive changed: no delta
#              applies (the log says so), the compressed copy comes instead;
#   [far]      a client four releases behind (r0): no delta; compressed
#              copies, and the files are r4's;
#   [damaged]  the client of [behind] behind a relay that flips one byte of
#              the delta's last segment on the way: only that segment's body
#              is asked for again (a 206 for its span), and the files are r4's;
#   [disk]     the client of [behind] on a disk with room for the delta but not
#              for the file it makes (a small tmpfs): the run fails with the
#              full-disk text, the old archive stays, the delta stays for the
#              next run. Skipped, not counted, where mounting is refused.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

PROBE="python3 $ROOT/tests/e2e/window_probe.py"
cycle_setup forms
trap 'rm -rf "$WORK"; stage_cleanup' EXIT
OX=278 OY=289   # the window's top-left corner on the 1024x768 screen
at() { echo $((OX + $1)) $((OY + $2)); }
MIB=$((1 << 20))
BIG_MIB=160

# ---- five releases ----------------------------------------------------------
# The archive: 64 KiB blocks, half of them already compressed (random bytes),
# half tables and text; each release rewrites 1 % of it in scattered 25 KiB
# blocks and inserts 256 KiB somewhere. The table: text, changed each release.
python3 - "$WORK" "$BIG_MIB" <<'PY'
import os, random, sys
work, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(27)
def block(i):
    if i % 2:
        return rng.randbytes(65536)
    line = b"item %08d;price %6d;weight %5d;name sword-of-%d\n"
    out = b"".join(line % (i * 1000 + k, rng.randrange(99999), rng.randrange(9999), k % 97) for k in range(1200))
    return out[:65536].ljust(65536, b" ")
data = bytearray(b"".join(block(i) for i in range(mib * 16)))
for r in range(5):
    folder = os.path.join(work, "r%d" % r)
    os.makedirs(folder, exist_ok=True)
    if r:
        for _ in range(len(data) // 100 // 25600):
            at = rng.randrange(len(data) - 25600)
            data[at:at + 25600] = rng.randbytes(25600)
        at = rng.randrange(len(data))
        data[at:at] = rng.randbytes(256 * 1024)
    with open(os.path.join(folder, "big.pak"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "table.txt"), "wb") as f:
        f.write(b"".join(b"row %d of release %d: %d\n" % (k, r, (k * 7919 + r) % 10007) for k in range(6000)))
PY
for r in 0 1 2 3 4; do
  "$PATCHTOOL" publish "$WORK/r$r" "$SERVER" >"$WORK/publish-r$r.txt" 2>&1 || { cat "$WORK/publish-r$r.txt"; exit 1; }
done
LIST="$SERVER/patch/528/filelist.txt"
check "r4's list names deltas of the archive from three releases" test "$(grep -ac '^#form#delta#' "$LIST")" -eq 3
check "and a compressed copy of each file" test "$(grep -ac '^#form#zstd#' "$LIST")" -eq 2

start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
sent_to() { awk -v p="$1" '$1 ~ p { s += $4 } END { print s + 0 }' "$NGINX_DIR/access.log"; }

# new_client NAME RELEASE: a client folder with the launcher and a release's files.
new_client() {
  CLIENT="$WORK/$1 客户 端"
  rm -rf "$CLIENT"; mkdir -p "$CLIENT"
  cp "$WORK/$2/big.pak" "$WORK/$2/table.txt" "$CLIENT/"
  pack_updater "$CLIENT/$LAUNCHER"
}
run_done() { grep -qa "download run done" "$CLIENT/update.log" 2>/dev/null; }
restarted_current() { grep -qa "list checked: 0 files to update" "$CLIENT/update.log" 2>/dev/null; }
same_as_r4() { cmp -s "$CLIENT/big.pak" "$WORK/r4/big.pak" && cmp -s "$CLIENT/table.txt" "$WORK/r4/table.txt"; }

# anon_peak_while FILE: the updater's largest resident anonymous memory (Wine's
# own included) in KiB, sampled every 0.2 s until FILE exists (bounded: 5 min).
anon_peak_while() {
  local peak=0 pid kib n=0
  while [ ! -e "$1" ] && [ $n -lt 1500 ]; do
    pid="$(pgrep -f '[u]pdate\.dat gxin' | head -1)"
    kib="$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null)"
    [ -n "$kib" ] && [ "$kib" -gt "$peak" ] && peak=$kib
    sleep 0.2; n=$((n + 1))
  done
  echo "$peak"
}

# ---- [behind] -----------------------------------------------------------------
new_client behind r2
reset_run
start_launcher "$CLIENT" zh_CN.UTF-8
anon_peak_while "$WORK/behind-done" >"$WORK/behind-anon" &
SAMPLER=$!
# The apply of a 160 MiB archive takes a fraction of a second here: to see it
# in the window, the updater is let run 20 ms in every 100 ms from its start
# (from the line naming the delta, a 0.2 s poll could come after the apply),
# and the window is shot once a third of the archive is made.
updater_pid() { pgrep -f '[u]pdate\.dat gxin' | head -1; }
throttle() {  # throttle FLAGFILE: until FLAGFILE exists (bounded: 120 s)
  local pid n=0
  while [ ! -e "$1" ] && [ $n -lt 1200 ]; do
    pid="$(updater_pid)"
    [ -n "$pid" ] && kill -STOP "$pid" 2>/dev/null
    sleep 0.08
    [ -n "$pid" ] && kill -CONT "$pid" 2>/dev/null
    sleep 0.02; n=$((n + 1))
  done
  pid="$(updater_pid)"; [ -n "$pid" ] && kill -CONT "$pid" 2>/dev/null
}
applying() {
  [ -f "$CLIENT/big.pak.tmp.tmp" ] &&
    [ "$(stat -c %s "$CLIENT/big.pak.tmp" 2>/dev/null || echo 0)" -gt $(( BIG_MIB * MIB / 3 )) ]
}
throttle "$WORK/throttle-done" &
THROTTLE=$!
if wait_until 120 grep -qas "form of big.pak: delta" "$CLIENT/update.log"; then
  xdotool mousemove 900 700
  if wait_until 60 applying; then
    sleep 0.3  # a timer tick of the window while the apply goes on
    shot forms-applying
    /usr/bin/convert "$SHOTS/forms-applying.png" "$WORK/applying.ppm"
    check "[behind] while the delta is applied the window counts the archive's bytes made" \
      $PROBE count "$WORK/applying.ppm" $(at 88 117) 248 18 192 192 192 60 20
  else
    check "[behind] the delta's apply was seen" false
  fi
else
  check "[behind] the run names the archive's delta" false
fi
touch "$WORK/throttle-done"; wait "$THROTTLE"
check "[behind] the run ends" wait_until 180 run_done
touch "$WORK/behind-done"; wait "$SAMPLER"
echo "   [behind] the updater's resident anonymous memory peaked at $(( $(cat "$WORK/behind-anon") / 1024 )) MiB (Wine's own included) for a ${BIG_MIB} MiB archive"
check "[behind] the apply held under 64 MiB (the $(basename "$WIN_BUILD") build)" test "$(cat "$WORK/behind-anon")" -lt $((64 * 1024))
check "[behind] the files are r4's" same_as_r4
check "[behind] the archive came as a delta" grep -qa "applied delta of .* to big.pak" "$CLIENT/update.log"
check "[behind] the table came as a compressed copy" grep -qa "applied zstd copy of .* to table.txt" "$CLIENT/update.log"
check "[behind] nothing was fetched whole" test "$(request_count '^/patch/528/(big.pak|table.txt) ')" -eq 0
BEHIND_BYTES=$(sent_to '^/patch/forms/')
echo "   [behind] the server sent $BEHIND_BYTES bytes of forms for a $(stat -c %s "$WORK/r4/big.pak")-byte archive"
check "[behind] the server sent under 5 % of the archive" test "$BEHIND_BYTES" -lt $(( BIG_MIB * MIB / 20 ))
check "[behind] the restarted updater finds nothing to update" wait_until 120 restarted_current
check "[behind] no partial file is left" bash -c '! ls "$0"/*.tmp >/dev/null 2>&1' "$CLIENT"
cp "$CLIENT/update.log" "$SHOTS/forms-behind-update.log"
end_updaters

# ---- [cut] ------------------------------------------------------------------------
# Segments of 64 MiB: the updater is killed once the output holds more than
# the first one, while the apply is slowed down as in [behind].
SEGMENT=$((64 * MIB))
new_client cut r2
reset_run
start_launcher "$CLIENT" zh_CN.UTF-8
past_first_segment() {
  [ -f "$CLIENT/big.pak.tmp.tmp" ] && [ "$(stat -c %s "$CLIENT/big.pak.tmp" 2>/dev/null || echo 0)" -gt $(( SEGMENT + 4 * MIB )) ]
}
# Once past it, the throttle is ended and the updater held stopped, so that
# the kill (which takes a while) lands inside the apply whatever the poll.
hold_past_first_segment() {  # bounded: 60 s
  local n=0 pid
  while [ $n -lt 3000 ]; do
    if past_first_segment; then
      kill "$THROTTLE" 2>/dev/null; wait "$THROTTLE" 2>/dev/null
      pid="$(updater_pid)"; [ -n "$pid" ] && kill -STOP "$pid" 2>/dev/null
      return 0
    fi
    sleep 0.02; n=$((n + 1))
  done
  return 1
}
throttle "$WORK/cut-throttle-done" &
THROTTLE=$!
if wait_until 120 grep -qas "form of big.pak: delta" "$CLIENT/update.log"; then
  hold_past_first_segment
  end_wine   # killed, not closed: nothing of the run's own ending happens
  touch "$WORK/cut-throttle-done"; wait "$THROTTLE" 2>/dev/null
  KEPT=$(stat -c %s "$CLIENT/big.pak.tmp" 2>/dev/null || echo 0)
  end_updaters
  echo "   [cut] killed with $KEPT bytes of the archive made"
  check "[cut] killed inside the apply, past its first segment" \
    test "$KEPT" -gt "$SEGMENT" -a "$KEPT" -lt "$(stat -c %s "$WORK/r4/big.pak")"
  check "[cut] no file was installed yet" cmp -s "$CLIENT/big.pak" "$WORK/r2/big.pak"
  mv "$CLIENT/update.log" "$WORK/cut-first-update.log"
  reset_run
  start_launcher "$CLIENT" zh_CN.UTF-8
  check "[cut] the next run ends" wait_until 180 run_done
  check "[cut] it kept the segments made and made the rest" \
    grep -qa "applied delta of .* to big.pak: .* bytes, .*, after $(( (KEPT / SEGMENT) * SEGMENT )) bytes a cut apply left" "$CLIENT/update.log"
  check "[cut] the delta was not fetched again" test "$(sent_to '\.delta')" -lt 4096
  check "[cut] the files are r4's" same_as_r4
else
  touch "$WORK/cut-throttle-done"; wait "$THROTTLE"
  check "[cut] the run names the archive's delta" false
fi
end_updaters

# ---- [changed] ----------------------------------------------------------------
new_client changed r2
printf 'X' | dd of="$CLIENT/big.pak" bs=1 seek=1000 conv=notrunc status=none
reset_run
start_launcher "$CLIENT" zh_CN.UTF-8
check "[changed] the run ends" wait_until 180 run_done
check "[changed] the files are r4's" same_as_r4
check "[changed] the log says no delta applies to the local file" \
  grep -qa "no delta of big.pak applies to the local file" "$CLIENT/update.log"
check "[changed] the archive came as its compressed copy" grep -qa "applied zstd copy of .* to big.pak" "$CLIENT/update.log"
check "[changed] no delta was asked for" test "$(request_count '\.delta ')" -eq 0
end_updaters

# ---- [far] --------------------------------------------------------------------
new_client far r0
reset_run
start_launcher "$CLIENT" zh_CN.UTF-8
check "[far] the run ends" wait_until 180 run_done || tail -15 "$CLIENT/update.log"
check "[far] the files are r4's" same_as_r4
check "[far] no delta was asked for" test "$(request_count '\.delta ')" -eq 0
check "[far] compressed copies came instead of the files" test "$(request_count '\.zst ')" -eq 2
end_updaters

# ---- [damaged] ------------------------------------------------------------------
# nginx moves to 8089; the relay takes the updater's 8088 and damages the
# first answer for a delta 1000 bytes before its end (the last segment).
DELTA_BYTES=$(grep -ao "form of big.pak: delta of [0-9]* bytes" "$SHOTS/forms-behind-update.log" | head -1 | grep -o "[0-9]* bytes" | cut -d" " -f1)
stop_nginx
start_nginx "$SERVER" 8089 || { echo "nginx did not start"; exit 1; }
python3 "$ROOT/tests/e2e/cut_relay.py" 8088 8089 .delta $(( DELTA_BYTES - 1000 )) --damage >"$WORK/damage-relay.log" 2>&1 &
RELAY=$!
new_client damaged r2
reset_run
start_launcher "$CLIENT" zh_CN.UTF-8
check "[damaged] the run ends" wait_until 180 run_done
check "[damaged] the relay damaged the delta" grep -q "damaged body byte" "$WORK/damage-relay.log"
check "[damaged] the log names one segment making other bytes" \
  grep -qa "form of big.pak: 1 of its segments make other bytes" "$CLIENT/update.log"
check "[damaged] and the form mended" grep -qa "form of big.pak mended" "$CLIENT/update.log"
SPAN_BYTES=$(awk '$1 ~ /\.delta$/ && $2 == 206 && $3 ~ /bytes=[0-9]+-[0-9]+/ { s += $4 } END { print s + 0 }' "$NGINX_DIR/access.log")
echo "   [damaged] the delta's $DELTA_BYTES bytes came whole once, then $SPAN_BYTES bytes of its last segment"
check "[damaged] only a span of it was asked for again, less than half of it" \
  test "$SPAN_BYTES" -gt 0 -a "$SPAN_BYTES" -lt $(( DELTA_BYTES / 2 ))
check "[damaged] the whole delta was asked for once" test "$(request_count '\.delta 200 ')" -eq 1
check "[damaged] the files are r4's" same_as_r4
end_updaters
kill "$RELAY" 2>/dev/null; wait "$RELAY" 2>/dev/null
stop_nginx
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

# ---- [disk] ---------------------------------------------------------------------
new_client disk r2
NEED_KIB=$(( $(du -sk "$CLIENT" | cut -f1) + 16 * 1024 ))  # the client, the delta and 16 MiB more
if ! small_disk "$NEED_KIB"; then
  echo "SKIP [disk]: mounting a tmpfs is refused here (needs root)"
else
  cp -a "$CLIENT/." "$DISK/"
  CLIENT="$DISK"
  reset_run
  start_launcher "$CLIENT" zh_CN.UTF-8
  check "[disk] the run fails: the disk filled while the delta was applied" \
    wait_until 120 grep -qas "run failed at big.pak (1/2): disk full while its form was applied" "$CLIENT/update.log"
  check "[disk] the old archive stays" cmp -s "$CLIENT/big.pak" "$WORK/r2/big.pak"
  check "[disk] the delta stays for the next run" test -s "$CLIENT/big.pak.tmp.tmp"
  check "[disk] no output is left" test ! -e "$CLIENT/big.pak.tmp"
  end_updaters
fi

finish
