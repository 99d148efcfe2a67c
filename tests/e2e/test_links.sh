#!/usr/bin/env bash
# Links, with the real updater under Wine (a Unix link to a folder is a
# reparse point to Windows programs there):
#   [same folder] a client folder started through a link, then by its own
#                 path, runs one updater: the second start finds the first by
#                 the folder's identity, brings its window back and ends;
#   [outside]     a folder of the client that is a link to a folder outside
#                 it refuses the run before anything is written: the log
#                 names the path and the link, and neither the client nor the
#                 folder outside changes (its read-only file included).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup links
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

windows() { xdotool search --onlyvisible --name "版本更新" 2>/dev/null | wc -l; }
list_requests() { request_count '^/patch/528/filelist.txt '; }
# Every file's checksum and every link's target below a folder, but the log.
tree_state() {
  (cd "$1" && find . -type f ! -name update.log -print0 | sort -z | xargs -0 -r sha256sum
   find . -type l -printf '%p -> %l\n' | sort
   find . ! -name update.dat ! -name update.log -printf '%p %m\n' | sort)
}

# ---- [same folder] ------------------------------------------------------------
CLIENT="$WORK/client 客户 端"; LINK="$WORK/link 链接"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
echo "v1" >"$CLIENT/readme.txt"
ln -s "$CLIENT" "$LINK"
RELEASE="$WORK/release"; mkdir -p "$RELEASE"; cp "$CLIENT/readme.txt" "$RELEASE/"
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"

start_launcher "$LINK"
check "[same folder] the updater started through the link is up" wait_until 60 has_window
sleep 2
pos="$(window_geometry)"; set -- $pos
xdotool mousemove $(( $1 + 418 )) $(( $2 + 15 )) click 1
gone() { [ "$(windows)" -eq 0 ]; }
check "[same folder] the minimise button hides its window" wait_until 10 gone
start_launcher "$CLIENT"
front() { grep -a -q "its window was brought to the front" "$CLIENT/update.log"; }
check "[same folder] the start by the folder's own path finds it" wait_until 30 front
check "[same folder] ...and brings its window back" wait_until 10 has_window
one_updater() { [ "$(updater_processes)" -eq 1 ]; }
check "[same folder] one updater" wait_until 20 one_updater
check "[same folder] one window" test "$(windows)" -eq 1
check "[same folder] one list request" test "$(list_requests)" -eq 1
shot links-same-folder
reset_run

# ---- [outside] ----------------------------------------------------------------
CLIENT="$WORK/links client"; OUTSIDE="$WORK/outside 外部"; RELEASE="$WORK/links release"
rm -rf "$SERVER/patch"; mkdir -p "$CLIENT" "$OUTSIDE" "$RELEASE/数据"
pack_updater "$CLIENT/$LAUNCHER"
cp "$CLIENT/$LAUNCHER" "$CLIENT/update.dat"
echo "a v1" >"$CLIENT/a.txt"
echo "map outside" >"$OUTSIDE/地图.dat"
chmod a-w "$OUTSIDE/地图.dat"  # read-only to Windows programs
ln -s "$OUTSIDE" "$CLIENT/数据"
cp "$CLIENT/$LAUNCHER" "$RELEASE/"
echo "a v2" >"$RELEASE/a.txt"; echo "map v2" >"$RELEASE/数据/地图.dat"
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"
client_before="$(tree_state "$CLIENT")"; outside_before="$(tree_state "$OUTSIDE")"

start_launcher "$CLIENT"
refused_line="$(printf '%s' 'write check: 数据\地图.dat goes through the link 数据, refused' | iconv -f UTF-8 -t GBK)"
refused() { grep -a -q -F "$refused_line" "$CLIENT/update.log" 2>/dev/null; }
check "[outside] the write check refuses, naming the path and the link" wait_until 60 refused
sleep 2
shot links-outside
check "[outside] the window stays with its text" test -n "$(window_id)" -a "$(updater_processes)" -eq 1
check "[outside] no patch file was requested" test "$(request_count '^/patch/528/(a|%E6)')" -eq 0
check "[outside] the client is as it was" test "$(tree_state "$CLIENT")" = "$client_before"
check "[outside] the folder outside is as it was, read-only file included" \
  test "$(tree_state "$OUTSIDE")" = "$outside_before"
reset_run

stop_nginx
chmod -R u+w "$WORK"
rm -rf "$WORK"
finish
