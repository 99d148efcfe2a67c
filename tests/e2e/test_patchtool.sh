#!/usr/bin/env bash
# patchtool as an operator runs it, native and the Windows build under Wine:
# the file list of a client tree with Chinese names, blanks, nested folders
# and an empty file, byte for byte against an independent computation; both
# builds agree on every output; publish lays out a folder nginx serves to
# `patchtool fetch`; pack, inspect and extract round-trip; errors exit non-zero
# with a message.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"

NATIVE_TOOL="$NATIVE_BUILD/tools/patchtool"
WIN_TOOL="$WIN_BUILD/tools/patchtool.exe"
WORK="$(mktemp -d /tmp/updater-patchtool-e2e.XXXXXX)"
chmod 755 "$WORK"
trap 'rm -rf "$WORK"; stage_cleanup' EXIT

native() { "$NATIVE_TOOL" "$@"; }
win() { wine "$WIN_TOOL" "$@"; }

# ---- a client tree
CLIENT="$WORK/client"
mkdir -p "$CLIENT/data/map" "$CLIENT/数据/地图 一" "$CLIENT/empty folder"
printf 'abc' >"$CLIENT/Zeta.txt"
printf 'hello world' >"$CLIENT/my file.txt"
: >"$CLIENT/empty.dat"
head -c 300001 /dev/urandom >"$CLIENT/data/map/town.dat"
head -c 9000000 /dev/urandom >"$CLIENT/数据/地图 一/大 文件.pak"
printf 'a' >"$CLIENT/数据/说明.txt"
printf 'x' >"$CLIENT/data/game.dat"          # only the top-level one is skipped
printf 'self' >"$CLIENT/update.dat"
printf 'game' >"$CLIENT/game.dat"
printf 'log' >"$CLIENT/update.log"
printf 'part' >"$CLIENT/data/map/town.dat.tmp"

# The expected list, computed apart from the tool: the per-byte loop from the
# last byte, GBK paths with "\", sorted by their bytes, CR LF after each line.
python3 - "$CLIENT" >"$WORK/expected.txt" <<'PY'
import os, sys
root = sys.argv[1]
lines = []
for folder, _, files in os.walk(root):
    for name in files:
        rel = os.path.relpath(os.path.join(folder, name), root)
        if rel.lower() in ("update.dat", "game.dat", "update.log") or name.lower().endswith(".tmp"):
            continue
        h = 0
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        for b in reversed(data):
            h = (h * 31 + b + 1) & 0xFFFFFFFF
        if h >= 1 << 31:
            h -= 1 << 32
        lines.append(rel.replace("/", "\\").encode("gbk") + b"#" + str(h).encode() + b"\r\n")
sys.stdout.buffer.write(b"".join(sorted(lines)))
PY

# ---- manifest
native manifest "$CLIENT" -o "$WORK/native.txt" >/dev/null
check "native manifest exits 0" test $? -eq 0
check "native manifest is the expected list, byte for byte" cmp -s "$WORK/native.txt" "$WORK/expected.txt"
check "the list holds the 7 client files" test "$(grep -c $'\r$' "$WORK/native.txt")" -eq 7

ensure_wineprefix
(cd "$WORK" && win manifest "$CLIENT" -o win.txt >/dev/null)
check "Windows manifest exits 0" test $? -eq 0
check "Windows manifest equals the native one" cmp -s "$WORK/win.txt" "$WORK/expected.txt"

# ---- checksum: both builds print the same
native checksum "$CLIENT/Zeta.txt" "$CLIENT/数据/说明.txt" >"$WORK/sum-native.txt"
(cd "$CLIENT" && win checksum Zeta.txt 数据/说明.txt) | tr -d '\r' >"$WORK/sum-win.txt"
check "checksum of abc is 99267" grep -q '^99267  ' "$WORK/sum-native.txt"
check "native and Windows checksum agree" \
  test "$(cut -d' ' -f1 "$WORK/sum-native.txt")" = "$(cut -d' ' -f1 "$WORK/sum-win.txt")"

# ---- errors
native checksum "$WORK/none.bin" >/dev/null 2>"$WORK/err.txt"
check "checksum of a missing file exits 1 naming it" \
  bash -c '[ $0 -eq 1 ] && grep -q "none.bin" "$1"' $? "$WORK/err.txt"
BAD="$WORK/bad"
mkdir -p "$BAD"
printf 'x' >"$BAD/smile-😀.txt"
native manifest "$BAD" -o "$WORK/bad.txt" >/dev/null 2>"$WORK/err.txt"
check "native manifest refuses a name GBK cannot hold" \
  bash -c '[ $0 -eq 1 ] && grep -q "GBK.*smile-😀.txt" "$1" && [ ! -e "$2" ]' $? "$WORK/err.txt" "$WORK/bad.txt"
