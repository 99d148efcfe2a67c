#!/usr/bin/env bash
# The updater under Wine against a real nginx when things go wrong: exit in
# the middle of a download and resume, a missing file, a file that does not
# match its list, unusable lists, and an updater without a game payload.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup failures
# The large file comes slowly, so that the exit can land in the middle of it.
start_nginx "$SERVER" 8088 'location /patch/528/big/ { limit_rate 3m; }' || { echo "nginx did not start"; exit 1; }

list_requests() { request_count '^/patch/528/filelist.txt '; }
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# new_client NAME [PACKED=yes]: a client folder with the launcher and a file.
new_client() {
  CLIENT="$WORK/$1 客户 端"
  rm -rf "$CLIENT" "$SERVER/patch"; mkdir -p "$CLIENT"
  if [ "${2:-yes}" = yes ]; then pack_updater "$CLIENT/$LAUNCHER"; else cp "$UPDATER" "$CLIENT/$LAUNCHER"; fi
  echo "v1" >"$CLIENT/readme.txt"
  RELEASE="$WORK/$1 release"
  rm -rf "$RELEASE"; cp -r "$CLIENT" "$RELEASE"
}


# 1. Exit confirmed in the middle of a large file; the next run resumes it.
new_client resume
random_file "$RELEASE/big/大 文件.pak" 24576
publish "$RELEASE" "$SERVER"; : >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
partial="$CLIENT/big/大 文件.pak.tmp"
partial_grew() { [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -gt 2000000 ]; }
check "[resume] the large file is on its way" wait_until 60 partial_grew
shot failures-downloading
click_close_button
check "[resume] close asks for confirmation" wait_until 10 box_open "确认退出"
# Activate first, then press the key as a user would: a key sent to a window
# directly can stay held down in Wine and close the next message box.
xdotool search --onlyvisible --name "确认退出" windowactivate --sync >/dev/null 2>&1
xdotool key Return
check "[resume] Yes ends the updater promptly" wait_until 10 no_updater
check "[resume] the partial file stays" test -s "$partial"
kept=$(stat -c %s "$partial" 2>/dev/null || echo 0)
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
big_arrived() { cmp -s "$RELEASE/big/大 文件.pak" "$CLIENT/big/大 文件.pak"; }
check "[resume] the next run completes the file byte for byte" wait_until 90 big_arrived
check "[resume] it asked for the rest with a Range request answered 206" \
  test -n "$(requests_of "big/.* 206 \"bytes=$kept-\"")"
reset_run

# 2. A 404 for the second of three files stops the run: no restart loop. The
#    three start together; what the other two brought is whole or not there.
new_client missing
for n in 1 2 3; do echo "file $n v2" >"$RELEASE/f$n.dat"; done
publish "$RELEASE" "$SERVER"; rm "$SERVER/patch/528/f2.dat"; : >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
run_failed() { grep -a -q "run failed at f2.dat" "$CLIENT/update.log" 2>/dev/null; }
check "[404] the run fails at the second file" wait_until 60 run_failed
sleep 4
shot failures-404
check "[404] the second is absent" test ! -e "$CLIENT/f2.dat" -a ! -e "$CLIENT/f2.dat.tmp"
whole_or_absent() { [ ! -e "$CLIENT/$1" ] || cmp -s "$RELEASE/$1" "$CLIENT/$1"; }
check "[404] the others are whole or not there" whole_or_absent f1.dat
check "[404] ...both" whole_or_absent f3.dat
check "[404] the list was fetched once: no restart" test "$(list_requests)" -eq 1
check "[404] one updater stays, window open" test "$(updater_processes)" -eq 1 -a -n "$(window_id)"
reset_run

# 3. A file whose content does not match its list entry: fetched once, no loop.
new_client mismatch
echo "v2" >"$RELEASE/readme.txt"
publish "$RELEASE" "$SERVER"; echo "not what the list says" >"$SERVER/patch/528/readme.txt"
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
readme_fetched() { [ "$(request_count '^/patch/528/readme.txt 200')" -ge 1 ]; }
check "[mismatch] the file is fetched" wait_until 60 readme_fetched
sleep 6
shot failures-mismatch
check "[mismatch] fetched once, list fetched once: no restart loop" \
  test "$(request_count '^/patch/528/readme.txt')" -eq 1 -a "$(list_requests)" -eq 1
check "[mismatch] the updater stays with its window" test "$(updater_processes)" -eq 1 -a -n "$(window_id)"
reset_run

# 4. Unusable lists: nothing is fetched and nothing is written.
new_client lists
publish "$RELEASE" "$SERVER"
n=0
for list in "" "<html><body>Bad Gateway</body></html>" $'..\\evil.txt#1\r\n' $'C:\\evil.txt#1\r\n' \
            $'\\\\server\\share\\evil.txt#1\r\n'; do
  n=$((n + 1))
  printf '%s' "$list" >"$SERVER/patch/528/filelist.txt"
  : >"$NGINX_DIR/access.log"
  start_launcher "$CLIENT"
  list_fetched() { [ "$(list_requests)" -ge 1 ]; }
  check "[list $n] the list is fetched" wait_until 60 list_fetched
  wait_until 30 has_window; sleep 3
  shot "failures-list-$n"
  check "[list $n] nothing but the list is requested" test "$(request_count '^/patch/528/')" -eq 1
  check "[list $n] no file is written outside the client folder" test ! -e "$WORK/evil.txt" -a ! -e "/evil.txt"
  check "[list $n] the updater stays" test "$(updater_processes)" -eq 1
  reset_run
done

# 5. An updater without a payload: the error box, and no game.dat.
new_client nopayload no
publish "$RELEASE" "$SERVER"
echo "old game" >"$CLIENT/game.dat"
start_launcher "$CLIENT"
check "[no payload] the updater is up to date" wait_until 60 has_window
sleep 3
click_enter_game
check "[no payload] the error box appears" wait_until 15 box_open "发生错误"
shot failures-no-payload
check "[no payload] game.dat is removed and not rewritten" test ! -e "$CLIENT/game.dat"
check "[no payload] no game started" test ! -e "$CLIENT/game_started.txt"
reset_run

stop_nginx
rm -rf "$WORK"
finish
