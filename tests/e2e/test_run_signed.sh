#!/usr/bin/env bash
# What the download run installs under a signed list, with the real
# updater.exe under Wine (the signed test build: mirrors 127.0.0.1:8088, then
# :8089). Files an attacker on the path would send never reach their names
# and the launcher is not restarted:
#   [forged]       two bytes changed, same size and 32-bit checksum;
#   [launcher]     another Windows program (the stand-in game) padded to the
#                  new launcher's size and checksum: the restart must not run it;
#   [appended]     the file with bytes appended.
# With two mirrors a bad one costs nothing:
#   [forged on A]  the forged file on the first, the good one on the second;
#   [bad then good] the first sends wrong bytes and cuts: the second sends the
#                  whole file (the partial file is not resumed there);
#   [trickle]      the first sends 600 bytes every 3 s: the floor rate (4 KiB/s
#                  over a minute) ends it and the second delivers.
# The client folder is compared before and after every case.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
# Before the machine-wide lock of lib.sh: a build holds no port.
build_signed_updater || { echo "the signed updater did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup runsigned
FORGE="python3 $ROOT/tests/e2e/forge.py"
HOLDER="$WIN_BUILD/tests/game/file_holder.exe"
[ -f "$HOLDER" ] || { echo "missing $HOLDER"; exit 1; }
PACK="数据/资 源.pak"
PACK_PATH='/patch/528/数据/资 源.pak'
PACK_URI='%E6%95%B0%E6%8D%AE/%E8%B5%84%20%E6%BA%90\.pak'

# new_case NAME: a client at version 1 with the signed launcher, a release
# with a changed pack file published (signed) to $SERVER.
new_case() {
  CLIENT="$WORK/$1 客户 端"; RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER" "$WORK/forged root"; mkdir -p "$CLIENT/数据" "$SERVER"
  pack_updater "$CLIENT/$LAUNCHER" "$SIGNED_UPDATER"
  random_file "$CLIENT/$PACK" 64
  echo "v1" >"$CLIENT/readme.txt"
  cp -r "$CLIENT" "$RELEASE"
  random_file "$RELEASE/$PACK" 256
  forget_list_sequence
}
publish_release() { publish_signed "$RELEASE" "$SERVER"; }
# forged_root FILE FORGED: the published server root with FILE replaced, and
# without the forms publish made (a compressed copy is checked by its own
# SHA-256: the forged bytes must come as the file itself).
forged_root() {
  cp -r "$SERVER" "$WORK/forged root"
  rm -rf "$WORK/forged root/patch/forms"
  cp "$2" "$WORK/forged root/patch/528/$1"
}
# The client's files but the updater's own working files.
client_state() {
  (cd "$CLIENT" && find . -type f ! -name update.log ! -name update.dat ! -name update.seq ! -name update.sums -print0 | sort -z |
    xargs -0 -r sha256sum)
}
log_shows() { grep -a -q -E -- "$1" "$CLIENT/update.log" 2>/dev/null; }
list_requests() { grep -c 'filelist\.txt' "$A_DIR/access.log" 2>/dev/null || true; }
start_mirrors() {  # start_mirrors ROOT_A ROOT_B
  start_nginx "$1" 8088 || { echo "nginx A did not start"; exit 1; }
  A_DIR="$NGINX_DIR"
  start_nginx "$2" 8089 || { echo "nginx B did not start"; exit 1; }
  B_DIR="$NGINX_DIR"
}
stop_mirrors() {
  end_updaters
  local dir
  for dir in "${A_DIR:-}" "${B_DIR:-}"; do
    [ -n "$dir" ] && [ -s "$dir/nginx.pid" ] && kill "$(cat "$dir/nginx.pid")" 2>/dev/null
  done
  [ -n "${FAULT_SERVER_PID:-}" ] && stop_fault_server
  sleep 0.5
}

# refused LABEL: the run fails at once, nothing of the client changed, no
# restart, nothing forged ran.
refused() {
  check "[$1] the run fails" wait_until 90 log_shows "run failed at "
  sleep 2
  shot "run-signed-$1"
  check "[$1] the client is as it was" test "$(client_state)" = "$BEFORE"
  check "[$1] no partial file is left" test -z "$(find "$CLIENT" -name '*.tmp')"
  check "[$1] no restart: the list was fetched once" test "$(list_requests)" -eq 1
  check "[$1] the updater stays with its window" test "$(updater_processes)" -eq 1 -a -n "$(window_id)"
  check "[$1] nothing forged ran" test ! -e "$CLIENT/game_started.txt"
}

# ---- [forged] -------------------------------------------------------------------
new_case forged
publish_release
$FORGE twobytes "$RELEASE/$PACK" "$WORK/forged.pak"
check "[forged] same size and checksum, other bytes" \
  test "$($FORGE checksum "$WORK/forged.pak")" = "$($FORGE checksum "$RELEASE/$PACK")" -a \
    "$(stat -c %s "$WORK/forged.pak")" = "$(stat -c %s "$RELEASE/$PACK")"
forged_root "$PACK" "$WORK/forged.pak"
start_mirrors "$WORK/forged root" "$WORK/forged root"
BEFORE="$(client_state)"
start_launcher "$CLIENT"
refused forged
check "[forged] the log names the SHA-256 on both mirrors" \
  log_has_in_order "$CLIENT/update.log" "file 数据.资 源\.pak: result 0 .*MISMATCH: SHA-256 differs.*8088" \
    "next mirror for .*8089" "MISMATCH: SHA-256 differs.*8089" "run failed at "
stop_mirrors

# ---- [launcher] -----------------------------------------------------------------
new_case launcher
# The new launcher: the signed updater carrying another program.
"$PATCHTOOL" pack "$SIGNED_UPDATER" "$HOLDER" -o "$RELEASE/$LAUNCHER" >/dev/null
cp "$CLIENT/$PACK" "$RELEASE/$PACK"
publish_release
$FORGE mimic "$GAME" "$RELEASE/$LAUNCHER" "$WORK/forged launcher.exe"
check "[launcher] the stand-in game takes the new launcher's size and checksum" \
  test "$($FORGE checksum "$WORK/forged launcher.exe")" = "$($FORGE checksum "$RELEASE/$LAUNCHER")" -a \
    "$(stat -c %s "$WORK/forged launcher.exe")" = "$(stat -c %s "$RELEASE/$LAUNCHER")"
forged_root "$LAUNCHER" "$WORK/forged launcher.exe"
start_mirrors "$WORK/forged root" "$WORK/forged root"
BEFORE="$(client_state)"
start_launcher "$CLIENT"
refused launcher
stop_mirrors

# ---- [appended] -----------------------------------------------------------------
new_case appended
publish_release
cp "$RELEASE/$PACK" "$WORK/appended.pak"; printf 'MZ appended' >>"$WORK/appended.pak"
forged_root "$PACK" "$WORK/appended.pak"
start_mirrors "$WORK/forged root" "$WORK/forged root"
BEFORE="$(client_state)"
start_launcher "$CLIENT"
refused appended
check "[appended] the longer answer was refused for its size" log_shows "size [0-9]+, expected 262144"
stop_mirrors

# updated LABEL: the release arrived and the launcher restarted once.
updated() {
  check "[$1] the file arrives whole" wait_until 150 cmp -s "$RELEASE/$PACK" "$CLIENT/$PACK"
  list_twice() { [ "$(list_requests)" -ge 2 ]; }
  check "[$1] the launcher restarted and the next updater checked the list" wait_until 60 list_twice
  sleep 2
  check "[$1] ...once" test "$(list_requests)" -eq 2
  check "[$1] the rest of the client is the release" same_tree_files "$RELEASE" "$CLIENT" readme.txt "$LAUNCHER"
  check "[$1] no partial file is left" test -z "$(find "$CLIENT" -name '*.tmp')"
}
b_sent_whole() { grep -q -E "^/patch/528/$PACK_URI 200 \"-\" 262144$" "$B_DIR/access.log"; }

# ---- [forged on A] --------------------------------------------------------------
new_case forged-on-a
publish_release
$FORGE twobytes "$RELEASE/$PACK" "$WORK/forged.pak"
forged_root "$PACK" "$WORK/forged.pak"
start_mirrors "$WORK/forged root" "$SERVER"
start_launcher "$CLIENT"
updated "forged on A"
check "[forged on A] A's file was refused, B's taken" \
  log_has_in_order "$CLIENT/update.log" "MISMATCH: SHA-256 differs.*8088" "next mirror for .*8089" \
    "result 0 .*size and SHA-256 ok.*8089" "installed 数据.资 源\.pak"
check "[forged on A] B sent the whole file" b_sent_whole
stop_mirrors

# ---- [bad then good] ------------------------------------------------------------
new_case bad-then-good
publish_release
printf '{"%s": [{"cut": 100000, "garble": true}]}' "$PACK_PATH" >"$WORK/faults.json"
start_fault_server "$SERVER" "$WORK/faults.json" 8088
A_DIR="$NGINX_DIR"
start_nginx "$SERVER" 8089 || { echo "nginx B did not start"; exit 1; }
B_DIR="$NGINX_DIR"
start_launcher "$CLIENT"
updated "bad then good"
check "[bad then good] A sent wrong bytes and cut at 100000" \
  grep -q -E "^/patch/528/$PACK_URI 200 \"-\" 100000$" "$A_DIR/access.log"
check "[bad then good] B sent the whole file: A's bytes were not resumed" b_sent_whole
check "[bad then good] the log shows the cut, then the whole file from B" \
  log_has_in_order "$CLIENT/update.log" "result 8 \(Interrupted\), 100000 bytes.*8088" \
    "result 0 \(Ok\), 262144 bytes, .*8089"
stop_mirrors

# ---- [trickle] ------------------------------------------------------------------
new_case trickle
publish_release
printf '{"%s": [{"trickle": [600, 3]}]}' "$PACK_PATH" >"$WORK/faults.json"
start_fault_server "$SERVER" "$WORK/faults.json" 8088
A_DIR="$NGINX_DIR"
start_nginx "$SERVER" 8089 || { echo "nginx B did not start"; exit 1; }
B_DIR="$NGINX_DIR"
start_launcher "$CLIENT"
check "[trickle] the floor rate ends the trickle within its first windows" \
  wait_until 100 log_shows "below the floor rate.*8088"
updated trickle
check "[trickle] B sent the whole file" b_sent_whole
stop_mirrors

rm -rf "$WORK"
finish
