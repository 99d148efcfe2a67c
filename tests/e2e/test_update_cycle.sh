#!/usr/bin/env bash
# The road of one update with the real updater.exe under Wine and a real nginx
# on 127.0.0.1:8088: two changed files (GBK names with blanks, nested folders)
# are fetched, the launcher restarts, the second updater is up to date, and
# the enter-game click writes game.dat from the payload and starts it. Runs
# under a Chinese (code page 936) and an English (1252) Wine locale, from a
# client folder whose path holds blanks.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup cycle
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

CHANGED=("数据 目录/地图 文件.dat" "data/sub dir/配置 文件.ini")
UNCHANGED=("readme.txt" "data/sub dir/keep.bin")

run_cycle() {  # run_cycle LANG LABEL
  local lang="$1" label="$2"
  local client="$WORK/$label client 游戏 目录" release="$WORK/$label release"
  rm -rf "$client" "$release" "$SERVER/patch"
  mkdir -p "$client"
  pack_updater "$client/$LAUNCHER"
  echo "version 1" >"$client/readme.txt"
  random_file "$client/数据 目录/地图 文件.dat" 300
  mkdir -p "$client/data/sub dir"; echo "a=1" >"$client/data/sub dir/配置 文件.ini"
  random_file "$client/data/sub dir/keep.bin" 64
  cp -r "$client" "$release"
  random_file "$release/数据 目录/地图 文件.dat" 2048
  echo "a=2" >"$release/data/sub dir/配置 文件.ini"
  publish "$release" "$SERVER"
  : >"$NGINX_DIR/access.log"

  start_launcher "$client" "$lang"
  check "[$label] both changed files arrive byte for byte" \
    wait_until 90 same_tree_files "$release" "$client" "${CHANGED[@]}"
  [ -n "${E2E_DEBUG:-}" ] && { echo "--- access log"; cat "$NGINX_DIR/access.log"; cat "$NGINX_DIR/logs/error.log"; ls -la "$SERVER/patch/528"; }
  check "[$label] unchanged files are left alone" same_tree_files "$release" "$client" "${UNCHANGED[@]}"
  check "[$label] exactly the two changed files were requested" \
    test "$(request_count '^/patch/528/(%E6|data/sub)')" -eq 2
  check "[$label] GBK names went out as escaped UTF-8" \
    test -n "$(requests_of '^/patch/528/%E6%95%B0%E6%8D%AE%20%E7%9B%AE%E5%BD%95/%E5%9C%B0%E5%9B%BE%20%E6%96%87%E4%BB%B6\.dat 200')"
  # The run restarts the launcher, whose new updater checks again.
  list_fetched_twice() { [ "$(request_count '^/patch/528/filelist.txt 200')" -ge 2 ]; }
  check "[$label] the launcher restarted and a second updater checked the list" wait_until 60 list_fetched_twice
  check "[$label] the second updater's window is open" wait_until 30 has_window
  sleep 2
  shot "cycle-$label-up-to-date"
  check "[$label] the up-to-date updater fetched nothing more" \
    test "$(request_count '^/patch/528/(%E6|data/sub)')" -eq 2

  click_enter_game
  check "[$label] the enter-game click starts the game" wait_until 30 test -f "$client/game_started.txt"
  check "[$label] game.dat is byte-identical to the payload" cmp -s "$client/game.dat" "$GAME"
  window_gone() { ! has_window; }
  check "[$label] the updater window closes" wait_until 20 window_gone
  shot "cycle-$label-game-started"
  check "[$label] update.log holds the events of the cycle in order" \
    log_has_in_order "$client/update.log" \
      "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} start: launcher " "start: updater, started by " \
      "list http://127\.0\.0\.1:8088/patch/528/filelist\.txt: Ok, HTTP 200, [0-9]+ bytes, [0-9.]+ s" \
      "list checked: 2 files to update" "download run: 2 files, 2 at once" \
      "file .*: result 0 \(Ok\), [0-9]+ bytes, [0-9.]+ s, [0-9.]+ KB/s, checksum ok" \
      "file .*: result 0 \(Ok\), [0-9]+ bytes, [0-9.]+ s, [0-9.]+ KB/s, checksum ok" \
      "download run done: 2 files in [0-9.]+ s; restart " "start: launcher " "start: updater" \
      "list checked: 0 files to update" \
      "game start: game\.dat started"
  [ -n "${E2E_DEBUG:-}" ] && iconv -f GBK -t UTF-8 "$client/update.log"
  cp "$client/update.log" "$SHOTS/cycle-$label-update.log"
  end_wine
}

run_cycle zh_CN.UTF-8 zh
run_cycle en_US.UTF-8 en

stop_nginx
rm -rf "$WORK"
finish
