#!/usr/bin/env bash
# The updater window under Wine on its own Xvfb screen (1024x768) with the
# openbox window manager: placement, skin, captions, button faces, the key
# colour cut of the small buttons, drag, minimise and the exit question.
# It drives tests/ui/window_harness.exe (the window with test bindings, no
# network) with xdotool and checks screenshots with pixel probes
# (tests/e2e/window_probe.py). Screenshots: $UPDATER_BUILD_DIR/screenshots/.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/env.sh"
source "$HERE/lib.sh"  # display, Wine prefix; check, shot and finish are this script's own

SKIN="$ROOT/ui/skin"
PROBE="python3 $HERE/window_probe.py"
CURSOR="python3 $HERE/cursor_probe.py"
SHOTS="$BUILD/screenshots"
WORK="$(mktemp -d /tmp/test_window.XXXXXX)"
TITLE="版本更新"
OX=278 OY=289  # the window's top-left corner on a 1024x768 screen
PASS=0 FAIL=0

ok() { PASS=$((PASS + 1)); echo "ok   $*"; }
bad() { FAIL=$((FAIL + 1)); echo "FAIL $*"; }
# check NAME COMMAND...: one result line per check.
check() {
  local name="$1"; shift
  local out
  if out="$("$@" 2>&1)"; then ok "$name: $out"; else bad "$name: $out"; fi
}
finish() {
  stop_harness
  stage_cleanup
  [ "$FAIL" -eq 0 ] && rm -rf "$WORK"
  echo "$PASS passed, $FAIL failed"
  [ "$FAIL" -eq 0 ]
  exit $?
}
trap finish EXIT

if [ ! -f "$HARNESS" ]; then
  bad "window_harness.exe not built at $HARNESS"
  exit 1
fi
mkdir -p "$SHOTS"

# ---- display, window manager, Wine prefix -----------------------------------
start_display || { bad "no X display"; exit 1; }
prepare_wine || bad "Wine font set-up"

# Reference pixels come from the skin files themselves (8 bits a channel
# also from the palette bitmaps, which ImageMagick would write at 4).
for f in background.jpg minimize_1.bmp minimize_2.bmp close_1.bmp enter_1.bmp enter_2.bmp bar_fill.bmp bar_back.bmp; do
  /usr/bin/convert "$SKIN/$f" -depth 8 "$WORK/${f%.*}.ppm"
done
REF="$WORK"

