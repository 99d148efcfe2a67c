#!/usr/bin/env bash
# The list fetch of the real updater under Wine against real servers: an
# error status with a plain-text or HTML body, a list cut short part-way and
# a server that accepts and never answers are failures ("远程版本信息获取失败"
# and the enter-game button stays disabled), never an up-to-date client; and
# the request goes out as a plain GET of the list URL. A head that trickles
# ends within a minute, and the window answers its close button meanwhile.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup listfetch

CLIENT="$WORK/list 客户 端"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
echo "v1" >"$CLIENT/readme.txt"
# What an up-to-date list of this client reads: the list a cut-off answer
# carries in full before it breaks off.
RELEASE="$WORK/list release"
cp -r "$CLIENT" "$RELEASE"
publish "$RELEASE" "$SERVER"
cp "$SERVER/patch/528/filelist.txt" "$WORK/uptodate.txt"

# expect_failure LABEL [SETTLE]: the window shows, the list is not taken for
# an up-to-date client: the enter-game click (after SETTLE seconds, once the
# fetch has ended) starts nothing, the updater stays.
expect_failure() {
  local label="$1" settle="${2:-3}"
  check "[$label] the window opens" wait_until 60 has_window
  sleep "$settle"
  shot "list-fetch-$label"
  click_enter_game
  sleep 3
  check "[$label] enter game stays disabled: no game started" test ! -e "$CLIENT/game_started.txt"
  check "[$label] the updater stays" test "$(updater_processes)" -eq 1
  end_updaters
  rm -f "$CLIENT/game_started.txt" "$CLIENT/game.dat"
}

# 1. nginx: a 503 whose body is plain text, and a 404 with nginx's HTML page.
start_nginx "$SERVER" 8088 'location = /patch/528/filelist.txt { return 503 "Service Unavailable"; }' \
  || { echo "nginx did not start"; exit 1; }
start_launcher "$CLIENT"
list_503() { [ -n "$(requests_of '^/patch/528/filelist.txt 503')" ]; }
check "[503] the list was asked for" wait_until 60 list_503
expect_failure 503
stop_nginx
rm "$SERVER/patch/528/filelist.txt"
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
start_launcher "$CLIENT"
expect_failure 404
check "[404] nginx answered 404 with its page" test -n "$(requests_of '^/patch/528/filelist.txt 404')"
stop_nginx

# 2. A list cut short part-way, and the request bytes.
requests="$WORK/requests.bin"
: >"$requests"
python3 "$ROOT/tests/e2e/list_server.py" 8088 cut "$requests" "$WORK/uptodate.txt" &
STAGE_PIDS+=($!)
sleep 1
start_launcher "$CLIENT"
expect_failure cut
# The request, byte for byte: the system's HTTP client with the fetch's
# flags and headers (runtime/win32/fetch_win32.cpp).
first_request() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.stdout.buffer.write(d[:d.index(b"\r\n\r\n") + 4])' "$1"; }
echo "the list request:"; first_request "$requests" | cat -A | sed 's/^/    /'
printf '%s\r\n' "GET /patch/528/filelist.txt HTTP/1.0" "Host: 127.0.0.1:8088" \
  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" "Pragma: no-cache" "Accept: */*" "" \
  >"$WORK/expected-request.bin"
check "[request] exactly the list request's bytes" cmp -s <(first_request "$requests") "$WORK/expected-request.bin"
kill "${STAGE_PIDS[-1]}" 2>/dev/null; wait "${STAGE_PIDS[-1]}" 2>/dev/null
sleep 1

# 3. A server that accepts and never answers: the bounded time-outs end the
# fetch and the window reports it.
python3 "$ROOT/tests/e2e/list_server.py" 8088 silent "$requests" &
STAGE_PIDS+=($!)
sleep 1
start_launcher "$CLIENT"
expect_failure silent 25
kill "${STAGE_PIDS[-1]}" 2>/dev/null; wait "${STAGE_PIDS[-1]}" 2>/dev/null

# 4. A head sent a byte every 2 s: each try gives up within a minute, and all
# the while the window answers (the fetch runs off its thread): the close
# button asks, and Yes ends the updater at once.
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
stalled() { grep -a -q "filelist.txt: Stalled" "$CLIENT/update.log" 2>/dev/null; }
: >"$CLIENT/update.log"
python3 "$ROOT/tests/e2e/list_server.py" 8088 trickle "$requests" "$WORK/uptodate.txt" &
STAGE_PIDS+=($!)
sleep 1
start_launcher "$CLIENT"
check "[trickle] the window opens while the head trickles" wait_until 60 has_window
opened=$(date +%s)
check "[trickle] the first try ends as stalled" wait_until 60 stalled
check "[trickle] ...within a minute" test $(( $(date +%s) - opened )) -lt 60
sleep 3  # the next try is trickling now
shot list-fetch-trickle
click_close_button
check "[trickle] close asks for confirmation during the fetch" wait_until 10 box_open "确认退出"
shot list-fetch-trickle-confirm
xdotool search --onlyvisible --name "确认退出" windowactivate --sync >/dev/null 2>&1
xdotool key Return
check "[trickle] Yes ends the updater at once" wait_until 5 no_updater
end_updaters
kill "${STAGE_PIDS[-1]}" 2>/dev/null; wait "${STAGE_PIDS[-1]}" 2>/dev/null

rm -rf "$WORK"
finish
