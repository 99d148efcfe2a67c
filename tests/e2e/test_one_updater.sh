#!/usr/bin/env bash
# One updater per client folder, under Wine: two launchers started together
# in one folder give one window and one list request, while a second client
# folder updates side by side (with its restart); a launcher started while the
# updater runs brings its window back and ends.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup oneupdater
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

windows() { xdotool search --onlyvisible --name "版本更新" 2>/dev/null | wc -l; }
list_requests() { request_count '^/patch/528/filelist.txt 200'; }

# Folder A is up to date; folder B has one file out of date. Both take the
# release from the same server folder.
A="$WORK/A 客户 端"; B="$WORK/B 客户 端"; RELEASE="$WORK/release"
mkdir -p "$A" "$B"
pack_updater "$A/$LAUNCHER"; cp "$A/$LAUNCHER" "$B/$LAUNCHER"
echo "v2" >"$A/readme.txt"; echo "v1" >"$B/readme.txt"
random_file "$A/data.bin" 200; cp "$A/data.bin" "$B/data.bin"
mkdir -p "$RELEASE"; cp "$A/readme.txt" "$A/data.bin" "$RELEASE/"
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"

start_launcher "$A"; start_launcher "$A"; start_launcher "$B"
check "[two folders] folder B is updated" wait_until 60 cmp -s "$RELEASE/readme.txt" "$B/readme.txt"
three() { [ "$(list_requests)" -ge 3 ]; }
check "[two folders] B restarted and checked again" wait_until 60 three
two_windows() { [ "$(windows)" -eq 2 ]; }
check "[two folders] two windows: one per folder" wait_until 30 two_windows
sleep 5
shot one-updater-two-folders
check "[two folders] three list requests: A once, B twice" test "$(list_requests)" -eq 3
# A start that lost the race for the lock gives way within its bounded wait.
two_updaters() { [ "$(updater_processes)" -eq 2 ]; }
check "[two folders] two updaters stay, one per folder" wait_until 30 two_updaters
check "[two folders] ...with two windows" test "$(windows)" -eq 2
gave_way() { grep -a -q "another updater runs in this folder" "$A/update.log"; }
check "[one folder] A's log shows the second start giving way" gave_way
check "[one folder] B's log shows no such thing" not grep -a -q "another updater runs" "$B/update.log"
end_updaters

# A launcher started in A while its updater runs, minimised: the window
# comes back, and no second list request is made.
: >"$NGINX_DIR/access.log"
start_launcher "$A"
check "[again] A's updater is up" wait_until 60 has_window
sleep 2
pos="$(window_geometry)"; set -- $pos
xdotool mousemove $(( $1 + 418 )) $(( $2 + 15 )) click 1
gone() { [ "$(windows)" -eq 0 ]; }
check "[again] the minimise button hides the window" wait_until 10 gone
start_launcher "$A"
check "[again] the second start brings A's window back" wait_until 30 has_window
front() { grep -a -q "its window was brought to the front" "$A/update.log"; }
check "[again] A's log says so" wait_until 20 front
one_updater() { [ "$(updater_processes)" -eq 1 ]; }
check "[again] one updater, one list request" wait_until 20 one_updater
check "[again] ...and one list request" test "$(list_requests)" -eq 1
shot one-updater-brought-back

end_wine
stop_nginx
rm -rf "$WORK"
finish
