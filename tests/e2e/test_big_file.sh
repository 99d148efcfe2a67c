#!/usr/bin/env bash
# A file past 4 GiB, end to end (about 80 s here; about 8.4 GiB written at its
# peak, everything it wrote removed at the end):
#   - patchtool checksum and manifest (native and Windows) give the checksum an
#     independent computation gives for a sparse 4.2 GiB file with data at
#     the 2^31 and 2^32 boundaries; publish copies it; fetch downloads it from
#     nginx whole;
#   - the real updater.exe under Wine downloads it from nginx through a relay
#     that holds the transfer past 4 GiB (screenshot, progress label read
#     against the window harness drawing the same counts) and then cuts it;
#     the updater resumes with a Range past 4 GiB, installs the file, whose
#     checksum is the list's, and the start after the update reads nothing.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

STARTED=$(date +%s)
WIN_TOOL="$WIN_BUILD/tools/patchtool.exe"
PROBE="python3 $ROOT/tests/e2e/window_probe.py"
cycle_setup big
trap 'rm -rf "$WORK"; stage_cleanup' EXIT

GIB=$((1 << 30)) MIB=$((1 << 20))
TOTAL=$((4 * GIB + 200 * MIB))
HOLD_AT=$((4 * GIB + 64 * MIB))
RELEASE="$WORK/release"
CLIENT="$WORK/client 客户 端"
mkdir -p "$RELEASE" "$CLIENT"

