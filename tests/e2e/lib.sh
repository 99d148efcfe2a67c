# Shared helpers of the end-to-end scripts (sourced after scripts/env.sh):
# the machine-wide turn, the pass/fail tally and pixel probes, over the
# stage of scripts/wine_stage.sh (display, Wine, nginx, screenshots, the
# client and the launcher), which scripts/demo uses as well.
#
# Map: test_net_nginx, test_patchtool, test_startup, test_window source scripts/env.sh, lib.sh.
#      test_list_keys, test_mirrors, test_signed_list source env.sh, cycle_lib.sh (signed updater first), lib.sh.
#      Every other test_*.sh sources env.sh, lib.sh, cycle_lib.sh; lib.sh sources wine_stage.sh.

# The servers of these tests listen on fixed ports (the updater's own is
# 8088): end-to-end runs on one machine take turns. The script runs again
# under the lock; -o keeps the lock out of the servers and Wine it starts.
if [ -z "${UPDATER_E2E_LOCKED:-}" ]; then
  export UPDATER_E2E_LOCKED=1 UPDATER_E2E_LOCK_ASKED="$(date +%s)"
  exec flock -o -w 3600 /tmp/updater-e2e.lock bash "$0" "$@"
fi
# scripts/test reads this line to tell the test's own time from the wait.
[ -n "${UPDATER_E2E_LOCK_ASKED:-}" ] && echo "e2e lock: waited $(( $(date +%s) - UPDATER_E2E_LOCK_ASKED )) s"

E2E_PASS=0
E2E_FAIL=0

check() {  # check "description" command...
  local what="$1"; shift
  if "$@"; then E2E_PASS=$((E2E_PASS + 1)); echo "ok   $what"
  else E2E_FAIL=$((E2E_FAIL + 1)); echo "FAIL $what"; [ "$E2E_FAIL" -eq 1 ] && failure_context; fi
  return 0
}
# The first failure of a script also shows the client's last log lines and
# Wine's last output of a launcher start: all that CI keeps of a run.
failure_context() {
  if [ -n "${CLIENT:-}" ] && [ -f "$CLIENT/update.log" ]; then
    iconv -f GBK -t UTF-8 -c "$CLIENT/update.log" | tail -n 6 | sed 's/^/     update.log: /'
  fi
  [ -s "${LAUNCH_LOG:-}" ] && tail -n 8 "$LAUNCH_LOG" | sed 's/^/     wine: /'
}

finish() {
  echo "$E2E_PASS passed, $E2E_FAIL failed"
  [ "$E2E_FAIL" -eq 0 ]
}

source "$ROOT/scripts/wine_stage.sh"

pixel() {  # pixel FILE X Y -> "R,G,B"
  /usr/bin/convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)],%[fx:int(255*p{'"$2"','"$3"'}.g)],%[fx:int(255*p{'"$2"','"$3"'}.b)]' info: 2>/dev/null
}

# Number of updater processes (update.dat) running under Wine.
updater_processes() {
  ps -eo args | grep -c '[u]pdate\.dat gxin' || true
}
no_updater() { [ "$(updater_processes)" -eq 0 ]; }
# Ends every program of this Wine prefix and waits until no updater is left.
end_updaters() { end_wine; wait_until 10 no_updater; }
# Between two runs against nginx: no updater left, an empty access log.
reset_run() { end_updaters; : >"$NGINX_DIR/access.log"; }

# ---- the window harness -----------------------------------------------------------
# tests/ui/window_harness.exe: the updater's window with test bindings and no
# network, drawing the state its arguments give (task=, files=, progress=, ...).
HARNESS="$WIN_BUILD/tests/ui/window_harness.exe"
HARNESS_PID=""
# start_harness DIR ARGS...: started in DIR (Wine's output in DIR/wine.log),
# in the caller's locale; it quits by itself after 90 s.
start_harness() {
  local dir="$1"; shift
  mkdir -p "$dir"
  (cd "$dir" && exec wine "$HARNESS" quit_after=90 "$@" >"$dir/wine.log" 2>&1) &
  HARNESS_PID=$!
}
# stop_harness: ends it and waits until its window is gone, so that the next
# window found is not this one's.
stop_harness() {
  if [ -n "$HARNESS_PID" ] && kill -0 "$HARNESS_PID" 2>/dev/null; then
    kill "$HARNESS_PID" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$HARNESS_PID" 2>/dev/null || break; sleep 0.1; done
    wait "$HARNESS_PID" 2>/dev/null
  fi
  HARNESS_PID=""
  wait_until 20 not harness_window_left
}
# Any window of the updater's title, shown or not (a minimised one too).
harness_window_left() { xdotool search --name "版本更新" >/dev/null 2>&1; }
# harness_shot NAME SECONDS ARGS...: the harness drawing ARGS in the locale of
# the real runs (the default GUI font follows it), the pointer out of the way,
# shot SECONDS after its window opened as $SHOTS/NAME.png and $WORK/NAME.ppm,
# then ended. False when no window opened.
harness_shot() {
  local name="$1" settle="$2"; shift 2
  LANG=zh_CN.UTF-8 LC_ALL= start_harness "$WORK/harness" "$@"
  wait_until 40 has_window || { stop_harness; return 1; }
  xdotool mousemove 900 700
  sleep "$settle"
  shot "$name"
  /usr/bin/convert "$SHOTS/$name.png" "$WORK/$name.ppm"
  stop_harness
}

