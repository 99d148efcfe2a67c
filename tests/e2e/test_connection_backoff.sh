#!/usr/bin/env bash
# A server that allows two connections per address and answers 503 beyond
# them (nginx limit_conn; each answer paced at 256 KiB/s so that they overlap), with the real updater under Wine: 60 new files
# all arrive, the run restarts the launcher, update.log shows the run
# backing off to fewer connections, and no file failed on the refusals.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup backoff
start_nginx "$SERVER" 8088 "limit_conn per_address 2; limit_conn_status 503; limit_rate 256k;" \
  "limit_conn_zone \$binary_remote_addr zone=per_address:1m;" || { echo "nginx did not start"; exit 1; }

CLIENT="$WORK/backoff 客户 端"; RELEASE="$WORK/backoff release"
rm -rf "$CLIENT" "$RELEASE" "$SERVER/patch"; mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
cp -r "$CLIENT" "$RELEASE"
for n in $(seq 1 60); do random_file "$RELEASE/data/f$n.bin" 64; done
publish "$RELEASE" "$SERVER"

log_shows() { grep -a -q -- "$1" "$CLIENT/update.log" 2>/dev/null; }
start_launcher "$CLIENT"
check "the run finishes and restarts" wait_until 240 log_shows "download run done: 60 files in"
all_whole() { for n in $(seq 1 60); do cmp -s "$RELEASE/data/f$n.bin" "$CLIENT/data/f$n.bin" || return 1; done; }
check "every file arrived whole" all_whole
check "the server answered 503 beyond two connections" test -n "$(requests_of ' 503 ')"
check "update.log shows the back-off" log_shows "connections at most from now on (the server turned one away)"
check "no file failed" bash -c "! grep -a -q 'run failed' \"$CLIENT/update.log\""
sed 's/^/    /' "$CLIENT/update.log" | grep -a -E "connections|ask again|run done" | head -20
end_updaters
rm -rf "$WORK"
finish