# ---- a sparse release file with data around the boundaries ------------------
python3 - "$RELEASE/big.pak" "$TOTAL" "$HOLD_AT" >"$WORK/expected-sum" <<'PY'
import os, random, sys
path, total, hold = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
M = 1 << 32
piece = 64 * 1024
offsets = [0, (1 << 31) - piece // 2, (1 << 32) - piece // 2, hold - piece // 2, total - piece]
rng = random.Random(4)
with open(path, "wb") as f:
    f.truncate(total)
    regions = []
    for at in offsets:
        data = bytes(rng.randrange(256) for _ in range(piece))
        f.seek(at); f.write(data)
        regions.append((at, data))

def ones(n):  # sum of 31^k for k < n, mod 2^32, and 31^n
    if n == 0:
        return 0, 1
    s, p = ones(n // 2)
    s, p = (s * (1 + p)) % M, (p * p) % M
    if n % 2:
        s, p = (s + p) % M, (p * 31) % M
    return s, p

# Every byte adds (b + 1) * 31^k: the ones over the whole file, then b * 31^k
# for the bytes that are not zero.
h = ones(total)[0]
for at, data in regions:
    w = pow(31, at, M)
    part = 0
    for b in reversed(data):
        part = (part * 31 + b) % M
    h = (h + w * part) % M
print(h - M if h >= 1 << 31 else h)
PY
EXPECTED="$(cat "$WORK/expected-sum")"
echo "the release file: $TOTAL bytes, checksum $EXPECTED"
echo "small" >"$RELEASE/small.txt"

# ---- patchtool on it --------------------------------------------------------
sum_of() { "$PATCHTOOL" checksum "$1" | cut -d' ' -f1; }
check "native checksum of the 4.2 GiB file is the computed one" test "$(sum_of "$RELEASE/big.pak")" = "$EXPECTED"
check "Windows checksum agrees" \
  test "$(cd "$RELEASE" && wine "$WIN_TOOL" checksum big.pak | tr -d '\r' | cut -d' ' -f1)" = "$EXPECTED"
"$PATCHTOOL" manifest "$RELEASE" -o "$WORK/list.txt" >/dev/null
check "manifest lists it with that checksum" grep -q "^big.pak#$EXPECTED"$'\r$' "$WORK/list.txt"
(cd "$WORK" && wine "$WIN_TOOL" manifest "$RELEASE" -o list-win.txt >/dev/null)
check "the Windows manifest is the same list" cmp -s "$WORK/list.txt" "$WORK/list-win.txt"
"$PATCHTOOL" publish "$RELEASE" "$SERVER" >"$WORK/publish.txt"
check "publish copies it" grep -q "2 copied" "$WORK/publish.txt"
check "the published copy has its size" test "$(stat -c %s "$SERVER/patch/528/big.pak")" -eq "$TOTAL"
check "the published copy has its checksum" test "$(sum_of "$SERVER/patch/528/big.pak")" = "$EXPECTED"
# publish adds the compressed copy's form line after the entry it belongs to.
check "the published list is the manifest and form lines" \
  cmp -s <(grep -av '^#form#' "$SERVER/patch/528/filelist.txt") "$WORK/list.txt"
rm -f "$RELEASE/big.pak"  # sparse, but not needed any more
# This test is about the whole file past 4 GiB: its compressed copy (a sparse
# file packs to almost nothing) is left out of the list the updater reads.
sed -i '/^#form#/d' "$SERVER/patch/528/filelist.txt"

NGINX_PORT=8090
start_nginx "$SERVER" "$NGINX_PORT" || { echo "nginx did not start"; exit 1; }
fetch_started=$(date +%s)
(cd "$WORK" && "$PATCHTOOL" fetch "http://127.0.0.1:$NGINX_PORT/patch/528/big.pak" fetched.pak >"$WORK/fetch.txt" 2>&1)
check "patchtool fetch downloads it (Ok)" grep -q '^Ok$' "$WORK/fetch.txt"
echo "   fetch: $(( $(date +%s) - fetch_started )) s"
check "the fetched file has its size and checksum" \
  bash -c '[ "$(stat -c %s "$0")" -eq "$1" ] && [ "$("$2" checksum "$0" | cut -d" " -f1)" = "$3" ]' \
  "$WORK/fetched.pak" "$TOTAL" "$PATCHTOOL" "$EXPECTED"
rm -f "$WORK/fetched.pak"

# ---- the updater, held past 4 GiB and cut once --------------------------------
FLAG="$WORK/go-on"
python3 "$ROOT/tests/e2e/cut_relay.py" 8088 "$NGINX_PORT" /patch/528/big.pak "$HOLD_AT" "$FLAG" >"$WORK/relay.log" 2>&1 &
STAGE_PIDS+=($!)
relay_up() { python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8088), 1).close()' 2>/dev/null; }
wait_until 10 relay_up || { echo "relay did not start"; exit 1; }
pack_updater "$CLIENT/$LAUNCHER"
: >"$NGINX_DIR/access.log"
run_started=$(date +%s)
start_launcher "$CLIENT" zh_CN.UTF-8
check "the transfer is held past 4 GiB" wait_until 300 test -f "$FLAG.held"
echo "   to $HOLD_AT bytes: $(( $(date +%s) - run_started )) s"
check "the relay passed exactly $HOLD_AT bytes" test "$(cat "$FLAG.held" 2>/dev/null)" = "$HOLD_AT"
# Fetched beside it, small.txt is in: the label counts it ("[2/2]").
check "small.txt is installed while big.pak is held" wait_until 30 \
  bash -c 'grep -qa "installed small.txt" "$0/update.log"' "$CLIENT"
xdotool mousemove 900 700
sleep 2  # timer ticks: every byte passed is counted and shown
shot big-file-past-4gib
/usr/bin/convert "$SHOTS/big-file-past-4gib.png" "$WORK/live.ppm"
touch "$FLAG"
check "the run resumes, installs the file and restarts" wait_until 300 \
  bash -c 'grep -qa "download run done" "$0/update.log"' "$CLIENT"
echo "   whole run: $(( $(date +%s) - run_started )) s"
check "the file was asked for whole, then from past the cut" \
  bash -c 'grep -q "^/patch/528/big.pak 200 \"-\"" "$0" && grep -q "^/patch/528/big.pak 206 \"bytes=$1-\"" "$0"' \
  "$NGINX_DIR/access.log" "$HOLD_AT"
check "the installed file has its size" test "$(stat -c %s "$CLIENT/big.pak")" -eq "$TOTAL"
check "the installed file's checksum is the list's" test "$(sum_of "$CLIENT/big.pak")" = "$EXPECTED"
# A cut that moved the partial file on uses none of the file's tries.
check "the updater went on after the cut without using a try" \
  grep -qa "go on with big.pak: the cut try moved its partial file on (no try used)" "$CLIENT/update.log"
check "and logged no retry" bash -c '! grep -qa "retry [0-9]/3 of big.pak" "$0"' "$CLIENT/update.log"
restarted_checked() { [ "$(grep -ac 'list checked: 0 files to update' "$CLIENT/update.log")" -ge 1 ]; }
check "the restarted updater is up to date" wait_until 120 restarted_checked
# An installed file's record is only trusted 3 s after its write: the
# restart may read the two files the run installed once more, nothing else.
check "and read nothing but, at most, the files it installed" \
  grep -Eqa "checksums: 2 files, (2 from the cache, 0 read, 0 bytes read|0 from the cache, 2 read, $(( TOTAL + $(stat -c %s "$CLIENT/small.txt") )) bytes read)" "$CLIENT/update.log"
[ -n "${E2E_DEBUG:-}" ] && { cat "$WORK/relay.log"; cat "$NGINX_DIR/access.log"; iconv -f GBK -t UTF-8 "$CLIENT/update.log"; }
cp "$CLIENT/update.log" "$SHOTS/big-file-update.log"
end_updaters
rm -f "$CLIENT/big.pak"

# ---- the label of the held state, read against the harness --------------------
# The harness draws file 2 of 2 at the same counts: the held transfer's
# patch-size label ("[2/2]:4362076160/4504682496": small.txt is in, big.pak
# is shown) must look the same.
if [ -f "$HARNESS" ]; then
  read -r OX OY < <(echo 278 289)   # the window's corner: centred on the 1024x768 screen
  check "harness window open" harness_shot big-file-harness 2 "task=big.pak" files=2/2 "progress=$HOLD_AT/$TOTAL"
  cp "$WORK/big-file-harness.ppm" "$WORK/harness.ppm"
  at() { echo $((OX + $1)) $((OY + $2)); }
  check "the task label shows the file" $PROBE same "$WORK/live.ppm" "$WORK/harness.ppm" $(at 88 100) 248 18 8
  check "the patch-size label shows [2/2]:$HOLD_AT/$TOTAL" \
    $PROBE same "$WORK/live.ppm" "$WORK/harness.ppm" $(at 88 117) 248 18 8
  check "the bar is filled as the harness fills it" $PROBE same "$WORK/live.ppm" "$WORK/harness.ppm" $(at 22 163) 312 15 8
fi

stop_nginx
echo "   big-file test: $(( $(date +%s) - STARTED )) s, screenshot $SHOTS/big-file-past-4gib.png"
finish
