#!/usr/bin/env bash
# An up-to-date client and a second mirror that keeps it waiting, with the
# real updater.exe under Wine (the signed test build names 127.0.0.1:8088,
# then :8089): nginx on 8088 serves the list at the sequence the client has;
# on 8089 no server at all, then one that accepts and never answers, then one
# that sends its list a few bytes at a time. Once the list at the kept
# sequence is in hand the second mirror is asked at once for a newer one and
# given a few seconds: the enter-game button is lit within 15 s of the start
# each time (or, on a machine so loaded that the start alone takes longer,
# within 5 s of the start with no second mirror at all), and a click on it
# starts the game. Prints the seconds.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
build_signed_updater || { echo "the signed updater did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup mirrorwait
forget_list_sequence
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
LIMIT_S=15
# What a silent or dripping mirror may add to a start without it: the 3 s the
# others are given, and some slack for a loaded machine.
EXTRA_S=5
BASELINE_S=

# An up-to-date client: the published release itself, at sequence 5.
CLIENT="$WORK/wait 客户 端"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER" "$SIGNED_UPDATER"
echo "v5" >"$CLIENT/readme.txt"
random_file "$CLIENT/数据/大.pak" 300
publish_signed "$CLIENT" "$SERVER" --sequence 5
printf '5\r\n528\r\n' >"$CLIENT/update.seq"
# What the second mirror drips: 64 KiB, 256 s at its pace.
head -c 65536 /dev/zero | tr '\0' 'x' >"$WORK/drip.txt"
requests="$WORK/requests.bin"

lit() { grep -aq 'list checked: 0 files to update' "$CLIENT/update.log" 2>/dev/null; }

# until_lit LABEL: from the launcher's start to the enter-game button lit
# (the up-to-date line of update.log, written as the button is enabled), then
# a click on it starts the game.
until_lit() {
  local label="$1" started now
  rm -f "$CLIENT/update.log" "$CLIENT/game_started.txt"
  started=$(date +%s.%N)
  start_launcher "$CLIENT"
  wait_until 60 lit
  now=$(date +%s.%N)
  local seconds; seconds=$(python3 -c "print('%.1f' % ($now - $started))")
  echo "[$label] enter-game lit after $seconds s"
  sed 's/^/    /' "$CLIENT/update.log"
  if [ -z "$BASELINE_S" ]; then
    BASELINE_S=$seconds
  else
    local limit; limit=$(python3 -c "print(max($LIMIT_S, $BASELINE_S + $EXTRA_S))")
    check "[$label] the enter-game button is lit within $limit s ($seconds s; $BASELINE_S s without a second mirror)" \
      python3 -c "import sys; sys.exit(0 if $seconds < $limit else 1)"
  fi
  sleep 1
  shot "mirror-wait-$label"
  click_enter_game
  check "[$label] the enter-game click starts the game" wait_until 30 test -f "$CLIENT/game_started.txt"
  end_updaters
}

# 1. Nothing on 8089: refused at once (the baseline).
until_lit no-second-mirror

# 2. 8089 accepts and never answers.
: >"$requests"
python3 "$ROOT/tests/e2e/list_server.py" 8089 silent "$requests" &
STAGE_PIDS+=($!)
sleep 1
until_lit silent
check "[silent] the second mirror was asked" grep -aq '^GET /patch/528/filelist.txt' "$requests"
check "[silent] update.log names it left behind" \
  grep -aq 'list http://127.0.0.1:8089/patch/528/filelist.txt: no answer in' "$CLIENT/update.log"
kill "${STAGE_PIDS[-1]}" 2>/dev/null; wait "${STAGE_PIDS[-1]}" 2>/dev/null

# 3. 8089 drips its list.
: >"$requests"
python3 "$ROOT/tests/e2e/list_server.py" 8089 drip "$requests" "$WORK/drip.txt" &
STAGE_PIDS+=($!)
sleep 1
until_lit dripping
check "[dripping] the second mirror was asked" grep -aq '^GET /patch/528/filelist.txt' "$requests"
kill "${STAGE_PIDS[-1]}" 2>/dev/null; wait "${STAGE_PIDS[-1]}" 2>/dev/null

check "[all] the client still keeps 5" test "$(tr -d '\r\n' <"$CLIENT/update.seq")" = 5528
stop_nginx
rm -rf "$WORK"
finish
