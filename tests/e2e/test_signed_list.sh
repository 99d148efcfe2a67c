#!/usr/bin/env bash
# The signed file list, with the real updater.exe under Wine and nginx: an
# updater built with a list key updates from a list that patchtool publish
# --sign wrote, and keeps its sequence; it refuses a list with one byte
# changed, one signed by another key, one without its signature line, one
# whose signature line is not last, and an older list (lower sequence) than
# the one it accepted, each time leaving the client untouched with nothing
# but the list requested. An updater built without a key still updates from
# a signed list.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
# Before the machine-wide lock of lib.sh: a build holds no port.
build_signed_updater || { echo "the signed updater did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup signed
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
LIST="$SERVER/patch/528/filelist.txt"

list_requests() { request_count '^/patch/528/filelist.txt '; }

# new_client NAME UPDATER: a client at version 1 packed with UPDATER, and a
# release at version 2 (a changed file and a new one) in $RELEASE.
new_client() {
  CLIENT="$WORK/$1 客户 端"
  rm -rf "$CLIENT" "$SERVER/patch"; mkdir -p "$CLIENT"
  pack_updater "$CLIENT/$LAUNCHER" "$2"
  echo "v1" >"$CLIENT/readme.txt"
  RELEASE="$WORK/$1 release"
  rm -rf "$RELEASE"; cp -r "$CLIENT" "$RELEASE"
  echo "v2" >"$RELEASE/readme.txt"
  random_file "$RELEASE/数据/新 文件.pak" 300
  forget_list_sequence
}

# updates_fully LABEL: the release arrives, the launcher restarts and the
# second updater is up to date.
updates_fully() {
  check "[$1] the changed and the new file arrive byte for byte" \
    wait_until 90 same_tree_files "$RELEASE" "$CLIENT" readme.txt "数据/新 文件.pak"
  list_fetched_twice() { [ "$(request_count '^/patch/528/filelist.txt 200')" -ge 2 ]; }
  check "[$1] the launcher restarted and a second updater checked the list" wait_until 60 list_fetched_twice
  check "[$1] the second updater's window is open" wait_until 30 has_window
}

# refused LABEL EXPECTED_README: only the list was requested, nothing changed.
refused() {
  list_fetched() { [ "$(list_requests)" -ge 1 ]; }
  check "[$1] the list is fetched" wait_until 60 list_fetched
  wait_until 30 has_window; sleep 3
  check "[$1] nothing but the list is requested" test "$(request_count '^/patch/528/')" -eq 1
  check "[$1] the client is untouched" test "$(cat "$CLIENT/readme.txt")" = "$2" -a ! -e "$CLIENT/数据"
  check "[$1] the updater stays, no restart" test "$(updater_processes)" -eq 1 -a "$(list_requests)" -eq 1
}

# 1. A signed release passes end to end; the client keeps its sequence.
new_client signed "$SIGNED_UPDATER"
publish_signed "$RELEASE" "$SERVER"
check "[signed] patchtool verify accepts the published list" \
  "$PATCHTOOL" verify "$LIST" --key "$LIST_PUBLIC_KEY"
cp "$LIST" "$WORK/list-seq1.txt"
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
updates_fully signed
sleep 2
shot signed-up-to-date
check "[signed] the client keeps the accepted sequence in update.seq" \
  test "$(head -n1 "$CLIENT/update.seq" | tr -d '\r')" = 1
reset_run

# 2. The next release (sequence 2) is taken; then the server is rolled back
# to the first list and its files: an older list, validly signed, is refused.
echo "v3" >"$RELEASE/readme.txt"
publish_signed "$RELEASE" "$SERVER"
start_launcher "$CLIENT"
check "[newer] the next release arrives" wait_until 90 same_tree_files "$RELEASE" "$CLIENT" readme.txt
check "[newer] the client keeps sequence 2" wait_until 30 test "$(head -n1 "$CLIENT/update.seq" 2>/dev/null | tr -d '\r')" = 2
list_fetched_twice() { [ "$(request_count '^/patch/528/filelist.txt 200')" -ge 2 ]; }
wait_until 60 list_fetched_twice
reset_run
echo "v2" >"$SERVER/patch/528/readme.txt"
cp "$WORK/list-seq1.txt" "$LIST"
rm -rf "$CLIENT/数据"
start_launcher "$CLIENT"
refused "older sequence" v3
shot signed-refused-older
reset_run

# 3. Lists altered on the way: each refused, nothing fetched.
new_client altered "$SIGNED_UPDATER"
publish_signed "$RELEASE" "$SERVER"
cp "$LIST" "$WORK/good.txt"
"$PATCHTOOL" keygen "$WORK/other.key" >/dev/null 2>&1
mkdir -p "$WORK/other server"
"$PATCHTOOL" publish "$RELEASE" "$WORK/other server" --sign "$WORK/other.key" --sequence 1 >/dev/null
alter() {  # alter HOW: writes the served list from the good one
  python3 - "$WORK/good.txt" "$LIST" "$1" "$WORK/other server/patch/528/filelist.txt" <<'PY'
import sys
good, out, how, other = sys.argv[1:5]
data = open(good, 'rb').read()
sig = data[data.rindex(b'#ed25519#'):]
if how == 'byte':        # one digit of readme.txt's checksum
    i = data.index(b'readme.txt#') + len(b'readme.txt#') + 1
    data = data[:i] + bytes([data[i] ^ 1]) + data[i + 1:]
elif how == 'other-key':
    data = open(other, 'rb').read()
elif how == 'no-signature':
    data = data[:-len(sig)]
elif how == 'not-last':  # an entry added after the signature
    data = data + b'evil.txt#1\r\n'
open(out, 'wb').write(data)
PY
}
echo "evil" >"$SERVER/patch/528/evil.txt"
for how in byte other-key no-signature not-last; do
  alter "$how"
  : >"$NGINX_DIR/access.log"
  start_launcher "$CLIENT"
  refused "$how" v1
  [ "$how" = byte ] && shot signed-refused-byte
  reset_run
done
check "[refused] no sequence was kept from a refused list" test ! -e "$CLIENT/update.seq"

# 4. An updater built without a key reads the signed list as a plain one.
new_client unsigned "$UPDATER"
publish_signed "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
updates_fully unsigned
check "[unsigned] no sequence file is written" test ! -e "$CLIENT/update.seq"
reset_run

stop_nginx
rm -rf "$WORK"
finish
