#!/usr/bin/env bash
# A clear word when the client cannot be written, under Wine: a client folder
# that cannot be written (immutable here: the tests run as root, whom plain
# permission bits do not stop) and a patch file held open by another program.
# In both the old files stay untouched, nothing is requested, the text is
# shown, the log has the Windows error code, and there is no restart. A log
# file that cannot be written leaves the update working.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

HOLDER="$WIN_BUILD/tests/game/file_holder.exe"
[ -f "$HOLDER" ] || { echo "missing $HOLDER"; exit 1; }
cycle_setup writecheck
IMMUTABLE=()
# Immutable files and folders would outlive the test: made mutable again on
# every way out.
write_check_cleanup() {
  local f
  for f in "${IMMUTABLE[@]}"; do chattr -i "$f" 2>/dev/null; done
  stage_cleanup
  rm -rf "$WORK"
}
trap write_check_cleanup EXIT
immutable() { chattr +i "$1" && IMMUTABLE+=("$1"); }
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

patch_requests() { request_count '^/patch/528/(a|数|%E6)'; }
log_shows() { grep -a -q -- "$1" "$CLIENT/update.log" 2>/dev/null; }

# new_client NAME: a client whose two files are out of date; update.dat and
# update.log are there from an earlier start.
new_client() {
  CLIENT="$WORK/$1 客户 端"; RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER/patch"; mkdir -p "$CLIENT/数据"
  pack_updater "$CLIENT/$LAUNCHER"
  echo "a v1" >"$CLIENT/a.txt"; echo "map v1" >"$CLIENT/数据/地图.dat"
  cp -r "$CLIENT" "$RELEASE"
  echo "a v2" >"$RELEASE/a.txt"; echo "map v2" >"$RELEASE/数据/地图.dat"
  publish "$RELEASE" "$SERVER"
  cp "$CLIENT/$LAUNCHER" "$CLIENT/update.dat"; : >"$CLIENT/update.log"
  : >"$NGINX_DIR/access.log"
}
old_files_untouched() {
  [ "$(cat "$CLIENT/a.txt")" = "a v1" ] && [ "$(cat "$CLIENT/数据/地图.dat")" = "map v1" ]
}

# 1. The client folder cannot be written.
new_client readonly
immutable "$CLIENT"
start_launcher "$CLIENT"
refused() { log_shows "write check: the client folder cannot be written, error "; }
check "[folder] the write check refuses, with the Windows error code in the log" wait_until 60 refused
sleep 2
shot write-check-folder
check "[folder] the text is shown: the window stays" test -n "$(window_id)" -a "$(updater_processes)" -eq 1
check "[folder] the old files are untouched" old_files_untouched
check "[folder] no patch file was requested" test "$(patch_requests)" -eq 0
check "[folder] no restart: the list was fetched once" test "$(request_count '^/patch/528/filelist.txt')" -eq 1
check "[folder] no partial file" test -z "$(find "$CLIENT" -name '*.tmp')"
reset_run
chattr -i "$CLIENT"

# 2. A patch file held open by another program (the running game).
new_client held
(cd "$CLIENT" && timeout 150 wine "$HOLDER" "数据\\地图.dat" >/dev/null 2>&1 &)
check "[in use] the holder has the file" wait_until 30 test -e "$CLIENT/数据/地图.dat.held"
start_launcher "$CLIENT"
in_use() { log_shows "is in use, error 32"; }
check "[in use] the write check names the file, with the Windows error code in the log" wait_until 60 in_use
sleep 2
shot write-check-in-use
check "[in use] the log names the held file" grep -a -q -F "$(printf '%s' '数据\地图.dat is in use' | iconv -f UTF-8 -t GBK)" "$CLIENT/update.log"
check "[in use] the old files are untouched, the other one too" old_files_untouched
check "[in use] no patch file was requested" test "$(patch_requests)" -eq 0
check "[in use] the updater stays with its window" test -n "$(window_id)" -a "$(updater_processes)" -eq 1
touch "$CLIENT/数据/地图.dat.release"
reset_run
rm -f "$CLIENT/数据/地图.dat.held" "$CLIENT/数据/地图.dat.release"

# 3. A log that cannot be written: the update works all the same.
new_client nolog
echo "earlier run" >"$CLIENT/update.log"
immutable "$CLIENT/update.log"
start_launcher "$CLIENT"
updated() { cmp -s "$RELEASE/a.txt" "$CLIENT/a.txt" && cmp -s "$RELEASE/数据/地图.dat" "$CLIENT/数据/地图.dat"; }
check "[no log] both files arrive" wait_until 60 updated
restarted() { [ "$(request_count '^/patch/528/filelist.txt 200')" -ge 2 ]; }
check "[no log] the launcher restarted" wait_until 60 restarted
check "[no log] the log is as it was" test "$(cat "$CLIENT/update.log")" = "earlier run"
reset_run
chattr -i "$CLIENT/update.log"

finish
