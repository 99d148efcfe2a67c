#!/usr/bin/env bash
# The progress display during a real download: the real updater.exe under
# Wine fetches two files from a server (tests/e2e/stall_server.py) that stops
# 6000 bytes into the first, 16000-byte file. In that known state the
# screenshot must show the entry in the task label, "[1/2]:6000/16000", the
# speed of a transfer that received nothing for the last 3 s (0.00 KB/S: the
# label averages over 3 s, so a stalled server shows as stalled), and a bar
# filled 117 of 312 pixels: each label is compared with the same state drawn
# by the window harness, and the bar with the skin's own pictures. Then the server goes on
# and the run completes.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

PROBE="python3 $ROOT/tests/e2e/window_probe.py"
[ -f "$HARNESS" ] || { echo "missing $HARNESS"; exit 1; }
cycle_setup progress
OX=278 OY=289   # the window's top-left corner on the 1024x768 screen
# The held part and the head fit in one receive of the engine (8191 bytes),
# so doneBytes jumps from 0 to 6000 in one step, as in the harness.
TOTAL=16000 STALL_AT=6000 FILL=117   # 6000 * 312 / 16000, truncated
ENTRY='data\stall.bin'

at() { echo $((OX + $1)) $((OY + $2)); }
ppm_shot() { shot "$1"; /usr/bin/convert "$SHOTS/$1.png" "$WORK/$1.ppm"; }
window_gone() { ! has_window; }
for f in bar_fill bar_back; do /usr/bin/convert "$ROOT/ui/skin/$f.bmp" -depth 8 "$WORK/$f.ppm"; done

# ---- the same state drawn by the window harness (no network) --------------------
# More than the speed label's 3 s window after it opened: no byte in it.
check "harness window open" harness_shot progress-live-harness 4 "task=$ENTRY" "progress=$STALL_AT/$TOTAL"

# ---- the real run, held at 6000 bytes ------------------------------------------
CLIENT="$WORK/client 客户 端"
RELEASE="$WORK/release"
mkdir -p "$CLIENT/data"
pack_updater "$CLIENT/$LAUNCHER"
echo "old" >"$CLIENT/data/stall.bin"
echo "v1" >"$CLIENT/zz.txt"
cp -r "$CLIENT" "$RELEASE"
head -c "$TOTAL" /dev/urandom >"$RELEASE/data/stall.bin"
echo "v2" >"$RELEASE/zz.txt"
publish "$RELEASE" "$SERVER"
RELEASE_FLAG="$WORK/go-on"
python3 "$ROOT/tests/e2e/stall_server.py" "$SERVER" 8088 /patch/528/data/stall.bin "$STALL_AT" "$RELEASE_FLAG" \
  >"$WORK/server.log" 2>&1 &
STAGE_PIDS+=($!)
server_up() { python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8088), 1).close()' 2>/dev/null; }
wait_until 10 server_up || { echo "stall server did not start"; exit 1; }

start_launcher "$CLIENT" zh_CN.UTF-8
check "the first file stops part-way" wait_until 90 test -f "$RELEASE_FLAG.stalled"
check "the updater window is open" wait_until 30 has_window
check "the window is centred" test "$(window_geometry)" = "$OX $OY"
xdotool mousemove 900 700
sleep 4   # the speed label's 3 s window without a byte: the display is steady
ppm_shot progress-live
# Go on at once: the engine waits at most 15 s for the next bytes.
touch "$RELEASE_FLAG"

LIVE="$WORK/progress-live.ppm" REFERENCE="$WORK/progress-live-harness.ppm"
check "task label shows the entry" $PROBE same "$LIVE" "$REFERENCE" $(at 88 100) 248 18 8
check "task label has text" $PROBE count "$LIVE" $(at 88 100) 248 18 192 192 192 60 20
check "patch label shows [1/2]:$STALL_AT/$TOTAL" $PROBE same "$LIVE" "$REFERENCE" $(at 88 117) 248 18 8
check "patch label has text" $PROBE count "$LIVE" $(at 88 117) 248 18 192 192 192 60 20
check "speed label shows the stall" $PROBE same "$LIVE" "$REFERENCE" $(at 88 134) 248 18 8
check "speed label has text" $PROBE count "$LIVE" $(at 88 134) 248 18 192 192 192 60 20
check "bar filled to column $FILL" $PROBE match "$LIVE" $(at $((22 + FILL - 1)) 170) "$WORK/bar_fill.ppm" $((FILL - 1)) 7 6
check "bar empty from column $((FILL + 1))" $PROBE match "$LIVE" $(at $((22 + FILL)) 170) "$WORK/bar_back.ppm" "$FILL" 7 6
check "bar as the harness draws it" $PROBE same "$LIVE" "$REFERENCE" $(at 22 163) 312 15 8

check "the run completes both files byte for byte" \
  wait_until 90 same_tree_files "$RELEASE" "$CLIENT" data/stall.bin zz.txt
list_fetched_twice() { [ "$(grep -c '^/patch/528/filelist.txt 200' "$WORK/server.log")" -ge 2 ]; }
check "the launcher restarts and checks again" wait_until 60 list_fetched_twice
end_wine
rm -rf "$WORK"
finish
