#!/usr/bin/env bash
# The download run with the real updater.exe under Wine (the default build)
# and nginx, several files at once:
#   [many]     200 small files and 2 large ones: every file arrives whole over
#              far fewer connections than files (nginx's $connection), one
#              restart; a screenshot while several transfers are in flight
#              shows a sane window;
#   [exit]     the exit confirmed while several transfers are in flight: the
#              updater ends at once, the old files stay, what arrived stays in
#              the partial files;
#   [closing]  the same against a server that closes after every response;
#   [404]      a 404 for a file the client has: the run fails, the old file
#              stays, no restart;
#   [stale]    a partial file longer than the file: dropped on the 416 and the
#              file fetched whole in the same try;
#   [disk]     a disk that fills during a download (a small tmpfs as the
#              client folder): the run fails with the full-disk text (compared
#              with the same text drawn by the window harness), the old file
#              stays. Skipped, not counted, where mounting is refused.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

HARNESS="$WIN_BUILD/tests/ui/window_harness.exe"
PROBE="python3 $ROOT/tests/e2e/window_probe.py"
[ -f "$HARNESS" ] || { echo "missing $HARNESS"; exit 1; }
cycle_setup runfiles
OX=278 OY=289   # the window's top-left corner on the 1024x768 screen
at() { echo $((OX + $1)) $((OY + $2)); }
ppm_shot() { shot "$1"; /usr/bin/convert "$SHOTS/$1.png" "$WORK/$1.ppm"; }

log_shows() { grep -a -q -E -- "$1" "$CLIENT/update.log" 2>/dev/null; }
list_requests() { request_count '^/patch/528/filelist.txt 200'; }
# The client's files but the updater's own working files.
client_state() {
  (cd "$CLIENT" && find . -type f ! -name update.log ! -name update.dat ! -name update.sums -print0 | sort -z | xargs -0 -r sha256sum)
}

# new_client NAME: a client with the launcher and an old readme; $RELEASE a copy.
new_client() {
  CLIENT="$WORK/$1 客户 端"; RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER"; mkdir -p "$CLIENT" "$SERVER"
  pack_updater "$CLIENT/$LAUNCHER"
  echo "v1" >"$CLIENT/readme.txt"
  cp -r "$CLIENT" "$RELEASE"
}

# ---- [many] ---------------------------------------------------------------------
new_client many
mkdir -p "$CLIENT/large" "$RELEASE/small" "$RELEASE/large"
for n in $(seq -w 1 200); do random_file "$RELEASE/small/s$n.bin" 4; done
for n in 1 2; do random_file "$CLIENT/large/l$n.bin" 100; random_file "$RELEASE/large/l$n.bin" 3072; done
echo "v2" >"$RELEASE/readme.txt"
publish "$RELEASE" "$SERVER"
ALL_FILES=(readme.txt large/l1.bin large/l2.bin)
for n in $(seq -w 1 200); do ALL_FILES+=("small/s$n.bin"); done
# The large files come slowly, so that the window can be looked at while
# they and the small ones are on their way.
start_nginx "$SERVER" 8088 'location /patch/528/large/ { limit_rate 512k; }' || { echo "nginx did not start"; exit 1; }
: >"$NGINX_DIR/connections.log"
start_launcher "$CLIENT" zh_CN.UTF-8
both_large_growing() {
  [ "$(stat -c %s "$CLIENT/large/l1.bin.tmp" 2>/dev/null || echo 0)" -gt 300000 ] &&
    [ "$(stat -c %s "$CLIENT/large/l2.bin.tmp" 2>/dev/null || echo 0)" -gt 300000 ]
}
check "[many] both large files are on their way at once" wait_until 90 both_large_growing
xdotool mousemove 900 700
sleep 1
ppm_shot run-files-in-flight
LIVE="$WORK/run-files-in-flight.ppm"
check "[many] in flight: the task label has text" $PROBE count "$LIVE" $(at 88 100) 248 18 192 192 192 60 20
check "[many] in flight: the patch label has text" $PROBE count "$LIVE" $(at 88 117) 248 18 192 192 192 60 20
check "[many] in flight: the speed label has text" $PROBE count "$LIVE" $(at 88 134) 248 18 192 192 192 60 20
check "[many] every file arrives whole" wait_until 120 same_tree_files "$RELEASE" "$CLIENT" "${ALL_FILES[@]}"
twice() { [ "$(list_requests)" -ge 2 ]; }
check "[many] the launcher restarted and the next updater checked the list" wait_until 60 twice
sleep 3
check "[many] ...once" test "$(list_requests)" -eq 2
# (A kept connection ends with a "400" line without a URI in nginx's log:
# the empty line the fresh request has always ended with, read as the start
# of another request when the connection closes.)
file_lines() { grep -E '^[0-9]+ /patch/528/(large|small|readme)' "$NGINX_DIR/connections.log"; }
CONNECTIONS=$(file_lines | awk '{print $1}' | sort -u | wc -l)
FILE_REQUESTS=$(file_lines | grep -c ' 200$')
echo "     203 files in $FILE_REQUESTS requests over $CONNECTIONS connections"
check "[many] one request a file" test "$FILE_REQUESTS" -eq 203
check "[many] far fewer connections than files, at most 8" test "$CONNECTIONS" -ge 1 -a "$CONNECTIONS" -le 8
check "[many] the log names kept connections" log_shows "file small.s[0-9]+\.bin: result 0 .*connection [0-9]+ reused"
check "[many] the log gives the run's time" log_shows "download run done: 203 files in [0-9.]+ s; restart "
cp "$CLIENT/update.log" "$SHOTS/run-files-many-update.log"
end_updaters

