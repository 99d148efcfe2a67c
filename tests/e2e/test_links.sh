#!/usr/bin/env bash
# Links, with the real updater under Wine (a Unix link to a folder is a
# reparse point to Windows programs there):
#   [same folder] a client folder started through a link, then by its own
#                 path, runs one updater: the second start finds the first by
#                 the folder's identity, brings its window back and ends;
#   [other drive] a folder of the client that is a link to a folder on
#                 another drive letter (the player moved the data there) is
#                 followed: the files below it are written where it leads,
#                 a read-only one there included, the link stays, and the log
#                 names the link and its target once.
# A link whose target is gone is refused by the updater, but Wine does not
# show a dangling Unix link as a reparse point (the path reads as missing), so
# that case is left to the unit tests (tests/app/write_check_test.cpp).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup links
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

windows() { xdotool search --onlyvisible --name "版本更新" 2>/dev/null | wc -l; }
list_requests() { request_count '^/patch/528/filelist.txt '; }
# Every file's checksum and every link's target below a folder, but the log.
tree_state() {  # the updater's own working files (the log, the checksum cache) left out
  (cd "$1" && find . -type f ! -name update.log ! -name update.sums -print0 | sort -z | xargs -0 -r sha256sum
   find . -type l -printf '%p -> %l\n' | sort
   find . ! -name update.dat ! -name update.log ! -name update.sums -printf '%p %m\n' | sort)
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

# ---- [other drive] ------------------------------------------------------------
# A drive letter of the prefix for a folder outside the client (removed at the
# end: the prefix is shared), and the client's data folder a link into it.
DRIVE_LETTER="q:"
DRIVE="$WORK/drive q"
trap 'rm -f "$WINEPREFIX/dosdevices/$DRIVE_LETTER"; stage_cleanup' EXIT
CLIENT="$WORK/links client"; RELEASE="$WORK/links release"
rm -rf "$SERVER/patch"; mkdir -p "$CLIENT" "$DRIVE/游戏 数据" "$RELEASE/数据"
ln -sfn "$DRIVE" "$WINEPREFIX/dosdevices/$DRIVE_LETTER"
pack_updater "$CLIENT/$LAUNCHER"
echo "a v1" >"$CLIENT/a.txt"
echo "map v1" >"$DRIVE/游戏 数据/地图.dat"
chmod a-w "$DRIVE/游戏 数据/地图.dat"  # read-only to Windows programs
ln -s "$DRIVE/游戏 数据" "$CLIENT/数据"
cp "$CLIENT/$LAUNCHER" "$RELEASE/"
echo "a v2" >"$RELEASE/a.txt"; echo "map v2" >"$RELEASE/数据/地图.dat"; echo "new" >"$RELEASE/数据/新 文件.dat"
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"

start_launcher "$CLIENT"
written() { same_tree_files "$RELEASE/数据" "$DRIVE/游戏 数据" 地图.dat "新 文件.dat" && same_tree_files "$RELEASE" "$CLIENT" a.txt; }
check "[other drive] the files below the link are written where it leads" wait_until 90 written
updated() { grep -a -q 'list checked: 0 files to update' "$CLIENT/update.log" 2>/dev/null; }
check "[other drive] the restarted updater finds the client up to date" wait_until 60 updated
sleep 2
shot links-other-drive
link_lines() { iconv -f GBK -t UTF-8 "$CLIENT/update.log" | grep 'write check: 数据 is a link to ' || true; }
echo "     log: $(link_lines | head -1 | sed 's/^[^ ]* [^ ]* //')"
check "[other drive] the log names the link and its target on the other drive, once" \
  test "$(link_lines | grep -c 'is a link to Q:\\游戏 数据; files below it are written there')" -eq 1
check "[other drive] the link is still a link" test -L "$CLIENT/数据"
check "[other drive] nothing was written beside the link" test ! -e "$CLIENT/数据.tmp"
reset_run

stop_nginx
rm -f "$WINEPREFIX/dosdevices/$DRIVE_LETTER"
chmod -R u+w "$WORK"
rm -rf "$WORK"
finish
