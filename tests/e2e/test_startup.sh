#!/usr/bin/env bash
# Start-up roles of the real updater.exe under Wine, from a folder whose path
# holds blanks and Chinese characters: the launcher rewrites update.dat and
# starts it with "gxin" and its own name; a wrong marker ends at once; a
# read-only launcher and update.dat (a client copied from a disc) still start.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"

UPDATER="$WIN_BUILD/app/updater.exe"
[ -f "$UPDATER" ] || { echo "missing $UPDATER"; exit 1; }
start_display || exit 1
prepare_wine

WORK="$(mktemp -d /tmp/updater-startup.XXXXXX)"
CLIENT="$WORK/客户 端 目录"
mkdir -p "$CLIENT"
LAUNCHER="启动 器.exe"
cp "$UPDATER" "$CLIENT/$LAUNCHER"
cd "$CLIENT"

updater_running_as() {  # the Wine process title is the Windows command line
  ps -eo args | grep -F "update.dat gxin $1" | grep -qv grep
}

# 1. No arguments: the launcher role.
echo "stale" >update.dat
timeout 30 wine "$LAUNCHER"
check "launcher ends with exit code 0" test $? -eq 0
check "update.dat is byte-identical to the launcher" cmp -s update.dat "$LAUNCHER"
check "the copy runs with gxin and the launcher's full name" wait_until 15 updater_running_as "$LAUNCHER"
check "the copy opens the updater window" wait_until 20 has_window
shot startup-updater-role
end_updaters

# 2. The single argument gxin is still the launcher role.
rm -f update.dat
timeout 30 wine "$LAUNCHER" gxin
check "a single gxin rewrites update.dat" cmp -s update.dat "$LAUNCHER"
check "and starts the copy" wait_until 15 updater_running_as "$LAUNCHER"
end_updaters

# 3. A wrong marker ends at once, without a window.
timeout 30 wine update.dat GXIN "$LAUNCHER"
check "wrong marker ends with exit code 0" test $? -eq 0
sleep 1
check "wrong marker opens no window" not has_window
check "wrong marker starts nothing" no_updater

# 4. Three arguments: the updater role; the third is ignored.
(timeout 60 wine update.dat gxin "$LAUNCHER" extra >/dev/null 2>&1 &)
check "gxin, name and a third word open the updater window" wait_until 20 has_window
end_wine
end_updaters

# 5. A client copied from a disc: the launcher is read-only, and so is the
# update.dat an earlier start made from it (Windows copies the attribute).
# Every start replaces the copy and the updater runs; the copy made is never
# read-only.
writable_by_windows() { [ $(( 0$(stat -c %a "$1") & 0200 )) -ne 0 ]; }
echo "copy of an earlier start" >update.dat
chmod a-w update.dat "$LAUNCHER"
for start in 1 2; do
  timeout 30 wine "$LAUNCHER"
  check "[read-only, start $start] update.dat is replaced by the launcher" cmp -s update.dat "$LAUNCHER"
  check "[read-only, start $start] the copy is not read-only" writable_by_windows update.dat
  check "[read-only, start $start] the updater runs" wait_until 15 updater_running_as "$LAUNCHER"
  check "[read-only, start $start] its window opens" wait_until 20 has_window
  [ "$start" = 1 ] && shot startup-read-only-update-dat
  end_updaters
  chmod a-w update.dat  # as an earlier start from a read-only copy would leave it
done
chmod u+w "$LAUNCHER" update.dat

cd / && rm -rf "$WORK"
finish