# ---- [exit] ---------------------------------------------------------------------
CLIENT_MANY="$CLIENT"
CLIENT="$WORK/exit 客户 端"
rm -rf "$CLIENT"; mkdir -p "$CLIENT/large"
cp "$CLIENT_MANY/$LAUNCHER" "$CLIENT/"; echo "v1" >"$CLIENT/readme.txt"
for n in 1 2; do random_file "$CLIENT/large/l$n.bin" 100; done
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
start_launcher "$CLIENT"
check "[exit] both large files are on their way" wait_until 90 both_large_growing
BEFORE="$(cd "$CLIENT" && sha256sum large/l1.bin large/l2.bin readme.txt)"
click_close_button
check "[exit] close asks for confirmation" wait_until 10 box_open "确认退出"
xdotool search --onlyvisible --name "确认退出" windowactivate --sync >/dev/null 2>&1
xdotool key Return
check "[exit] Yes ends the updater promptly" wait_until 10 no_updater
check "[exit] the old files stay" test "$(cd "$CLIENT" && sha256sum large/l1.bin large/l2.bin readme.txt)" = "$BEFORE"
check "[exit] what arrived stays for the next run" test -s "$CLIENT/large/l1.bin.tmp" -a -s "$CLIENT/large/l2.bin.tmp"
end_updaters
stop_nginx
# The task label showed the first unfinished file in list order, the first
# large one, while the files after it were coming in.
harness_shot run-files-in-flight-harness 2 'task=large\l1.bin'; end_updaters
check "[many] in flight: the task label shows the first unfinished file" \
  $PROBE same "$LIVE" "$WORK/run-files-in-flight-harness.ppm" $(at 88 100) 248 18 8

# ---- [closing] ------------------------------------------------------------------
CLIENT="$WORK/closing 客户 端"
rm -rf "$CLIENT"; mkdir -p "$CLIENT/large"
cp "$CLIENT_MANY/$LAUNCHER" "$CLIENT/"; echo "v1" >"$CLIENT/readme.txt"
echo '{}' >"$WORK/faults.json"
start_fault_server "$SERVER" "$WORK/faults.json"
start_launcher "$CLIENT"
check "[closing] every file arrives whole" wait_until 120 same_tree_files "$RELEASE" "$CLIENT" "${ALL_FILES[@]}"
check "[closing] the launcher restarted and the next updater checked the list" wait_until 60 twice
check "[closing] every file over a connection of its own" \
  test "$(grep -c -v 'filelist\.txt' "$NGINX_DIR/access.log")" -eq 203
