#!/usr/bin/env bash
# The player's controls under Wine, given as a player gives them: a right
# click on the window (xdotool) and the menu's keys.
#   - pause and resume in the middle of a 48 MiB file (nginx at 2 MiB/s,
#     ending a request that does not move for 5 s): screenshots paused and
#     running; while paused the partial file and the server's log stand
#     still (nginx ends the held request once); the resume reads what was
#     sent and asks for the rest with a Range, re-fetching at most 1 MiB; no
#     file failed;
#   - a cap chosen from the menu (4 MB/s) is named by the next run's log;
#   - a 16 KiB/s line (bench/relay.py) with six files: the run finishes, no
#     transfer cut for the floor rate, no try used. The files are 384 KiB
#     each (about 2.5 minutes, past the floor rate's first minute and its
#     window);
#     E2E_SLOW_FILE_KIB=1024 gives six files of 1 MiB (about 6.5 minutes).
# The cap is kept in the Wine prefix's registry: the test removes it again.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

STARTED=$(date +%s)
cycle_setup pause
forget_cap() { wine reg delete 'HKCU\Software\GameClientUpdater\Link' /f >/dev/null 2>&1; }
trap 'forget_cap; rm -rf "$WORK"; stage_cleanup' EXIT
forget_cap
MIB=$((1 << 20))

CLIENT="$WORK/pause 客户 端"; RELEASE="$WORK/pause release"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
cp -r "$CLIENT" "$RELEASE"
random_file "$RELEASE/big.pak" $((48 * 1024))
publish "$RELEASE" "$SERVER"
sed -i '/^#form#/d' "$SERVER/patch/528/filelist.txt"  # the whole file, not a packed form
start_nginx "$SERVER" 8088 "limit_rate 2m; send_timeout 5s;" || { echo "nginx did not start"; exit 1; }

log_shows() { grep -a -q -- "$1" "$CLIENT/update.log" 2>/dev/null; }
partial_size() { stat -c %s "$CLIENT/big.pak.tmp" 2>/dev/null || echo 0; }
partial_past() { [ "$(partial_size)" -ge "$1" ]; }
# menu KEYS...: a right click in the window's middle, then the menu's keys.
menu() {
  local pos; pos="$(window_geometry)" || return 1
  read -r wx wy <<<"$pos"
  xdotool mousemove $((wx + 230)) $((wy + 70)); sleep 0.3
  xdotool click 3; sleep 0.8
  xdotool key "$@"; sleep 0.5
  xdotool mousemove 900 700
}

# ---- pause and resume mid-file --------------------------------------------
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT" zh_CN.UTF-8
check "the download is under way" wait_until 60 partial_past $((6 * MIB))
menu Down Return
check "the menu paused the run" wait_until 10 log_shows "paused by the player"
sleep 8  # past nginx's send_timeout: it ends the held request
shot pause-paused
held=$(partial_size)
lines=$(wc -l <"$NGINX_DIR/access.log")
sleep 5
check "no byte while paused (partial file stands at $held)" test "$(partial_size)" -eq "$held"
check "no request while paused" test "$(wc -l <"$NGINX_DIR/access.log")" -eq "$lines"
first_sent=$(awk '$1 == "/patch/528/big.pak" && $3 == "\"-\"" {print $4}' "$NGINX_DIR/access.log" | head -1)
check "the held request ended with the pause" test -n "$first_sent"
# While paused: the cap, 4 MB/s (the fourth item: pause, no cap, 4 MB/s).
menu Down Down Down Return
check "the cap was set" wait_until 10 log_shows "speed cap set by the player: 4 MB/s"
menu Down Return
check "the menu resumed the run" wait_until 10 log_shows "resumed by the player"
sleep 2
shot pause-running
check "the run finishes" wait_until 120 log_shows "download run done"
check "the file arrived whole" cmp -s "$RELEASE/big.pak" "$CLIENT/big.pak"
resumed_at=$(awk '$1 == "/patch/528/big.pak" && $2 == 206 {gsub(/[^0-9]/, "", $3); print $3}' "$NGINX_DIR/access.log" | head -1)
check "the resume asked for the rest with a Range (from ${resumed_at:-none}, $held kept at the pause)" \
  test "${resumed_at:-0}" -ge "$held"
refetched=$(( ${first_sent:-0} - ${resumed_at:-0} ))
echo "   sent before the pause $first_sent, range from $resumed_at: $refetched bytes fetched again"
check "at most 1 MiB fetched again" test "$refetched" -le "$MIB"
check "no file failed, no try used, nothing from byte 0" bash -c "! grep -a -E -q 'run failed|retry ' \"\$0/update.log\"" "$CLIENT"
end_updaters

# ---- the cap in the next run -------------------------------------------------
random_file "$RELEASE/next.pak" 512
publish "$RELEASE" "$SERVER"
sed -i '/^#form#/d' "$SERVER/patch/528/filelist.txt"
start_launcher "$CLIENT" zh_CN.UTF-8
check "the next run names the kept cap" wait_until 60 log_shows "speed cap: 4 MB/s"
check "and finishes" wait_until 60 bash -c "[ \"\$(grep -a -c 'download run done' \"\$0/update.log\")\" -ge 2 ]" "$CLIENT"
end_updaters
forget_cap

# ---- six files on a 16 KiB/s line ---------------------------------------------
SLOW_KIB="${E2E_SLOW_FILE_KIB:-384}"
# One line of 16 KiB/s shared by every connection (bench/relay.py, in 4 KiB
# pieces): with six transfers each gets 2.7 KiB/s, below the 4 KiB/s floor.
stop_nginx
start_nginx "$SERVER" 8090 || { echo "nginx did not start"; exit 1; }
RELAY_CHUNK=4096 python3 "$ROOT/bench/relay.py" 8088 8090 10 0.131072 >/dev/null 2>&1 &
STAGE_PIDS+=($!)
relay_up() { python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8088), 1).close()' 2>/dev/null; }
wait_until 10 relay_up || { echo "relay did not start"; exit 1; }
for n in 1 2 3 4 5 6; do random_file "$RELEASE/slow/s$n.bin" "$SLOW_KIB"; done
publish "$RELEASE" "$SERVER"
sed -i '/^#form#/d' "$SERVER/patch/528/filelist.txt"
slow_started=$(date +%s)
start_launcher_for 900 "$CLIENT"
runs_done() { [ "$(grep -a -c 'download run done' "$CLIENT/update.log")" -ge 3 ]; }
check "the run on the slow line finishes" wait_until 800 runs_done
echo "   six files of $SLOW_KIB KiB at 16 KiB/s: $(( $(date +%s) - slow_started )) s"
slow_whole() { for n in 1 2 3 4 5 6; do cmp -s "$RELEASE/slow/s$n.bin" "$CLIENT/slow/s$n.bin" || return 1; done; }
check "every slow file arrived whole" slow_whole
check "no transfer was cut for the floor rate" bash -c "! grep -a -q 'below the floor' \"\$0/update.log\"" "$CLIENT"
# A connection whose bytes queue behind the others' on the line waits its
# turn: no time-out uses a try.
check "no try used on the slow line" bash -c "! grep -a -E -q 'run failed|retry ' \"\$0/update.log\"" "$CLIENT"
grep -a -E "cut|retry|stalled|floor" "$CLIENT/update.log" | tail -5 | sed 's/^/    /'
cp "$CLIENT/update.log" "$SHOTS/pause-cap-update.log"
end_updaters
stop_nginx
echo "   pause/cap test: $(( $(date +%s) - STARTED )) s, screenshots $SHOTS/pause-paused.png $SHOTS/pause-running.png"
finish
