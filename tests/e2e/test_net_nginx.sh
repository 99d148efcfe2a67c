#!/usr/bin/env bash
# The download engine against a real nginx on 127.0.0.1 (a free port, its own
# prefix), through `patchtool fetch`, native and the Windows build under Wine:
# a fresh multi-megabyte download, a resumed one (nginx answers 206), a 404,
# a partial file that is already complete (nginx answers 416 with its size:
# it is installed without a body), a stale partial file longer than the file
# (416: dropped, and the same fetch starts over), a download killed half-way
# and run again (the partial file is resumed), and a file whose Chinese name
# with a blank must be escaped. Every result must be byte-identical.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"

NATIVE_TOOL="$NATIVE_BUILD/tools/patchtool"
WIN_TOOL="$WIN_BUILD/tools/patchtool.exe"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

WORK="$(mktemp -d /tmp/updater-net-e2e.XXXXXX)"
chmod 755 "$WORK"  # nginx workers read as an unprivileged user
SERVE="$WORK/serve"
mkdir -p "$SERVE/patch/528" "$SERVE/slow"
GBK_NAME="中文 补丁.dat"
head -c 8388613 /dev/urandom >"$SERVE/patch/528/big.bin"
head -c 300007 /dev/urandom >"$SERVE/patch/528/$GBK_NAME"
head -c 6000011 /dev/urandom >"$SERVE/slow/slow.bin"

PORT="$(free_port)"
start_nginx "$SERVE" "$PORT" "location /slow/ { limit_rate 1m; }" || { echo "nginx did not start"; echo "0 passed, 1 failed"; exit 1; }
wait_until 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null
BASE="http://127.0.0.1:$PORT/patch/528"

last_status() {  # the status nginx logged for the last request of a URI
  grep -F "$1 " "$NGINX_DIR/access.log" | tail -1 | awk '{print $2}'
}

