#!/usr/bin/env bash
# Mirrors with failover, with the real updater.exe under Wine and two nginx
# servers (the signed test build names 127.0.0.1:8088, then :8089). The first
# is stopped half-way through a large file: the file arrives intact from the
# second, which sends it whole (a partial file is resumed only on the mirror
# that wrote it). Then the first
# serves an old list, validly signed but with a lower sequence than the
# client accepted: it is skipped, and the update comes from the second.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
build_signed_updater || { echo "the signed updater did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup mirrors
forget_list_sequence
BIG="大 文件.pak"
BIG_URI='%E5%A4%A7%20%E6%96%87%E4%BB%B6\.pak'

# Mirror A is slow on the large file, so that it can be stopped in the middle.
start_nginx "$SERVER" 8088 'location /patch/528/ { limit_rate 2m; }' || { echo "nginx A did not start"; exit 1; }
A_DIR="$NGINX_DIR"
start_nginx "$SERVER" 8089 || { echo "nginx B did not start"; exit 1; }
B_DIR="$NGINX_DIR"
log_a() { grep -E "$1" "$A_DIR/access.log" 2>/dev/null || true; }
log_b() { grep -E "$1" "$B_DIR/access.log" 2>/dev/null || true; }

CLIENT="$WORK/mirror 客户 端"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER" "$SIGNED_UPDATER"
echo "v1" >"$CLIENT/readme.txt"
RELEASE="$WORK/mirror release"
cp -r "$CLIENT" "$RELEASE"
echo "v2" >"$RELEASE/readme.txt"
random_file "$RELEASE/$BIG" 20480
publish_signed "$RELEASE" "$SERVER"

# 1. Mirror A stops half-way through the large file.
start_launcher "$CLIENT"
partial_grew() { [ "$(stat -c %s "$CLIENT/$BIG.tmp" 2>/dev/null || echo 0)" -gt 4000000 ]; }
check "[failover] the large file is on its way from mirror A" wait_until 90 partial_grew
kill "$(cat "$A_DIR/nginx.pid")"
check "[failover] mirror A is stopped" wait_until 10 not test -e "$A_DIR/nginx.pid"
check "[failover] the large file arrives intact" wait_until 90 cmp -s "$RELEASE/$BIG" "$CLIENT/$BIG"
# (nginx does not log the request it was stopped in.)
check "[failover] mirror B sent the whole file, asked without a Range" \
  test -n "$(log_b "^/patch/528/$BIG_URI 200 \"-\" 20971520")" -a -z "$(log_b "^/patch/528/$BIG_URI 206 ")"
check "[failover] readme.txt arrives too" wait_until 30 cmp -s "$RELEASE/readme.txt" "$CLIENT/readme.txt"
list_from_b() { [ -n "$(log_b '^/patch/528/filelist.txt 200')" ]; }
check "[failover] after the restart the list comes from mirror B" wait_until 60 list_from_b
check "[failover] the second updater's window is open" wait_until 30 has_window
sleep 2
shot mirrors-failover-up-to-date
end_wine; wait_until 10 no_updater

# 2. Mirror A comes back with the old list (sequence 1) while the client has
# accepted sequence 2; mirror B has the next release at sequence 2.
printf '2\r\n' >"$CLIENT/update.seq"
SERVER_B="$WORK/server b"
cp -r "$SERVER" "$SERVER_B"
echo "v3" >"$RELEASE/readme.txt"
publish_signed "$RELEASE" "$SERVER_B" --sequence 2
stop_nginx  # B, to serve the new root
start_nginx "$SERVER" 8088 || { echo "nginx A did not restart"; exit 1; }
A_DIR="$NGINX_DIR"
start_nginx "$SERVER_B" 8089 || { echo "nginx B did not restart"; exit 1; }
B_DIR="$NGINX_DIR"
start_launcher "$CLIENT"
check "[older list] the update comes from mirror B" wait_until 90 cmp -s "$RELEASE/readme.txt" "$CLIENT/readme.txt"
check "[older list] mirror A gave its list and nothing else" \
  test "$(log_a '^/patch/528/filelist.txt 200' | wc -l)" -ge 1 -a -z "$(log_a '^/patch/528/readme')"
check "[older list] mirror B served the file" test -n "$(log_b '^/patch/528/readme.txt 200')"
check "[older list] the client keeps sequence 2" test "$(head -n1 "$CLIENT/update.seq" | tr -d '\r')" = 2
end_wine; wait_until 10 no_updater

kill "$(cat "$A_DIR/nginx.pid")" 2>/dev/null
stop_nginx
rm -rf "$WORK"
finish
