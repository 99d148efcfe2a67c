# Helpers of the update-cycle tests (sourced after lib.sh), beyond the
# client and server helpers of scripts/wine_stage.sh: a signed updater and
# list, the scripted fault server, and checks on files and the log.

# build_signed_updater: the second updater of the tested tree (scripts/env.sh,
# built with the other builds by scripts/test; built here only when a script
# runs on its own), with two list keys made by patchtool keygen and two
# mirrors, $MIRROR_A (8088) then $MIRROR_B (8089), and a second game's
# updater with the same keys and mirrors (patch folder 529, product game-b).
# Sets SIGNED_UPDATER, SIGNED_UPDATER_B,
# LIST_KEY and LIST_KEY_2 (the secret key files) and LIST_PUBLIC_KEY (the
# first key's public half). The default builds keep the empty key and the
# one URL.
build_signed_updater() {
  LIST_KEY="$TEST_LIST_KEY"
  LIST_KEY_2="$TEST_LIST_KEY_2"
  SIGNED_UPDATER="$TEST_VARIANT_UPDATER"
  SIGNED_UPDATER_B="$TEST_VARIANT_UPDATER_B"
  if [ ! -f "$SIGNED_UPDATER" ] || [ ! -f "$SIGNED_UPDATER_B" ] || [ ! -s "$WIN_BUILD/test-list.pub" ] ||
     [ ! -s "$WIN_BUILD/test-list-2.pub" ]; then
    UPDATER_TEST_VARIANT=1 build_windows "$WIN_TARGET" || return 1
  fi
  LIST_PUBLIC_KEY="$(cat "$WIN_BUILD/test-list.pub")"
  [ -f "$SIGNED_UPDATER" ] && [ -f "$SIGNED_UPDATER_B" ] && [ -s "$LIST_KEY" ] && [ -s "$LIST_KEY_2" ]
}

# forget_list_sequence: drops the highest list sequence the signed updater
# keeps for the user (the registry of the Wine prefix, shared by every client
# folder and every run), so that a test starts from a client that never took
# a signed list. Each client's update.seq goes with its folder.
forget_list_sequence() {
  timeout 30 wine reg delete 'HKCU\Software\GameClientUpdater\ListKeys' /f >/dev/null 2>&1 || true
}

# publish_signed CLIENT_DIR SERVER_ROOT [patchtool options]: a signed release;
# the first one in a folder numbered 1 unless the options number it
# (patchtool asks for --sequence there).
publish_signed() {
  local client="$1" server="$2"; shift 2
  local folder=528 first=() a prev=
  for a in "$@"; do [ "$prev" = --folder ] && folder="$a"; prev="$a"; done
  if [ ! -f "$server/patch/$folder/filelist.txt" ] && [[ " $* " != *" --sequence "* ]]; then first=(--sequence 1); fi
  "$PATCHTOOL" publish "$client" "$server" --sign "$LIST_KEY" "${first[@]}" "$@" >/dev/null
}

# resign_list LIST KEYFILE SEQUENCE [EXPIRES]: the signed list again with
# another sequence and an expiry date (YYYY-MM-DD; none when empty), signed
# with KEYFILE: lists patchtool would not write (an expiry in the past).
resign_list() {
  python3 - "$@" <<'PY'
import sys
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
path, key_file, sequence = sys.argv[1:4]
expires = sys.argv[4] if len(sys.argv) > 4 else ""
data = open(path, "rb").read()
lines = data[:data.rindex(b"#ed25519#")].split(b"\r\n")
body = [l for l in lines if l and not l.startswith(b"#sequence#") and not l.startswith(b"#expires#")]
head = [b"#sequence#" + sequence.encode()] + ([b"#expires#" + expires.encode()] if expires else [])
signed = b"\r\n".join(head + body) + b"\r\n"
seed = bytes.fromhex(open(key_file).read().strip()[:64])
signature = Ed25519PrivateKey.from_private_bytes(seed).sign(signed)
open(path, "wb").write(signed + b"#ed25519#" + signature.hex().encode() + b"\r\n")
PY
}



# small_disk KIB: a tmpfs of KIB KiB at $DISK (under $WORK), unmounted and $WORK
# removed at exit; false where mounting is refused (it needs root).
small_disk() {
  DISK="$WORK/disk 磁盘"
  mkdir -p "$DISK"
  disk_cleanup() {
    stage_cleanup
    mountpoint -q "$DISK" && { umount "$DISK" 2>/dev/null || umount -l "$DISK"; }
    rm -rf "$WORK"
  }
  trap disk_cleanup EXIT
  mount -t tmpfs -o "size=${1}k,mode=0755" tmpfs "$DISK" 2>/dev/null
}

# click_close_button: the middle of the close button.
click_close_button() {
  local pos; pos="$(window_geometry)" || return 1
  set -- $pos
  xdotool mousemove $(( $1 + 450 )) $(( $2 + 15 )) click 1
}

same_tree_files() {  # same_tree_files A B FILE...: every FILE equal in both
  local a="$1" b="$2"; shift 2
  local f
  for f in "$@"; do cmp -s "$a/$f" "$b/$f" || return 1; done
}

# cycle_setup NAME: builds present, a display, the Wine prefix, and a work
# folder $WORK with an empty server root $SERVER (readable by nginx workers,
# which run as another user).
cycle_setup() {
  require_builds || exit 1
  start_display || exit 1
  prepare_wine
  WORK="$(mktemp -d "/tmp/updater-$1.XXXXXX")"
  chmod 755 "$WORK"
  SERVER="$WORK/server root"
  mkdir -p "$SERVER"
}

# start_fault_server SERVER_ROOT FAULTS_JSON [PORT]: the scripted update
# server on 127.0.0.1:PORT (8088) in place of nginx; its access log is
# $NGINX_DIR/access.log, so requests_of and request_count read it the same way.
start_fault_server() {
  local port="${3:-8088}"
  NGINX_DIR="$(mktemp -d /tmp/updater-faults.XXXXXX)"
  : >"$NGINX_DIR/access.log"
  python3 "$ROOT/tests/e2e/fault_server.py" "$1" "$port" "$2" "$NGINX_DIR/access.log" &
  FAULT_SERVER_PID=$!
  STAGE_PIDS+=("$FAULT_SERVER_PID")
  server_up() { python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$port" 2>/dev/null; }
  wait_until 10 server_up
}

stop_fault_server() {
  [ -n "${FAULT_SERVER_PID:-}" ] && kill "$FAULT_SERVER_PID" 2>/dev/null
  wait "$FAULT_SERVER_PID" 2>/dev/null
  FAULT_SERVER_PID=
}

# log_has_in_order FILE PATTERN...: every pattern (grep -E) matches a line of
# FILE, each on a later line than the one before.
log_has_in_order() {
  local file="$1"; shift
  python3 - "$file" "$@" <<'PY'
import re, sys
lines = open(sys.argv[1], encoding="gbk", errors="replace").read().splitlines()
at = 0
for pattern in sys.argv[2:]:
    while at < len(lines) and not re.search(pattern, lines[at]):
        at += 1
    if at == len(lines):
        print("not found in order: %s" % pattern)
        sys.exit(1)
    at += 1
PY
}