# run_suite LABEL COMMAND...: the cases with one build of patchtool; each
# fetch is bounded by a time-out.
run_suite() {
  local label="$1"; shift
  local dir="$WORK/$label"
  mkdir -p "$dir"
  cd "$dir" || return

  timeout 120 "$@" fetch "$BASE/big.bin" big.bin >out.txt 2>err.txt
  check "$label: fresh download exits 0 and prints Ok" \
    bash -c '[ $0 -eq 0 ] && tr -d "\r" <out.txt | grep -qx "Ok"' $?
  check "$label: fresh download is byte-identical" cmp -s big.bin "$SERVE/patch/528/big.bin"
  check "$label: fresh download left no partial file" test ! -e big.bin.tmp
  check "$label: fresh request was answered 200" test "$(last_status /patch/528/big.bin)" = 200

  head -c 3000000 "$SERVE/patch/528/big.bin" >resumed.bin.tmp
  timeout 120 "$@" fetch "$BASE/big.bin" resumed.bin >out.txt 2>err.txt
  check "$label: resumed download exits 0" test $? -eq 0
  check "$label: resumed download is byte-identical" cmp -s resumed.bin "$SERVE/patch/528/big.bin"
  check "$label: resume asked for bytes=3000000- and got 206" \
    grep -q '^/patch/528/big.bin 206 "bytes=3000000-"' "$NGINX_DIR/access.log"

  echo "old" >missing.bin
  timeout 120 "$@" fetch "$BASE/missing.bin" missing.bin >out.txt 2>err.txt
  check "$label: 404 exits 1 naming BadStatus" \
    bash -c '[ $0 -eq 1 ] && grep -q "BadStatus" err.txt' $?
  check "$label: 404 leaves the old file and no partial file" \
    bash -c '[ "$(cat missing.bin)" = old ] && [ ! -e missing.bin.tmp ]'

  cp "$SERVE/patch/528/big.bin" done.bin.tmp
  : >"$NGINX_DIR/access.log"
  timeout 120 "$@" fetch "$BASE/big.bin" done.bin >out.txt 2>err.txt
  check "$label: complete partial file gets 416 and is installed" test $? -eq 0
  check "$label: the installed file is byte-identical, no partial file left" \
    bash -c 'cmp -s done.bin "$0" && test ! -e done.bin.tmp' "$SERVE/patch/528/big.bin"
  check "$label: nothing of it was sent again" \
    grep -q '^/patch/528/big.bin 416 "bytes='"$(stat -c %s "$SERVE/patch/528/big.bin")"'-" ' "$NGINX_DIR/access.log"

  { cat "$SERVE/patch/528/big.bin"; printf 'stale tail'; } >stale.bin.tmp
  : >"$NGINX_DIR/access.log"
  timeout 120 "$@" fetch "$BASE/big.bin" stale.bin >out.txt 2>err.txt
  check "$label: a partial file longer than the file is dropped and the same fetch completes" \
    bash -c '[ $0 -eq 0 ] && test ! -e stale.bin.tmp' $?
  check "$label: the file fetched again from byte 0 is byte-identical" cmp -s stale.bin "$SERVE/patch/528/big.bin"
  check "$label: the stale range got 416, the whole file 200" \
    bash -c 'grep -q "^/patch/528/big.bin 416 " "$0" && grep -q "^/patch/528/big.bin 200 " "$0"' "$NGINX_DIR/access.log"

  timeout 120 "$@" fetch "$BASE/$GBK_NAME" "$GBK_NAME" >out.txt 2>err.txt
  check "$label: Chinese name with a blank exits 0" test $? -eq 0
  check "$label: Chinese name download is byte-identical" cmp -s "$GBK_NAME" "$SERVE/patch/528/$GBK_NAME"
  check "$label: the name went out as escaped UTF-8" \
    grep -q '^/patch/528/%E4%B8%AD%E6%96%87%20%E8%A1%A5%E4%B8%81.dat 200' "$NGINX_DIR/access.log"
  # Killed half-way: the partial file stays and the next run asks for the rest.
  # Started directly (no time-out wrapper) so that the kill reaches the tool.
  "$@" fetch "http://127.0.0.1:$PORT/slow/slow.bin" slow.bin >out.txt 2>err.txt &
  local pid=$!
  wait_until 20 test -s slow.bin.tmp
  sleep 1
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  local kept
  kept=$(stat -c %s slow.bin.tmp 2>/dev/null || echo 0)
  check "$label: a killed download leaves part of the file ($kept bytes)" \
    bash -c '[ $0 -gt 0 ] && [ $0 -lt 6000011 ] && [ ! -e slow.bin ]' "$kept"
  check "$label: the part is the start of the file" \
    cmp -s slow.bin.tmp <(head -c "$kept" "$SERVE/slow/slow.bin")
  timeout 120 "$@" fetch "http://127.0.0.1:$PORT/slow/slow.bin" slow.bin >out.txt 2>err.txt
  check "$label: the next run completes it" test $? -eq 0
  check "$label: the completed file is byte-identical" cmp -s slow.bin "$SERVE/slow/slow.bin"
  check "$label: the next run asked for the rest" \
    grep -q "^/slow/slow.bin 206 \"bytes=$kept-\"" "$NGINX_DIR/access.log"
  rm -f big.bin resumed.bin done.bin.tmp slow.bin
  cd "$WORK" || return
}

if [ -x "$NATIVE_TOOL" ]; then
  run_suite native "$NATIVE_TOOL"
else
  check "native patchtool exists ($NATIVE_TOOL)" false
fi

if [ -f "$WIN_TOOL" ]; then
  ensure_wineprefix
  # Log lines of the two runs are told apart by their order: clear the log.
  : >"$NGINX_DIR/access.log"
  run_suite wine wine "$WIN_TOOL"
else
  check "Windows patchtool exists ($WIN_TOOL)" false
fi

stop_nginx
[ "${KEEP_WORK:-}" ] || rm -rf "$WORK" "$NGINX_DIR"
finish
