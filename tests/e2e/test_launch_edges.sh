#!/usr/bin/env bash
# Start-up and ending at their edges, with the real updater.exe under Wine and
# nginx on 127.0.0.1:8088:
#   [elsewhere]   the launcher started from another working folder (a shortcut
#                 whose "Start in" is elsewhere): patches, update.dat and
#                 game.dat all land in the client folder, nothing elsewhere;
#   [empty game]  a payload of 0 bytes: the click writes an empty game.dat,
#                 its start fails quietly, the window closes, nothing hangs;
#   [no restart]  the updater role with an empty launcher name: the run
#                 fetches its file and ends without restarting anything;
#   [huge log]    an update.log of 3 GiB (sparse): the launcher trims it from
#                 its end, the window appears and the log is small again.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup edges
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

window_gone() { ! has_window; }
list_requests() { request_count '^/patch/528/filelist.txt '; }

# new_client NAME GAME: a client folder with the launcher (GAME appended) and
# a release beside it that differs in one nested and one top-level file.
new_client() {
  CLIENT="$WORK/$1 客户 端"
  RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER/patch"; mkdir -p "$CLIENT/数据 目录"
  "$PATCHTOOL" pack "$UPDATER" "$2" -o "$CLIENT/$LAUNCHER" >/dev/null
  echo "v1" >"$CLIENT/readme.txt"
  echo "map 1" >"$CLIENT/数据 目录/地图.dat"
  cp -r "$CLIENT" "$RELEASE"
}

# ---- [elsewhere] ---------------------------------------------------------------
new_client elsewhere "$GAME"
echo "v2" >"$RELEASE/readme.txt"
echo "map 2" >"$RELEASE/数据 目录/地图.dat"
publish "$RELEASE" "$SERVER"; : >"$NGINX_DIR/access.log"
ELSEWHERE="$WORK/另一个 目录"
mkdir -p "$ELSEWHERE"
(cd "$ELSEWHERE" && LANG=zh_CN.UTF-8 LC_ALL= timeout 300 wine "$CLIENT/$LAUNCHER" >/dev/null 2>&1 &)
check "[elsewhere] both changed files arrive in the client folder" \
  wait_until 90 same_tree_files "$RELEASE" "$CLIENT" readme.txt "数据 目录/地图.dat"
check "[elsewhere] update.dat is written beside the launcher" cmp -s "$CLIENT/update.dat" "$CLIENT/$LAUNCHER"
list_fetched_twice() { [ "$(list_requests)" -ge 2 ]; }
check "[elsewhere] the launcher restarted and the next updater checked again" wait_until 60 list_fetched_twice
check "[elsewhere] its window is open" wait_until 30 has_window
sleep 2
click_enter_game
check "[elsewhere] the game starts from the client folder" wait_until 30 test -f "$CLIENT/game_started.txt"
check "[elsewhere] game.dat is written there" cmp -s "$CLIENT/game.dat" "$GAME"
check "[elsewhere] the updater window closes" wait_until 20 window_gone
check "[elsewhere] nothing at all was written in the starting folder" \
  test -z "$(find "$ELSEWHERE" -mindepth 1 -print -quit)"
reset_run

# ---- [empty game] --------------------------------------------------------------
EMPTY_GAME="$WORK/empty game.exe"
: >"$EMPTY_GAME"
new_client empty "$EMPTY_GAME"
publish "$RELEASE" "$SERVER"; : >"$NGINX_DIR/access.log"
echo "an older game" >"$CLIENT/game.dat"
start_launcher "$CLIENT" zh_CN.UTF-8
check "[empty game] the client is up to date: window open" wait_until 60 has_window
sleep 3
shot edges-empty-game-before
click_enter_game
check "[empty game] the updater window closes" wait_until 20 window_gone
check "[empty game] the updater ends" wait_until 20 no_updater
check "[empty game] game.dat is rewritten empty" test -f "$CLIENT/game.dat" -a ! -s "$CLIENT/game.dat"
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
check "[empty game] no error box" not box_open "发生错误"
shot edges-empty-game-after
reset_run

# ---- [no restart] --------------------------------------------------------------
new_client norestart "$GAME"
echo "v2" >"$RELEASE/readme.txt"
publish "$RELEASE" "$SERVER"; : >"$NGINX_DIR/access.log"
cp "$CLIENT/$LAUNCHER" "$CLIENT/update.dat"
# The updater role with the launcher's name given as an empty argument.
(cd "$CLIENT" && LANG=zh_CN.UTF-8 LC_ALL= timeout 300 wine update.dat gxin "" >/dev/null 2>&1 &)
check "[no restart] the changed file arrives" wait_until 90 cmp -s "$RELEASE/readme.txt" "$CLIENT/readme.txt"
check "[no restart] the updater ends after its run" wait_until 30 no_updater
check "[no restart] its window is gone" wait_until 10 window_gone
sleep 3
check "[no restart] nothing restarted: the list was fetched once" test "$(list_requests)" -eq 1
check "[no restart] no updater came back" no_updater
reset_run

# ---- [huge log] ----------------------------------------------------------------
new_client hugelog "$GAME"
publish "$RELEASE" "$SERVER"; : >"$NGINX_DIR/access.log"
truncate -s 3G "$CLIENT/update.log"
printf 'the last line before\r\n' >>"$CLIENT/update.log"
start_launcher "$CLIENT" zh_CN.UTF-8
check "[huge log] the window appears" wait_until 60 has_window
checked() { grep -a -q "list checked: 0 files to update" "$CLIENT/update.log"; }
check "[huge log] the client is checked: up to date" wait_until 60 checked
check "[huge log] ...with one list request" test "$(list_requests)" -eq 1
log_size() { stat -c %s "$CLIENT/update.log"; }
check "[huge log] the log is small again" test "$(log_size)" -le $(( 256 * 1024 ))
check "[huge log] ...after the last line before it" \
  test "$(grep -a -n -m1 . "$CLIENT/update.log" | cut -d: -f2-)" = $'the last line before\r'
shot edges-huge-log
reset_run

stop_nginx
rm -rf "$WORK"
finish
