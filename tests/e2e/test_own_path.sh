#!/usr/bin/env bash
# The updater's own folder and name under Wine: a launcher named 運行遊戲.exe
# in a folder 運行 客户端 (the second byte of 運 in GBK is the byte of "\")
# updates, restarts once and is then up to date, never restarting without
# end; a client folder whose name GBK cannot write (Björk été) updates too,
# or at the least says why it cannot, never ending silently.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup ownpath
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
list_count() { request_count '^/patch/528/filelist.txt 200'; }

# run_client LABEL FOLDER LAUNCHER_NAME
run_client() {
  local label="$1" client="$2"
  LAUNCHER="$3"
  local release="$WORK/$label release"
  rm -rf "$client" "$release" "$SERVER/patch"
  mkdir -p "$client/数据" "$release/数据"
  # Packed under a plain name: the tool's arguments are GBK.
  pack_updater "$WORK/packed.exe"
  cp "$WORK/packed.exe" "$client/$LAUNCHER"
  echo "v1" >"$client/数据/运行 配置.ini"
  echo "v2" >"$release/数据/运行 配置.ini"
  publish "$release" "$SERVER"
  : >"$NGINX_DIR/access.log"
  start_launcher "$client"
  arrived() { cmp -s "$release/数据/运行 配置.ini" "$client/数据/运行 配置.ini"; }
  check "[$label] the changed file arrives in the client folder" wait_until 90 arrived
  listed_twice() { [ "$(list_count)" -ge 2 ]; }
  check "[$label] the launcher restarted once and the new updater checked again" wait_until 60 listed_twice
  check "[$label] the new updater is up to date and stays" wait_until 30 has_window
  sleep 8
  shot "own-path-$label"
  check "[$label] no endless restart: the list was fetched twice" test "$(list_count)" -eq 2
  click_enter_game
  check "[$label] the enter-game click starts the game from the client folder" \
    wait_until 30 test -f "$client/game_started.txt"
  end_wine; wait_until 10 no_updater
}

run_client gbk-backslash "$WORK/運行 客户端" "運行遊戲.exe"
run_client not-gbk "$WORK/Björk été" "启动 器.exe"

stop_nginx
rm -rf "$WORK"
finish