win manifest "$BAD" -o "$WORK/bad-win.txt" >/dev/null 2>"$WORK/err.txt"
check "Windows manifest refuses it too" \
  bash -c '[ $0 -eq 1 ] && grep -q "smile-" "$1" && [ ! -e "$2" ]' $? "$WORK/err.txt" "$WORK/bad-win.txt"
printf 'x' >"$BAD/a#b.txt"; rm -f "$BAD/smile-😀.txt"
native manifest "$BAD" -o "$WORK/bad.txt" >/dev/null 2>"$WORK/err.txt"
check "manifest refuses a \"#\" in a name" bash -c '[ $0 -eq 1 ] && grep -q "a#b.txt" "$1"' $? "$WORK/err.txt"
native frobnicate >/dev/null 2>&1
check "an unknown command exits 2" test $? -eq 2

# ---- publish, twice, and served by nginx to the download engine
native publish "$CLIENT" "$WORK/srv" >"$WORK/pub1.txt"
check "publish exits 0" test $? -eq 0
check "published list equals the manifest" cmp -s "$WORK/srv/patch/528/filelist.txt" "$WORK/expected.txt"
check "published files are the client's" \
  bash -c 'diff -r -x update.dat -x game.dat -x update.log -x "*.tmp" -x "empty folder" "$0" "$1/patch/528" | grep -v "^Only in $1/patch/528: filelist.txt" | grep -q . && exit 1 || exit 0' \
  "$CLIENT" "$WORK/srv"
check "data/game.dat is published, top-level game.dat is not" \
  bash -c 'test -f "$0/patch/528/data/game.dat" && test ! -e "$0/patch/528/game.dat"' "$WORK/srv"
native publish "$CLIENT" "$WORK/srv" >"$WORK/pub2.txt" 2>"$WORK/pub2-err.txt"
check "a second publish copies nothing" grep -q "0 copied, 7 unchanged; list unchanged" "$WORK/pub2.txt"
check "and says so" grep -q "nothing to publish: the server already holds this client" "$WORK/pub2.txt"
check "off a terminal no progress is written" test ! -s "$WORK/pub2-err.txt"
# On a terminal (a pseudo-terminal from script(1)) the same commands draw
# their progress on one line, ending with the totals.
on_terminal() { script -qfec "$(printf '%q ' "$@")" /dev/null; }
on_terminal "$NATIVE_TOOL" manifest "$CLIENT" -o "$WORK/tty-list.txt" >"$WORK/tty-manifest.txt"
check "on a terminal manifest draws its progress line" \
  grep -qaE $'\rchecksums: 7/7 files, [0-9.]+/[0-9.]+ MiB, ' "$WORK/tty-manifest.txt"
check "the list written is the same" cmp -s "$WORK/tty-list.txt" "$WORK/expected.txt"
on_terminal "$NATIVE_TOOL" publish "$CLIENT" "$WORK/srv" >"$WORK/tty-publish.txt"
check "on a terminal publish draws both its phases" \
  bash -c 'grep -qa "checksums: 7/7 files" "$0" && grep -qa "publish: 7/7 files" "$0"' "$WORK/tty-publish.txt"
printf 'changed' >"$CLIENT/my file.txt"
native publish "$CLIENT" "$WORK/srv" >"$WORK/pub3.txt"
check "a changed file is copied again" grep -q "1 copied, 6 unchanged; list updated" "$WORK/pub3.txt"
win publish "$CLIENT" "$WORK/srv-win" --folder 9 >/dev/null
check "Windows publish lays out the same tree" diff -r "$WORK/srv/patch/528" "$WORK/srv-win/patch/9"

# ---- compressed copies: named in the list by their SHA-256, read back by the
# zstd tool, the same from the Windows build (its cross-built libzstd)
FORMS_CLIENT="$WORK/forms-client"
mkdir -p "$FORMS_CLIENT/数据"
python3 -c 'import sys; sys.stdout.write("".join("row %d of the table\n" % (i % 733) for i in range(60000)))' \
  >"$FORMS_CLIENT/数据/表 一.txt"
head -c 100000 /dev/urandom >"$FORMS_CLIENT/noise.bin"
native publish "$FORMS_CLIENT" "$WORK/srv-forms" >"$WORK/forms1.txt"
form_line="$(grep -a '^#form#zstd#' "$WORK/srv-forms/patch/528/filelist.txt" | tr -d '\r')"
form_name="${form_line##*#}"
check "the list names one compressed copy" test "$(grep -ac '^#form#' "$WORK/srv-forms/patch/528/filelist.txt")" = 1
check "the copy is named by its SHA-256" \
  test "$(sha256sum <"$WORK/srv-forms/$form_name" | cut -d' ' -f1).zst" = "$(basename "$form_name")"