end_updaters
stop_fault_server

# ---- [404] ----------------------------------------------------------------------
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
new_client missing
random_file "$CLIENT/data.pak" 50
cp "$CLIENT/data.pak" "$RELEASE/data.pak"
random_file "$RELEASE/data.pak" 60
echo "v2" >"$RELEASE/readme.txt"
publish "$RELEASE" "$SERVER"; rm "$SERVER/patch/528/data.pak"
: >"$NGINX_DIR/access.log"
BEFORE_PAK="$(sha256sum <"$CLIENT/data.pak")"
start_launcher "$CLIENT"
check "[404] the run fails at the file" wait_until 60 log_shows "run failed at data\.pak"
sleep 2
check "[404] the old file stays" test "$(sha256sum <"$CLIENT/data.pak")" = "$BEFORE_PAK"
check "[404] no partial file" test ! -e "$CLIENT/data.pak.tmp"
check "[404] no restart" test "$(list_requests)" -eq 1
reset_run

# ---- [stale] --------------------------------------------------------------------
new_client stale
random_file "$RELEASE/x.bin" 100
publish "$RELEASE" "$SERVER"
random_file "$CLIENT/x.bin.tmp" 150   # of another version, longer than the file
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
check "[stale] the file arrives whole" wait_until 60 cmp -s "$RELEASE/x.bin" "$CLIENT/x.bin"
check "[stale] asked from the partial file's end, refused 416, then asked whole in the same try" \
  test -n "$(requests_of '^/patch/528/x.bin 416 "bytes=153600-"')" -a \
    -n "$(requests_of '^/patch/528/x.bin 200 "-" 102400$')"
check "[stale] one try in the log" test "$(grep -a -c 'file x\.bin: result' "$CLIENT/update.log")" -eq 1
check "[stale] no partial file is left" test ! -e "$CLIENT/x.bin.tmp"
reset_run
stop_nginx

# ---- [disk] ---------------------------------------------------------------------
PACKED="$WORK/packed.exe"
pack_updater "$PACKED"
SIZE_KIB=$(( ($(stat -c %s "$PACKED") + 4095) / 4096 * 4 ))
# Room for the launcher, its copy, the old file and 512 KiB more: the new
# file of 2 MiB cannot fit.
if ! small_disk $(( SIZE_KIB * 2 + 1024 )); then
  echo "SKIP [disk]: mounting a tmpfs is refused here (needs root)"
else
  CLIENT="$DISK"
  cp "$PACKED" "$CLIENT/$LAUNCHER"
  random_file "$CLIENT/big.pak" 400
  RELEASE="$WORK/disk release"; rm -rf "$RELEASE" "$SERVER"; mkdir -p "$RELEASE" "$SERVER"
  cp "$PACKED" "$RELEASE/$LAUNCHER"
  random_file "$RELEASE/big.pak" 2048
  publish "$RELEASE" "$SERVER"
  start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
  BEFORE="$(client_state)"
  start_launcher "$CLIENT" zh_CN.UTF-8
  check "[disk] the run fails: the disk is full" wait_until 60 log_shows "run failed at big\.pak \(1/1\): disk full"
  xdotool mousemove 900 700
  sleep 2
  ppm_shot run-files-disk-full
  check "[disk] the client is as it was" test "$(client_state)" = "$BEFORE"
  check "[disk] no restart" test "$(list_requests)" -eq 1
  end_updaters
  stop_nginx
  harness_shot run-files-disk-full-harness 2 "task=磁盘空间不足!请清理磁盘后再试"; end_updaters
  check "[disk] the task label shows the full-disk text" \
    $PROBE same "$WORK/run-files-disk-full.ppm" "$WORK/run-files-disk-full-harness.ppm" $(at 88 100) 248 18 8
fi

finish
