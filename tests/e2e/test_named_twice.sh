#!/usr/bin/env bash
# One file named twice in the list (a list made by hand or by another tool),
# with the real updater.exe under Wine and nginx:
#   [one checksum]  "数据\a.txt" and "数据\A.TXT" with one checksum: the file
#                   is fetched once, the run ends and the next updater finds
#                   the client up to date;
#   [two checksums] the same names with two checksums: the list is refused
#                   with the list-failed text, the log quotes both lines,
#                   nothing is fetched.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup twice
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
LIST="$SERVER/patch/528/filelist.txt"
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

# new_client NAME: a client with the launcher and an old file; the release
# has a new one, published, and its list line for the file as $LINE.
new_client() {
  CLIENT="$WORK/$1 客户 端"; RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER/patch"; mkdir -p "$CLIENT/数据" "$RELEASE/数据"
  pack_updater "$CLIENT/$LAUNCHER"
  cp "$CLIENT/$LAUNCHER" "$RELEASE/"
  echo "a v1" >"$CLIENT/数据/a.txt"
  echo "a v2" >"$RELEASE/数据/a.txt"
  publish "$RELEASE" "$SERVER"
  SUM="$("$PATCHTOOL" checksum "$RELEASE/数据/a.txt" | awk '{print $1}')"
}

# ---- [one checksum] -------------------------------------------------------------
new_client one
{ cat "$LIST"; gbk "数据\\A.TXT#$SUM"; printf '\r\n'; } >"$LIST.new" && mv "$LIST.new" "$LIST"
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
twice() { [ "$(request_count 'filelist.txt 200')" -ge 2 ]; }
check "[one checksum] the run ends and the launcher restarts" wait_until 90 twice
check "[one checksum] the file arrived" wait_until 30 same_tree_files "$RELEASE" "$CLIENT" "数据/a.txt"
up_to_date() { grep -a -q 'list checked: 0 files to update' "$CLIENT/update.log" 2>/dev/null; }
check "[one checksum] the next updater finds the client up to date" wait_until 60 up_to_date
sleep 2
shot named-twice-one-checksum
check "[one checksum] one download of the file" test "$(request_count '^/patch/528/')" -eq "$(( $(request_count 'filelist.txt') + 1 ))"
check "[one checksum] the log says it is fetched once" \
  grep -a -q 'list: 1 entries name a file listed before, with its checksum: fetched once' "$CLIENT/update.log"
check "[one checksum] the run was done" grep -a -q 'download run done: 1 files' "$CLIENT/update.log"
reset_run

# ---- [two checksums] ------------------------------------------------------------
new_client two
{ cat "$LIST"; gbk "数据\\A.TXT#12345"; printf '\r\n'; } >"$LIST.new" && mv "$LIST.new" "$LIST"
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
refused_line="$(gbk "list refused: two entries name one file: \"数据\\a.txt#$SUM\" and \"数据\\A.TXT#12345\"")"
refused() { grep -a -q -F "$refused_line" "$CLIENT/update.log" 2>/dev/null; }
check "[two checksums] the list is refused, the log quotes both lines" wait_until 60 refused
sleep 2
shot named-twice-two-checksums
check "[two checksums] nothing was fetched" test "$(request_count '^/patch/528/' )" -eq "$(request_count 'filelist.txt')"
check "[two checksums] the old file stays" test "$(cat "$CLIENT/数据/a.txt")" = "a v1"
echo "     log: $(grep -a 'list refused' "$CLIENT/update.log" | head -1 | iconv -f GBK -t UTF-8)"
reset_run

stop_nginx
rm -rf "$WORK"
finish
