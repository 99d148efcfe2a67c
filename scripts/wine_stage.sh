# The stage the real updater runs on, shared by scripts/demo and the
# end-to-end tests (sourced after scripts/env.sh): a virtual display with a
# window manager, a Wine prefix with CJK fonts, an nginx update server on
# 127.0.0.1, screenshots, the updater's window, and a client folder with the
# packed launcher, published with patchtool. Everything started here is
# stopped by PID on exit.

STAGE_PIDS=()
SHOTS="${SHOTS:-$BUILD/screenshots}"
mkdir -p "$SHOTS"

# Wine's output of every launcher start of this script, for a failing check.
LAUNCH_LOG="$(mktemp "${TMPDIR:-/tmp}/updater-launch.XXXXXX")"

# end_wine: ends every program of the prefix and waits until the server itself
# has gone: a start while the old server still shuts down can fail silently.
end_wine() {
  timeout 20 wineserver -k >/dev/null 2>&1
  timeout 20 wineserver -w >/dev/null 2>&1 || true
}

stage_cleanup() {
  end_wine
  rm -f "$LAUNCH_LOG"
  local pid
  for pid in "${STAGE_PIDS[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  for pid in "${STAGE_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stage_cleanup EXIT

# wait_until SECONDS command...: polls every 0.2 s.
wait_until() {
  local deadline=$(( $(date +%s) + $1 )); shift
  while [ "$(date +%s)" -lt "$deadline" ]; do
    "$@" && return 0
    sleep 0.2
  done
  "$@"
}

# A free X display with a 1024x768 screen and openbox (without a window
# manager Wine windows get no focus and keys on message boxes are lost).
start_display() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    STAGE_PIDS+=($!)
    export DISPLAY=":$n"
    wait_until 10 xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start"; return 1; }
    openbox >/dev/null 2>&1 &
    STAGE_PIDS+=($!)
    sleep 1
    return 0
  done
  echo "no free display"; return 1
}

# prepare_wine: the prefix with CJK fonts; fails when the fonts could not be set.
prepare_wine() {
  ensure_wineprefix
  # A speed cap the player's menu kept, left by a run that was killed before
  # it could forget it, would slow every later run in this prefix.
  if grep -qs 'GameClientUpdater\\\\Link' "${WINEPREFIX:-$HOME/.wine}/user.reg"; then
    wine reg delete 'HKCU\Software\GameClientUpdater\Link' /f >/dev/null 2>&1
  fi
  source "$ROOT/scripts/wine_fonts.sh"
  wine_cjk_fonts
}

# start_nginx SERVER_ROOT [PORT] [extra server directives] [extra http directives]: serves SERVER_ROOT
# on 127.0.0.1; the access log (URI, status, Range header, bytes) is
# $NGINX_DIR/access.log, and $NGINX_DIR/connections.log has the connection
# serial number of each request before its URI and status.
start_nginx() {
  local root="$1" port="${2:-8088}" extra="${3:-}" http_extra="${4:-}"
  NGINX_DIR="$(mktemp -d /tmp/updater-nginx.XXXXXX)"
  mkdir -p "$NGINX_DIR/logs" "$NGINX_DIR/tmp"
  cat >"$NGINX_DIR/nginx.conf" <<CONF
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/logs/error.log;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  log_format e2e '\$request_uri \$status "\$http_range" \$body_bytes_sent';
  log_format connections '\$connection \$request_uri \$status';
  access_log $NGINX_DIR/access.log e2e;
  access_log $NGINX_DIR/connections.log connections;
  client_body_temp_path $NGINX_DIR/tmp/body;
  proxy_temp_path $NGINX_DIR/tmp/proxy;
  fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
  uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
  scgi_temp_path $NGINX_DIR/tmp/scgi;
  $http_extra
  server {
    listen 127.0.0.1:$port;
    root "$root";
    $extra
  }
}
CONF
  nginx -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" || return 1
  wait_until 5 test -s "$NGINX_DIR/nginx.pid" || return 1
  STAGE_PIDS+=("$(cat "$NGINX_DIR/nginx.pid")")
}

stop_nginx() {
  [ -n "${NGINX_DIR:-}" ] && [ -s "$NGINX_DIR/nginx.pid" ] && kill "$(cat "$NGINX_DIR/nginx.pid")" 2>/dev/null
  sleep 0.5
}

shot() {  # shot NAME: the whole screen as $SHOTS/NAME.png
  import -window root "$SHOTS/$1.png" 2>/dev/null
}

window_id() {  # the updater window, if shown
  xdotool search --onlyvisible --name "版本更新" 2>/dev/null | head -1
}

window_geometry() {  # X Y of the updater window
  local id; id="$(window_id)"; [ -n "$id" ] || return 1
  xdotool getwindowgeometry "$id" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}'
}

has_window() { [ -n "$(window_id)" ]; }
not() { ! "$@"; }

# ---- the client, the server and the launcher ---------------------------------

UPDATER="$WIN_BUILD/app/updater.exe"
GAME="$WIN_BUILD/tests/game/demo_game.exe"
LAUNCHER="启动 器.exe"

require_builds() {
  local f
  for f in "$PATCHTOOL" "$UPDATER" "$GAME"; do [ -f "$f" ] || { echo "missing $f"; return 1; }; done
}

# pack_updater OUT [UPDATER]: the updater (default: the tested build) with
# the stand-in game appended.
pack_updater() { "$PATCHTOOL" pack "${2:-$UPDATER}" "$GAME" -o "$1" >/dev/null; }

# random_file PATH KIB
random_file() { mkdir -p "$(dirname "$1")"; head -c "$(( $2 * 1024 ))" /dev/urandom >"$1"; }

# publish CLIENT_DIR SERVER_ROOT
publish() { "$PATCHTOOL" publish "$1" "$2" >/dev/null; }

requests_of() {  # requests_of PATTERN: access-log lines whose URI matches
  grep -E "$1" "$NGINX_DIR/access.log" 2>/dev/null || true
}
request_count() { requests_of "$1" | wc -l; }

# start_launcher DIR [LANG]: runs the launcher there, in the background.
start_launcher() { start_launcher_for 300 "$@"; }
# start_launcher_for SECONDS DIR [LANG]: the same, ended after SECONDS.
start_launcher_for() {
  echo "== $(date +%T) launcher in $2" >>"$LAUNCH_LOG"
  (cd "$2" && LANG="${3:-C.UTF-8}" LC_ALL= timeout "$1" wine "$LAUNCHER" >>"$LAUNCH_LOG" 2>&1 &)
}

# click_enter_game: a left click in the middle of the enter-game button.
click_enter_game() {
  local pos; pos="$(window_geometry)" || return 1
  set -- $pos
  xdotool mousemove $(( $1 + 406 )) $(( $2 + 155 )) click 1
}
