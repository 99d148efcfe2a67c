# Shared helpers of the end-to-end scripts (sourced after scripts/env.sh):
# a virtual display with a window manager, a Wine prefix with CJK fonts, an
# nginx update server on 127.0.0.1, screenshots with pixel probes, and the
# pass/fail tally. Everything started here is stopped by PID on exit.

# The servers of these tests listen on fixed ports (the updater's own is
# 8088): end-to-end runs on one machine take turns. The script runs again
# under the lock; -o keeps the lock out of the servers and Wine it starts.
if [ -z "${UPDATER_E2E_LOCKED:-}" ]; then
  export UPDATER_E2E_LOCKED=1
  exec flock -o -w 3600 /tmp/updater-e2e.lock bash "$0" "$@"
fi

E2E_PASS=0
E2E_FAIL=0
E2E_PIDS=()
SHOTS="${SHOTS:-$BUILD/screenshots}"
mkdir -p "$SHOTS"

check() {  # check "description" command...
  local what="$1"; shift
  if "$@"; then E2E_PASS=$((E2E_PASS + 1)); echo "ok   $what"
  else E2E_FAIL=$((E2E_FAIL + 1)); echo "FAIL $what"; fi
}

finish() {
  echo "$E2E_PASS passed, $E2E_FAIL failed"
  [ "$E2E_FAIL" -eq 0 ]
}

e2e_cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap e2e_cleanup EXIT

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
    E2E_PIDS+=($!)
    export DISPLAY=":$n"
    wait_until 10 xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start"; return 1; }
    openbox >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    sleep 1
    return 0
  done
  echo "no free display"; return 1
}

# prepare_wine: the prefix with CJK fonts; fails when the fonts could not be set.
prepare_wine() {
  ensure_wineprefix
  source "$ROOT/tests/e2e/wine_fonts.sh"
  wine_cjk_fonts
}

# start_nginx SERVER_ROOT [PORT] [extra server directives]: serves SERVER_ROOT
# on 127.0.0.1; the access log (URI, status, Range header, bytes) is
# $NGINX_DIR/access.log.
start_nginx() {
  local root="$1" port="${2:-8088}" extra="${3:-}"
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
  access_log $NGINX_DIR/access.log e2e;
  client_body_temp_path $NGINX_DIR/tmp/body;
  proxy_temp_path $NGINX_DIR/tmp/proxy;
  fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
  uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
  scgi_temp_path $NGINX_DIR/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root "$root";
    $extra
  }
}
CONF
  nginx -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" || return 1
  wait_until 5 test -s "$NGINX_DIR/nginx.pid" || return 1
  E2E_PIDS+=("$(cat "$NGINX_DIR/nginx.pid")")
}

stop_nginx() {
  [ -n "${NGINX_DIR:-}" ] && [ -s "$NGINX_DIR/nginx.pid" ] && kill "$(cat "$NGINX_DIR/nginx.pid")" 2>/dev/null
  sleep 0.5
}

shot() {  # shot NAME: the whole screen as $SHOTS/NAME.png
  import -window root "$SHOTS/$1.png" 2>/dev/null
}

pixel() {  # pixel FILE X Y -> "R,G,B"
  /usr/bin/convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)],%[fx:int(255*p{'"$2"','"$3"'}.g)],%[fx:int(255*p{'"$2"','"$3"'}.b)]' info: 2>/dev/null
}

window_id() {  # the updater window, if shown
  xdotool search --onlyvisible --name "版本更新" 2>/dev/null | head -1
}

window_geometry() {  # X Y of the updater window
  local id; id="$(window_id)"; [ -n "$id" ] || return 1
  xdotool getwindowgeometry "$id" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}'
}

# Number of updater processes (update.dat) running under Wine.
updater_processes() {
  ps -eo args | grep -c '[u]pdate\.dat gxin' || true
}

has_window() { [ -n "$(window_id)" ]; }
not() { ! "$@"; }
