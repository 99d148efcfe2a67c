#!/usr/bin/env bash
# The checksum cache with the real updater.exe under Wine and nginx: a first
# start reads every listed file and writes update.sums; the next start reads
# nothing ("0 bytes read" in update.log); the launcher's /verify reads every
# file again; a changed file is found and fetched, the start after that
# update reads the file it installed once more (its record was made in the
# second it was written) and the next one nothing; a file changed in place
# with its time put back is trusted until the last full check is 7 days old,
# then every file is read and the change found.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup cache
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

CLIENT="$WORK/客户 端"
LOG="$CLIENT/update.log"
mkdir -p "$CLIENT"
# 60 files in nested folders, GBK names with blanks among them.
for i in $(seq 1 20); do
  random_file "$CLIENT/data/$i.bin" $(( i * 7 ))
  random_file "$CLIENT/数据 目录/地图 $i.dat" 3
  echo "line $i" >"$CLIENT/cfg $i.ini"
done
FILES=60
BYTES=$(find "$CLIENT" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
# Game files are old; a file written within a few seconds of its record is
# read again by design, so the test's fresh files are made old too.
find "$CLIENT" -type f -exec touch -d '1 hour ago' {} +
publish "$CLIENT" "$SERVER"
pack_updater "$CLIENT/$LAUNCHER"  # not a listed file

log_lines() {  # how many lines of update.log match
  [ -f "$LOG" ] || { echo 0; return; }
  grep -ac "$1" "$LOG" || true
}
checks_done() { [ "$(log_lines 'list checked: ')" -ge "$1" ]; }
# The checksums line of the Nth check of the log.
checksums_line() { iconv -f GBK -t UTF-8 "$LOG" | grep 'checksums: ' | sed -n "${1}p"; }
cache_line() { iconv -f GBK -t UTF-8 "$LOG" | grep 'checksum cache: ' | sed -n "${1}p"; }
run_launcher() {  # run_launcher [ARG]: one start, its check waited for
  local before; before="$(log_lines 'list checked: ')"
  (cd "$CLIENT" && timeout 120 wine "$LAUNCHER" "$@" >/dev/null 2>&1 &)
  wait_until 60 checks_done $(( before + 1 ))
}

# 1. No cache yet: every file is read.
check "the first start checks the list" run_launcher
check "the first start had no cache" grep -q 'none, full check' <<<"$(cache_line 1)"
check "the first start read all $FILES files, $BYTES bytes" \
  grep -q "checksums: $FILES files, 0 from the cache, $FILES read, $BYTES bytes read" <<<"$(checksums_line 1)"
check "update.sums was written beside update.dat" test -s "$CLIENT/update.sums"
check "the first start is up to date" grep -q 'list checked: 0 files to update' "$LOG"
end_updaters

# 2. The next start takes every file from the cache.
check "the second start checks the list" run_launcher
check "the second start read nothing (0 bytes read)" \
  grep -q "checksums: $FILES files, $FILES from the cache, 0 read, 0 bytes read" <<<"$(checksums_line 2)"
check "the second start left update.sums as it was" grep -q 'cache unchanged' <<<"$(checksums_line 2)"
shot cache-second-start
end_updaters

# 3. /verify on the launcher reads every file again.
check "a start with /verify checks the list" run_launcher /verify
check "the updater was started with /verify" grep -q 'not read (/verify), full check' <<<"$(cache_line 3)"
check "/verify read all $FILES files, $BYTES bytes" \
  grep -q "checksums: $FILES files, 0 from the cache, $FILES read, $BYTES bytes read" <<<"$(checksums_line 3)"
end_updaters

# 4. A changed file (its size kept) is read, found and fetched; the start
# after the update reads it once more.
: >"$NGINX_DIR/access.log"
CHANGED="data/7.bin"
python3 - "$CLIENT/$CHANGED" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    first = f.read(1)
    f.seek(0)
    f.write(bytes([first[0] ^ 0xFF]))
PY
run_launcher
check "the changed file was read and found" grep -q "$FILES files, $(( FILES - 1 )) from the cache, 1 read, $(( 7 * 7 * 1024 )) bytes read" <<<"$(checksums_line 4)"
check "the updater fetched it" wait_until 60 same_tree_files "$SERVER/patch/528" "$CLIENT" "$CHANGED"
check "exactly that file was requested" test "$(request_count '^/patch/528/data/7\.bin 200')" -eq 1
check "the restarted updater checked again" wait_until 60 checks_done 5
check "the start after the update read only the file it installed" \
  grep -q "checksums: $FILES files, $(( FILES - 1 )) from the cache, 1 read, $(( 7 * 7 * 1024 )) bytes read" <<<"$(checksums_line 5)"
check "and is up to date" test "$(log_lines 'list checked: 0 files to update')" -eq 4
end_updaters
# The restart came within 3 s of the install, so its record of the file it
# read again is itself within 3 s of the file's write: the next start may
# read that one file once more, and nothing else. Started 3 s after the
# write, its own record is trusted from then on (section 5 counts on that).
python3 - "$CLIENT/$CHANGED" <<'PY'
import os, sys, time
wait = os.stat(sys.argv[1]).st_mtime + 3.5 - time.time()
if wait > 0:
    time.sleep(min(wait, 10))
PY
run_launcher
check "the start after that read nothing but, at most, the installed file" \
  grep -Eq "checksums: $FILES files, ($FILES from the cache, 0 read, 0 bytes read|$(( FILES - 1 )) from the cache, 1 read, $(( 7 * 7 * 1024 )) bytes read)" <<<"$(checksums_line 6)"
end_updaters

# 5. A file changed in place with its size and time put back shows the facts
# of its record: trusted, until the last full check is 7 days old.
: >"$NGINX_DIR/access.log"
HIDDEN="data/3.bin"
python3 - "$CLIENT/$HIDDEN" <<'PY'
import os, sys
st = os.stat(sys.argv[1])
with open(sys.argv[1], "r+b") as f:
    f.write(b"\0\1\2\3")
os.utime(sys.argv[1], ns=(st.st_atime_ns, st.st_mtime_ns))
PY
run_launcher
check "a file changed with its time put back is taken from the cache" \
  grep -q "checksums: $FILES files, $FILES from the cache, 0 read" <<<"$(checksums_line 7)"
end_updaters
# update.sums keeps the time of the last full check at offset 40 (100-ns
# ticks): 8 days back, the header's FNV-1a over bytes 24.. made right again.
python3 - "$CLIENT/update.sums" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
assert data[:8] == b"UPDSUMS\x1a" and data[8:12] == b"\x02\0\0\0"
at = struct.unpack_from("<Q", data, 40)[0]
struct.pack_into("<Q", data, 40, at - 8 * 24 * 3600 * 10**7)
h = 14695981039346656037
for b in data[24:]:
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
struct.pack_into("<Q", data, 16, h)
open(sys.argv[1], "wb").write(bytes(data))
PY
run_launcher
check "a week after the last full check the log says so" \
  grep -q "checksum cache: $FILES records, the last full check 8 days ago, full check" <<<"$(cache_line 8)"
check "and every file was read" \
  grep -q "checksums: $FILES files, 0 from the cache, $FILES read, $BYTES bytes read" <<<"$(checksums_line 8)"
check "the file changed in place was found and fetched" wait_until 60 same_tree_files "$SERVER/patch/528" "$CLIENT" "$HIDDEN"
check "exactly that file was requested" test "$(request_count '^/patch/528/data/3\.bin 200')" -eq 1
[ -n "${E2E_DEBUG:-}" ] && iconv -f GBK -t UTF-8 "$LOG"
cp "$LOG" "$SHOTS/cache-update.log"
end_updaters

stop_nginx
rm -rf "$WORK"
finish
