#!/usr/bin/env bash
# The signed list's rules for a careful operator, with the real updater.exe
# under Wine and two nginx mirrors (the signed test build has two keys and
# names 127.0.0.1:8088, then :8089):
#   - a list signed by the second of the build's two keys is taken;
#   - a list past its expiry date is refused (the reason in update.log), one
#     that expires tomorrow is taken;
#   - mirror A at sequence 6 (what the client has) and mirror B at 7: the
#     client asks on and takes 7 from B;
#   - update.seq deleted: an older list, validly signed, is still refused (the
#     sequence is kept in the user's registry too).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
build_signed_updater || { echo "the signed updater did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup listkeys
SERVER_A="$SERVER"
SERVER_B="$WORK/server b"
mkdir -p "$SERVER_B"
start_nginx "$SERVER_A" 8088 || { echo "nginx A did not start"; exit 1; }
A_DIR="$NGINX_DIR"
start_nginx "$SERVER_B" 8089 || { echo "nginx B did not start"; exit 1; }
B_DIR="$NGINX_DIR"
count_a() { grep -cE "$1" "$A_DIR/access.log" 2>/dev/null || true; }
count_b() { grep -cE "$1" "$B_DIR/access.log" 2>/dev/null || true; }
clear_logs() { : >"$A_DIR/access.log"; : >"$B_DIR/access.log"; }
next_run() { end_updaters; clear_logs; }
LIST_A="$SERVER_A/patch/528/filelist.txt"

# new_client NAME: a client at version 1 packed with the signed updater, a
# release at version 2 in $RELEASE, empty mirrors, and no sequence kept.
new_client() {
  CLIENT="$WORK/$1 客户 端"
  rm -rf "$CLIENT" "$SERVER_A/patch" "$SERVER_B/patch"; mkdir -p "$CLIENT"
  pack_updater "$CLIENT/$LAUNCHER" "$SIGNED_UPDATER"
  echo "v1" >"$CLIENT/readme.txt"
  RELEASE="$WORK/$1 release"
  rm -rf "$RELEASE"; cp -r "$CLIENT" "$RELEASE"
  echo "v2" >"$RELEASE/readme.txt"
  random_file "$RELEASE/数据/新 文件.pak" 200
  forget_list_sequence
  clear_logs
}
log_has() { grep -q "$1" "$CLIENT/update.log" 2>/dev/null; }
seq_is() { [ "$(head -n1 "$CLIENT/update.seq" 2>/dev/null | tr -d '\r')" = "$1" ]; }
file_requests() { echo $(( $(count_a '^/patch/528/[^f]') + $(count_b '^/patch/528/[^f]') )); }

# 1. The second key of the build.
new_client second-key
"$PATCHTOOL" publish "$RELEASE" "$SERVER_A" --sign "$LIST_KEY_2" --sequence 1 >/dev/null
start_launcher "$CLIENT"
check "[second key] the release signed by the second build key arrives" \
  wait_until 90 same_tree_files "$RELEASE" "$CLIENT" readme.txt "数据/新 文件.pak"
check "[second key] its sequence is kept" wait_until 30 seq_is 1
next_run

# 2. Expiry: a list past its date is refused, one that expires tomorrow taken.
new_client expiry
publish_signed "$RELEASE" "$SERVER_A"
resign_list "$LIST_A" "$LIST_KEY" 1 "$(date -u -d '3 days ago' +%F)"
start_launcher "$CLIENT"
check "[expired] refused, the reason in update.log" wait_until 60 log_has 'list refused: the list has expired'
check "[expired] the list is unusable" wait_until 30 log_has 'list unusable'
sleep 2
shot list-expired-refused
check "[expired] nothing but the lists is requested, the client untouched" \
  test "$(file_requests)" -eq 0 -a "$(cat "$CLIENT/readme.txt")" = v1 -a ! -e "$CLIENT/update.seq"
check "[expired] the updater stays, no restart" test "$(updater_processes)" -eq 1
next_run
publish_signed "$RELEASE" "$SERVER_A" --sequence 2 --expires 1
check "[expires tomorrow] patchtool verify accepts it" "$PATCHTOOL" verify "$LIST_A" --key "$LIST_PUBLIC_KEY"
start_launcher "$CLIENT"
check "[expires tomorrow] the release arrives" \
  wait_until 90 same_tree_files "$RELEASE" "$CLIENT" readme.txt "数据/新 文件.pak"
check "[expires tomorrow] its sequence is kept" wait_until 30 seq_is 2
next_run

# 3. Mirror A has sequence 6, which the client has; mirror B has 7.
new_client freeze
printf '6\r\n' >"$CLIENT/update.seq"
publish_signed "$RELEASE" "$SERVER_A" --sequence 6
echo "v7" >"$RELEASE/readme.txt"
publish_signed "$RELEASE" "$SERVER_B" --sequence 7
start_launcher "$CLIENT"
check "[6 and 7] the release of sequence 7 arrives" wait_until 90 cmp -s "$RELEASE/readme.txt" "$CLIENT/readme.txt"
check "[6 and 7] both mirrors were asked for the list" \
  test "$(count_a '^/patch/528/filelist.txt 200')" -ge 1 -a "$(count_b '^/patch/528/filelist.txt 200')" -ge 1
check "[6 and 7] the file came from mirror B" test "$(count_b '^/patch/528/readme.txt 200')" -ge 1
check "[6 and 7] the client keeps sequence 7" wait_until 30 seq_is 7
up_to_date() { log_has 'list checked: 0 files to update'; }
check "[6 and 7] after the restart the client is up to date" wait_until 60 up_to_date
next_run

# 4. update.seq deleted: both mirrors serve the older list (6), validly signed.
cp "$LIST_A" "$SERVER_B/patch/528/filelist.txt"
echo "v6" >"$SERVER_A/patch/528/readme.txt"; cp "$SERVER_A/patch/528/readme.txt" "$SERVER_B/patch/528/readme.txt"
rm -f "$CLIENT/update.seq" "$CLIENT/update.log"
start_launcher "$CLIENT"
check "[update.seq deleted] the older list is refused" \
  wait_until 60 log_has 'list refused: sequence lower than the one accepted before'
check "[update.seq deleted] the list is unusable" wait_until 30 log_has 'list unusable'
sleep 2
check "[update.seq deleted] nothing but the lists is requested, the client keeps 7" \
  test "$(file_requests)" -eq 0 -a "$(cat "$CLIENT/readme.txt")" = v7
next_run

stop_nginx
kill "$(cat "$A_DIR/nginx.pid")" 2>/dev/null
rm -rf "$WORK"
finish
