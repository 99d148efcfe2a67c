#!/usr/bin/env bash
# A full disk, with the real updater under Wine and a small tmpfs as the
# client folder:
#   [cut copy]   room for the launcher but not for its copy: the copy to
#                update.dat breaks off; it never runs: the launcher removes it
#                and a message box says the disk is full and how much room is
#                still needed; no updater starts, nothing else changes;
#   [full start] update.dat in place and the disk otherwise full: the new copy
#                fits where the old one was, the updater starts, and its write
#                check says the disk is full (never "目录不可写"); nothing is
#                fetched, nothing changes.
# Mounting needs root: where it is refused the cases are skipped, not counted.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup diskfull
DISK="$WORK/disk 磁盘"
mkdir -p "$DISK"
# tmpfs_client KIB: a fresh tmpfs of that size at $DISK.
tmpfs_client() {
  mountpoint -q "$DISK" && { end_wine; umount "$DISK" || umount -l "$DISK"; }
  mount -t tmpfs -o "size=$1k,mode=0755" tmpfs "$DISK"
}
disk_full_cleanup() {
  stage_cleanup
  mountpoint -q "$DISK" && { umount "$DISK" 2>/dev/null || umount -l "$DISK"; }
  rm -rf "$WORK"
}
trap disk_full_cleanup EXIT
if ! tmpfs_client 1024 2>/dev/null; then
  echo "SKIP test_disk_full: mounting a tmpfs is refused here (needs root)"
  finish
  exit $?
fi
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }

box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
log_shows() { grep -a -q -- "$1" "$DISK/update.log" 2>/dev/null; }
tree_state() { (cd "$1" && find . -type f ! -name update.log ! -name filler -print0 | sort -z | xargs -0 -r sha256sum); }
# fill_disk: takes every free page of the tmpfs (then nothing more fits).
fill_disk() { dd if=/dev/zero of="$DISK/filler" bs=4096 >/dev/null 2>&1; [ "$(df --output=avail -B1 "$DISK" | tail -1)" -eq 0 ]; }

PACKED="$WORK/packed.exe"
pack_updater "$PACKED"
SIZE_KIB=$(( ($(stat -c %s "$PACKED") + 4095) / 4096 * 4 ))

# ---- [cut copy] ---------------------------------------------------------------
# Room for the launcher and half of it again.
tmpfs_client $(( SIZE_KIB + SIZE_KIB / 2 ))
cp "$PACKED" "$DISK/$LAUNCHER"
echo "v1" >"$DISK/readme.txt"
RELEASE="$WORK/release"; mkdir -p "$RELEASE"; cp "$DISK/readme.txt" "$RELEASE/"
publish "$RELEASE" "$SERVER"
: >"$NGINX_DIR/access.log"
before="$(tree_state "$DISK")"
start_launcher "$DISK" zh_CN.UTF-8
check "[cut copy] a message box says what went wrong" wait_until 60 box_open "发生错误"
sleep 1
shot disk-full-copy
check "[cut copy] the log says the disk is full" log_shows "launcher: copy to update.dat failed, the disk is full"
check "[cut copy] the cut copy is gone" test ! -e "$DISK/update.dat"
check "[cut copy] no updater runs" no_updater
check "[cut copy] nothing asked of the server" test "$(request_count .)" -eq 0
check "[cut copy] the client is as it was" test "$(tree_state "$DISK")" = "$before"
xdotool search --onlyvisible --name "发生错误" windowactivate --sync >/dev/null 2>&1
xdotool key Return
box_gone() { ! box_open "发生错误"; }
check "[cut copy] OK closes the box and the launcher ends" wait_until 10 box_gone
reset_run

# ---- [full start] -------------------------------------------------------------
tmpfs_client $(( SIZE_KIB * 2 + 64 ))
cp "$PACKED" "$DISK/$LAUNCHER"; cp "$PACKED" "$DISK/update.dat"
echo "a v1" >"$DISK/a.txt"
# A log with room left in its last page: its lines still fit on the full disk.
echo "earlier run" >"$DISK/update.log"
rm -rf "$RELEASE" "$SERVER/patch"; mkdir -p "$RELEASE"; echo "a v2" >"$RELEASE/a.txt"
publish "$RELEASE" "$SERVER"
check "[full start] the disk is full" fill_disk
: >"$NGINX_DIR/access.log"
before="$(tree_state "$DISK")"
start_launcher "$DISK" zh_CN.UTF-8
check "[full start] the write check says the disk is full" \
  wait_until 60 log_shows "write check: the client folder's disk is full, error 112"
sleep 2
shot disk-full-start
check "[full start] not taken for a folder that cannot be written" not log_shows "cannot be written"
check "[full start] the updater stays with its window" test -n "$(window_id)" -a "$(updater_processes)" -eq 1
check "[full start] no patch file was requested" test "$(request_count '^/patch/528/a')" -eq 0
check "[full start] the client is as it was" test "$(tree_state "$DISK")" = "$before"
reset_run

finish
