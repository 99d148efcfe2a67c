#!/usr/bin/env bash
# A patch file held open by another program (the game started while the
# updater downloads) under Wine against a real nginx: the lock is taken only
# after the download of that file has begun, so the run fails at the install
# with the complete partial file kept; once the program lets go, the next run
# installs the partial file on the server's 416 without downloading it again.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

HOLDER="$WIN_BUILD/tests/game/file_holder.exe"
[ -f "$HOLDER" ] || { echo "missing $HOLDER"; exit 1; }
cycle_setup held
# The held file comes slowly, so that the lock lands in the middle of it.
start_nginx "$SERVER" 8088 'location /patch/528/data/ { limit_rate 1m; }' || { echo "nginx did not start"; exit 1; }

holders() { ps -eo args | grep -c '[f]ile_holder' || true; }
no_holder() { [ "$(holders)" -eq 0 ]; }
win_path() { winepath -w "$1" 2>/dev/null; }

CLIENT="$WORK/held 客户 端"
RELEASE="$WORK/held release"
mkdir -p "$CLIENT/data"
pack_updater "$CLIENT/$LAUNCHER"
echo "v1" >"$CLIENT/readme.txt"
echo "old pack" >"$CLIENT/data/游戏 资源.pak"
cp -r "$CLIENT" "$RELEASE"
random_file "$RELEASE/data/游戏 资源.pak" 8192
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"
target="$CLIENT/data/游戏 资源.pak"
partial="$target.tmp"
full=$(stat -c %s "$RELEASE/data/游戏 资源.pak")
marker="$WORK/held.marker"
release_flag="$WORK/held.release"

# 1. The lock starts once the download is under way.
start_launcher "$CLIENT"
partial_started() { [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -gt 0 ]; }
check "[held] the download of the file has begun" wait_until 60 partial_started
(timeout 240 wine "$HOLDER" "$(win_path "$target")" "$(win_path "$marker")" "$(win_path "$release_flag")" \
  >/dev/null 2>&1 &)
check "[held] the other program holds the file" wait_until 30 test -f "$marker"
check "[held] it took the lock before the file was complete" \
  test "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -lt "$full"
partial_complete() { [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -eq "$full" ]; }
check "[held] the file arrives whole in its partial file" wait_until 60 partial_complete
sleep 4
shot held-install-failed
check "[held] the complete partial file stays" cmp -s "$partial" "$RELEASE/data/游戏 资源.pak"
check "[held] the held file was not replaced" not cmp -s "$target" "$RELEASE/data/游戏 资源.pak"
check "[held] the run stopped: no restart, one list fetch" \
  test "$(request_count '^/patch/528/filelist.txt')" -eq 1
check "[held] the updater stays with its window" test "$(updater_processes)" -eq 1 -a -n "$(window_id)"

# 2. The program lets go; the next run installs without downloading again.
touch "$release_flag"
check "[held] the other program ends" wait_until 30 no_holder
end_wine; wait_until 10 no_updater
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
arrived() { cmp -s "$RELEASE/data/游戏 资源.pak" "$target"; }
check "[next run] the file is installed" wait_until 90 arrived
check "[next run] the partial file is gone" test ! -e "$partial"
check "[next run] the server answered the resume with 416" \
  test -n "$(requests_of "^/patch/528/data/.* 416 \"bytes=$full-\"")"
check "[next run] no byte of the file was downloaded again" \
  test -z "$(requests_of '^/patch/528/data/.* 20[06] ')"
list_twice() { [ "$(request_count '^/patch/528/filelist.txt 200')" -ge 2 ]; }
check "[next run] the launcher restarted and the new updater checked again" wait_until 60 list_twice
check "[next run] the new updater is up to date" wait_until 30 has_window
sleep 2
shot held-next-run-up-to-date
check "[next run] it fetched nothing more" test "$(request_count '^/patch/528/data/')" -eq 1

stop_nginx
rm -rf "$WORK"
finish