check "the zstd tool reads it back to the file" \
  bash -c 'zstd -qdc "$0" | cmp -s - "$1"' "$WORK/srv-forms/$form_name" "$FORMS_CLIENT/数据/表 一.txt"
check "publish says what the copy saves and what got none" \
  bash -c 'grep -q "saves 9[0-9].[0-9]%" "$0" && grep -q "no compressed copy of noise.bin" "$0"' "$WORK/forms1.txt"
win publish "$FORMS_CLIENT" "$WORK/srv-forms-win" >/dev/null
check "Windows publish writes the same list and copy" diff -r "$WORK/srv-forms/patch" "$WORK/srv-forms-win/patch"

if command -v nginx >/dev/null 2>&1; then
  PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  if start_nginx "$WORK/srv" "$PORT"; then
    wait_until 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null
    (cd "$WORK" && native fetch "http://127.0.0.1:$PORT/patch/528/数据/地图 一/大 文件.pak" fetched.pak >/dev/null 2>&1)
    check "a published Chinese name with blanks downloads intact" cmp -s "$WORK/fetched.pak" "$CLIENT/数据/地图 一/大 文件.pak"
    stop_nginx
  else
    check "nginx starts" false
  fi
fi

# ---- pack, inspect, extract
head -c 999424 /dev/urandom >"$WORK/updater.exe"
head -c 352256 /dev/urandom >"$WORK/game-image.bin"
head -c 618473 /dev/urandom >"$WORK/game-data.bin"
(cat "$WORK/game-image.bin" "$WORK/game-data.bin"; printf '      618473#!@') >"$WORK/game.exe"
native pack "$WORK/updater.exe" "$WORK/game.exe" -o "$WORK/packed.exe" >/dev/null
check "pack exits 0" test $? -eq 0
check "packed file is updater + game + trailer" \
  bash -c 'cmp -s "$0" <(cat "$1" "$2"; printf "      970744#!@")' "$WORK/packed.exe" "$WORK/updater.exe" "$WORK/game.exe"
check "packed file has the shipped size" test "$(stat -c %s "$WORK/packed.exe")" -eq 1970183
native inspect "$WORK/packed.exe" >"$WORK/inspect.txt"
cat "$WORK/inspect.txt"
check "inspect shows the trailer" grep -qF 'trailer: "      970744#!@"' "$WORK/inspect.txt"
check "inspect shows size and offset" grep -qF 'payload: 970744 bytes at offset 999424' "$WORK/inspect.txt"
check "inspect shows the nested trailer" grep -qF 'nested payload: 618473 bytes at offset 1351680' "$WORK/inspect.txt"
check "extracting by the trailer gives the game back" \
  bash -c 'cmp -s "$1" <(tail -c +999425 "$0" | head -c 970744)' "$WORK/packed.exe" "$WORK/game.exe"
(cd "$WORK" && win pack updater.exe game.exe -o packed-win.exe >/dev/null)
check "Windows pack writes the same file" cmp -s "$WORK/packed.exe" "$WORK/packed-win.exe"
(cd "$WORK" && win inspect packed-win.exe) | tr -d '\r' | sed 1d >"$WORK/inspect-win.txt"
check "Windows inspect says the same" bash -c 'diff <(sed 1d "$0") "$1" >/dev/null' "$WORK/inspect.txt" "$WORK/inspect-win.txt"
native inspect "$WORK/updater.exe" >"$WORK/inspect-none.txt"
check "a file without trailer says so" grep -q "trailer: none" "$WORK/inspect-none.txt"
native pack "$WORK/updater.exe" "$WORK/none.exe" -o "$WORK/p2.exe" >/dev/null 2>"$WORK/err.txt"
check "pack with a missing game exits 1 and writes nothing" \
  bash -c '[ $0 -eq 1 ] && grep -q "none.exe" "$1" && [ ! -e "$2" ]' $? "$WORK/err.txt" "$WORK/p2.exe"

# Both real updater builds take a payload the same way, whichever build packs.
for tree in "$WIN32_BUILD" "$WIN64_BUILD"; do
  real="$tree/app/updater.exe"
  [ -f "$real" ] || { check "updater built in $tree" false; continue; }
  size=$(stat -c %s "$real")
  arch="$(basename "$tree")"
  (cd "$WORK" && win pack "$real" game.exe -o "real-$arch.exe" >/dev/null)
  check "$arch updater packed by the Windows tool is updater + game + trailer" \
    bash -c 'cmp -s "$0" <(cat "$1" "$2"; printf "%12d#!@" "$3")' \
    "$WORK/real-$arch.exe" "$real" "$WORK/game.exe" "$(stat -c %s "$WORK/game.exe")"
  native inspect "$WORK/real-$arch.exe" >"$WORK/inspect-$arch.txt"
  check "inspect finds the payload after the $arch image" \
    grep -qF "payload: 970744 bytes at offset $size" "$WORK/inspect-$arch.txt"
done

finish