# ---- helpers -------------------------------------------------------------------
# wait_for NAME SECONDS [--onlyvisible]: the id of a window with that name.
wait_for() {
  local name="$1" secs="$2" id=""
  for _ in $(seq 1 $((secs * 5))); do
    id="$(xdotool search ${3:-} --name "$name" 2>/dev/null | head -1)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
# wait_gone NAME SECONDS: no visible window with that name.
wait_gone() {
  for _ in $(seq 1 $(($2 * 5))); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}
shot() {  # name -> $WORK/name.ppm, saved as PNG too
  /usr/bin/import -window root "$SHOTS/window_$1.png"
  /usr/bin/convert "$SHOTS/window_$1.png" "$WORK/$1.ppm"
}
at() { echo $((OX + $1)) $((OY + $2)); }  # window to screen coordinates
move() { xdotool mousemove $((OX + $1)) $((OY + $2)); sleep 0.6; }
click() { xdotool mousemove $((OX + $1)) $((OY + $2)); sleep 0.3; xdotool click 1; }
geometry() { xdotool getwindowgeometry "$1" | awk '/Position/ {print $2}'; }
# drag X Y DX DY: press at window (X, Y), move by (DX, DY) in steps, release.
drag() {
  xdotool mousemove $((OX + $1)) $((OY + $2)); sleep 0.3
  xdotool mousedown 1; sleep 0.4
  for i in 1 2 3 4 5 6; do xdotool mousemove $((OX + $1 + $3 * i / 6)) $((OY + $2 + $4 * i / 6)); sleep 0.1; done
  sleep 0.3
  xdotool mouseup 1; sleep 1
}
# answer KEY: presses a button of the focused question by its mnemonic. Real
# key events (XTEST), not events sent to a window: a release sent to a box
# that the press has already closed is lost, and Wine then keeps the key
# down for the next program.
answer() {
  timeout 5 xdotool windowactivate --sync "$BOX" >/dev/null 2>&1
  sleep 0.3
  xdotool key "$1"
}
events() { grep -c "^$2" "$1/window_harness.log" 2>/dev/null || true; }

# ---- session 1: the window as created -------------------------------------------
S1="$WORK/s1"
start_harness "$S1"
WIN="$(wait_for "$TITLE" 40 --onlyvisible)" || { bad "window did not appear"; exit 1; }
sleep 1.5
pos="$(geometry "$WIN")"
if [ "$pos" = "278,289" ]; then ok "window centred at 278,289"; else bad "window at $pos, want 278,289"; fi
size="$(xdotool getwindowgeometry "$WIN" | awk '/Geometry/ {print $2}')"
if [ "$size" = "468x190" ]; then ok "window 468x190"; else bad "window size $size"; fi
# Wine sets the icon property a little after the window shows, later on a
# busy machine: up to 5 s.
has_icon() { xprop -id "$WIN" _NET_WM_ICON 2>/dev/null | grep -q "Icon ("; }
for _ in $(seq 1 25); do has_icon && break; sleep 0.2; done
if has_icon; then ok "window icon from the resources"; else bad "window has no icon"; fi
xdotool mousemove 900 700; sleep 0.5
shot created

check "background picture" $PROBE match "$WORK/created.ppm" $(at 250 80) "$REF/background.ppm" 250 80 8
check "background header" $PROBE match "$WORK/created.ppm" $(at 300 20) "$REF/background.ppm" 300 20 8
check "minimise face 1" $PROBE match "$WORK/created.ppm" $(at 418 7) "$REF/minimize_1.ppm" 12 4 4
check "close face 1" $PROBE match "$WORK/created.ppm" $(at 450 7) "$REF/close_1.ppm" 12 4 4
check "close corner is background" $PROBE match "$WORK/created.ppm" $(at 438 3) "$REF/background.ppm" 438 3 8
check "bar background, fill at width 0" $PROBE match "$WORK/created.ppm" $(at 32 170) "$REF/bar_back.ppm" 10 7 4
check "bar background right end" $PROBE match "$WORK/created.ppm" $(at 330 170) "$REF/bar_back.ppm" 308 7 4
check "disabled enter-game shows its normal face" $PROBE match "$WORK/created.ppm" $(at 370 168) "$REF/enter_1.ppm" 8 40 6
check "disabled enter-game normal face, middle" $PROBE match "$WORK/created.ppm" $(at 406 155) "$REF/enter_1.ppm" 44 27 6
check "title in yellow" $PROBE count "$WORK/created.ppm" $(at 24 43) 216 32 255 255 0 30 8
for row in "100 task" "117 patch" "134 speed"; do
  set -- $row
  check "$2 caption in orange" $PROBE count "$WORK/created.ppm" $(at 17 "$1") 61 18 192 96 0 30 15
  check "$2 caption background black" $PROBE color "$WORK/created.ppm" $(at 17 "$1") 0 0 0 0
  check "$2 value N/A in silver" $PROBE count "$WORK/created.ppm" $(at 88 "$1") 40 18 192 192 192 30 8
done
n="$(events "$S1" check)"
if [ "$n" = 1 ]; then ok "first activation ran the check once"; else bad "check ran $n times"; fi

# The disabled enter-game button keeps its face under the pointer.
move 406 150
shot disabled_hover
check "disabled enter-game face unchanged under pointer" $PROBE same "$WORK/disabled_hover.ppm" "$WORK/created.ppm" $(at 362 128) 88 54 0
# The button's pointer is the program's own amber hand (ui/skin/hand.cur,
# 32x32, hot spot at the finger tip), disabled or not; elsewhere the arrow.
check "hand pointer over the disabled enter-game button" $CURSOR is 32 32 11 1 255 180 58 150
move 200 60
check "no hand over the background" $CURSOR not 255 180 58

# Hover face of the minimise button.
move 418 15
shot minimize_hover
check "minimise hover face" $PROBE match "$WORK/minimize_hover.ppm" $(at 418 7) "$REF/minimize_2.ppm" 12 4 4
move 300 60
shot minimize_left
check "minimise back to face 1" $PROBE match "$WORK/minimize_left.ppm" $(at 418 7) "$REF/minimize_1.ppm" 12 4 4

# Blue corners belong to what lies behind: the close corner to the window
# (no question), the minimise corner over the drag strip to the strip.
check "close face corner is key blue" $PROBE color "$REF/close_1.ppm" 0 0 0 0 255 0
click 438 3
sleep 2
if xdotool search --name "确认退出" >/dev/null 2>&1; then bad "click on the close button's blue corner opened the question"; else ok "blue corner of close takes no click"; fi
# Close asks; No keeps the window.
click 450 15
if BOX="$(wait_for "确认退出" 10 --onlyvisible)"; then
  ok "close asks for confirmation"
  sleep 1
  shot confirm
  answer n
  if wait_gone "确认退出" 10; then ok "No closes the question"; else bad "question still open after No"; fi
  sleep 1
  if kill -0 "$HARNESS_PID" 2>/dev/null && xdotool search --onlyvisible --name "$TITLE" >/dev/null; then
    ok "No keeps the window"
  else
    bad "window gone after No"
  fi
else
  shot no_confirm_s1
  bad "no confirmation after clicking close"
fi
n="$(events "$S1" check)"
if [ "$n" = 1 ]; then ok "check still ran once after re-activation"; else bad "check ran $n times"; fi

# Dragging by the strip moves the window.
drag 200 20 60 42
pos="$(geometry "$WIN")"
if [ "$pos" = "338,331" ]; then ok "drag moved the window to $pos"; else bad "after drag the window is at $pos, want 338,331"; fi
shot dragged
OX=338 OY=331

# A press on the minimise button's bottom-left blue corner lies over the
# drag strip: it drags instead of minimising.
check "minimise face corner is key blue" $PROBE color "$REF/minimize_1.ppm" 0 23 0 0 255 0
drag 406 26 10 5
pos="$(geometry "$WIN")"
if [ "$pos" = "348,336" ] && xdotool search --onlyvisible --name "$TITLE" >/dev/null 2>&1; then
  ok "blue corner of minimise goes to the drag strip (window at $pos)"
else
  bad "press on the minimise button's blue corner: window at $pos, want 348,336 and shown"
fi
OX=348 OY=336

# Minimise minimises.
click 418 15
if wait_gone "$TITLE" 5; then ok "minimise hides the window"; else bad "window still shown after minimise"; fi
stop_harness
OX=278 OY=289

# ---- session 2: captions set, progress shown, enter-game enabled ------------------
# In the zh_CN locale (the default GUI font follows it), with byte counts
# past 4 GiB: a quarter of a 4,000 GiB file.
S2="$WORK/s2"
LONG="有最新版本，共有2个文件需要更新。有最新版本，共有2个文件需要更新。"
DONE=1073741824000 TOTAL=4294967296000
LANG=zh_CN.UTF-8 LC_ALL= start_harness "$S2" "title=Zethra测试版" "task=$LONG" "progress=$DONE/$TOTAL" enable report=4
WIN="$(wait_for "$TITLE" 40 --onlyvisible)" || { bad "window did not appear (session 2)"; exit 1; }
xdotool mousemove 900 700
sleep 4.5  # past the report and a full speed window without a byte
shot progress
check "fill shows the bar's left part" $PROBE match "$WORK/progress.ppm" $(at 62 170) "$REF/bar_fill.ppm" 40 7 4
check "fill ends at width 78" $PROBE match "$WORK/progress.ppm" $(at 99 170) "$REF/bar_fill.ppm" 77 7 4
check "background after the fill" $PROBE match "$WORK/progress.ppm" $(at 100 170) "$REF/bar_back.ppm" 78 7 4
check "patch-size text drawn" $PROBE count "$WORK/progress.ppm" $(at 88 117) 110 18 192 192 192 30 40
caption_is() {  # caption_is LABEL TEXT: the harness's report of that label's caption
  local got
  got="$(grep -a "^$1 " "$S2/window_harness.log" 2>/dev/null | tail -1 | tr -d '\r')"
  [ "$got" = "$1 $2" ] && echo "$got" || { echo "report: '${got}', want '$1 $2'"; return 1; }
}
check "patch-size caption in 64 bits" caption_is patch-size "[1/2]:$DONE/$TOTAL"
check "a transfer without bytes for 3 s shows 0.00 KB/S" caption_is speed "0.00 KB/S"
# The 33 characters reach far beyond a 32-bit count's 27.
check "patch-size text drawn to its end" $PROBE count "$WORK/progress.ppm" $(at 230 117) 40 18 192 192 192 30 10
# The captions' first glyphs whole with the zh_CN font: the left strokes of
# "补" (and of "更", "下") lie left of x 21, where a 57-pixel label cut them,
# and clear of the label's left edge at x 17 (black there as in the skin).
for row in "100 task 3" "117 patch 8" "134 speed 2"; do
  set -- $row
  check "$2 caption's first glyph whole" $PROBE count "$WORK/progress.ppm" $(at 18 "$1") 3 18 192 96 0 40 "$3"
  check "$2 caption clear of the label edge" $PROBE none "$WORK/progress.ppm" $(at 17 "$1") 1 18 192 96 0 40
done
check "caption label edge black as the skin" $PROBE match "$WORK/progress.ppm" $(at 17 110) "$REF/background.ppm" 17 110 8
check "task text drawn" $PROBE count "$WORK/progress.ppm" $(at 88 100) 200 18 192 192 192 30 60
# A text longer than its label is cut at the label's right edge (x 336).
check "long text reaches the label edge" $PROBE count "$WORK/progress.ppm" $(at 316 100) 20 18 192 192 192 30 5
check "long text cut at the label edge" $PROBE none "$WORK/progress.ppm" $(at 336 100) 6 18 192 192 192 30
check "enabled enter-game normal face" $PROBE match "$WORK/progress.ppm" $(at 370 168) "$REF/enter_1.ppm" 8 40 6
move 406 150
shot enter_hover
check "enter-game hover face" $PROBE match "$WORK/enter_hover.ppm" $(at 370 168) "$REF/enter_2.ppm" 8 40 6
check "hand pointer over the enabled enter-game button" $CURSOR is 32 32 11 1 255 180 58 150
xdotool click 1
for _ in $(seq 1 25); do [ "$(events "$S2" launch)" = 1 ] && break; sleep 0.2; done
if [ "$(events "$S2" launch)" = 1 ]; then ok "enter-game click launches"; else bad "no launch after the enter-game click"; fi
stop_harness

# ---- session 3: Yes ends the program during a download ------------------------
S3="$WORK/s3"
start_harness "$S3" run
WIN="$(wait_for "$TITLE" 40 --onlyvisible)" || { bad "window did not appear (session 3)"; exit 1; }
xdotool mousemove 900 700
sleep 1.5
shot running
click 450 15
if BOX="$(wait_for "确认退出" 10 --onlyvisible)"; then
  sleep 0.5
  answer y
  gone=0
  for _ in $(seq 1 50); do kill -0 "$HARNESS_PID" 2>/dev/null || { gone=1; break; }; sleep 0.2; done
  if [ $gone = 1 ]; then ok "Yes ends the program while the worker runs"; else bad "program still running 10 s after Yes"; fi
else
  shot no_confirm_s3
  echo "windows: $(xdotool search --name "确认退出" 2>/dev/null | tr "\n" " ") active: $(xdotool getactivewindow getwindowname 2>/dev/null)"
  bad "no confirmation in session 3"
fi
stop_harness
