#!/usr/bin/env bash
# The player's HTTP proxy, with the real updater.exe under Wine: the update
# server (nginx) listens where the updater cannot reach it, and a real proxy
# (tinyproxy) on 127.0.0.1 forwards to it. With the proxy set in the per-user
# Internet Settings of the Wine prefix (written with regedit), the whole
# cycle passes and the proxy's log shows the list and every patch file;
# without it, the list cannot be had. With the stock setting (automatic
# detection on, no proxy) a 404 gets the download-failed text.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

PROXY_PORT=8091
ORIGIN_PORT=8089  # the updater's own 8088 stays closed: only the proxy gets through
INTERNET_SETTINGS='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings'

CONNECTIONS="$INTERNET_SETTINGS\\Connections"
# set_proxy on|stock|off: the per-user proxy setting of the test's prefix.
# stock: no proxy and "Automatically detect settings" on, as a new Windows
# has it (flag 0x08 of the connection record, beside 0x01 "direct").
set_proxy() {
  local reg; reg="$(mktemp /tmp/updater-proxy-XXXXXX.reg)"
  if [ "$1" = stock ]; then
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"ProxyEnable"=dword:00000000\r\n\r\n[%s]\r\n"DefaultConnectionSettings"=hex:46,00,00,00,02,00,00,00,09,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\r\n' \
      "$INTERNET_SETTINGS" "$CONNECTIONS" >"$reg"
  elif [ "$1" = on ]; then
    # Loopback goes direct unless the bypass list says "<-loopback>".
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"ProxyEnable"=dword:00000001\r\n"ProxyServer"="127.0.0.1:%s"\r\n"ProxyOverride"="<-loopback>"\r\n' \
      "$INTERNET_SETTINGS" "$PROXY_PORT" >"$reg"
  else
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"ProxyEnable"=dword:00000000\r\n"ProxyServer"=-\r\n"ProxyOverride"=-\r\n\r\n[%s]\r\n"DefaultConnectionSettings"=-\r\n' \
      "$INTERNET_SETTINGS" "$CONNECTIONS" >"$reg"
  fi
  timeout 60 wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
  timeout 20 wineserver -w
  rm -f "$reg"
}
proxy_is_on() {
  timeout 30 wine reg query "$INTERNET_SETTINGS" /v ProxyEnable 2>/dev/null | grep -qi '0x1'
}

# The prefix is shared with the other tests: the setting never outlives this one.
trap 'set_proxy off; stage_cleanup' EXIT

start_tinyproxy() {
  PROXY_DIR="$(mktemp -d /tmp/updater-proxy.XXXXXX)"
  cat >"$PROXY_DIR/tinyproxy.conf" <<CONF
Port $PROXY_PORT
Listen 127.0.0.1
Timeout 60
LogFile "$PROXY_DIR/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.1
DisableViaHeader Yes
# The update server sits behind this proxy, where the updater cannot reach it.
Upstream http 127.0.0.1:$ORIGIN_PORT
CONF
  tinyproxy -d -c "$PROXY_DIR/tinyproxy.conf" >"$PROXY_DIR/stdout.log" 2>&1 &
  STAGE_PIDS+=($!)
  wait_until 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PROXY_PORT" 2>/dev/null
}
proxied() {  # proxied PATH: the proxy forwarded a GET of that URL (the list
  # fetch speaks HTTP/1.0, the download engine HTTP/1.1)
  grep -qE "GET http://127\.0\.0\.1:8088/patch/528/$1 HTTP/1\.[01]" "$PROXY_DIR/tinyproxy.log"
}

cycle_setup proxy
start_nginx "$SERVER" "$ORIGIN_PORT" || { echo "nginx did not start"; exit 1; }
check "tinyproxy runs on 127.0.0.1:$PROXY_PORT" start_tinyproxy

CLIENT="$WORK/proxy 客户 端"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
echo "v1" >"$CLIENT/readme.txt"
RELEASE="$WORK/proxy release"
cp -r "$CLIENT" "$RELEASE"
echo "v2" >"$RELEASE/readme.txt"
random_file "$RELEASE/数据 目录/大 文件.pak" 4096
publish "$RELEASE" "$SERVER"

# 1. Without the proxy setting the server is out of reach: the list fails.
set_proxy off
start_launcher "$CLIENT"
check "[direct] the updater window opens" wait_until 60 has_window
sleep 4
check "[direct] nothing reached the server" test "$(request_count '^')" -eq 0
check "[direct] the client is untouched" test "$(cat "$CLIENT/readme.txt")" = v1
end_wine

# 2. With it, the list and every file come through the proxy; the cycle ends
# with a second, up-to-date updater.
set_proxy on
check "[proxy] the setting is in the prefix's registry" proxy_is_on
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
check "[proxy] both files arrive byte for byte" \
  wait_until 120 same_tree_files "$RELEASE" "$CLIENT" readme.txt "数据 目录/大 文件.pak"
list_twice() { [ "$(request_count 'filelist.txt 200')" -ge 2 ]; }
check "[proxy] the launcher restarted and a second updater checked the list" wait_until 60 list_twice
check "[proxy] the second updater's window is open" wait_until 30 has_window
sleep 2
shot proxy-up-to-date
check "[proxy] the proxy's log shows the list" proxied 'filelist\.txt'
check "[proxy] the proxy's log shows readme.txt" proxied 'readme\.txt'
check "[proxy] the patch files went out in absolute form, HTTP/1.1" \
  grep -qF "GET http://127.0.0.1:8088/patch/528/readme.txt HTTP/1.1" "$PROXY_DIR/tinyproxy.log"
check "[proxy] the proxy's log shows the GBK file, escaped" \
  proxied '%E6%95%B0%E6%8D%AE%20%E7%9B%AE%E5%BD%95/%E5%A4%A7%20%E6%96%87%E4%BB%B6\.pak'
check "[proxy] every request reached the server through the proxy" \
  test "$(request_count '^')" -eq "$(grep -c 'GET http://127.0.0.1:8088/' "$PROXY_DIR/tinyproxy.log")"
# The proxy's and the server's logs, to read when something failed.
if [ -n "${E2E_DEBUG:-}" ] || [ "$E2E_FAIL" -gt 0 ]; then
  echo "--- proxy log"; cat "$PROXY_DIR/tinyproxy.log"; echo "--- server log"; cat "$NGINX_DIR/access.log"
fi
end_wine

# 3. Stock settings ("Automatically detect settings" on, no proxy): a file
# the server does not have (404) fails the run with the download-failed
# text, never the proxy text, and the log says no mirror gave it.
set_proxy stock
check "[stock] automatic detection is on in the prefix" \
  bash -c "timeout 30 wine reg query '$CONNECTIONS' /v DefaultConnectionSettings 2>/dev/null | grep -qi '4600000002000000090000'"
stop_nginx
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
CLIENT="$WORK/stock 客户 端"
mkdir -p "$CLIENT"
pack_updater "$CLIENT/$LAUNCHER"
echo "v1" >"$CLIENT/readme.txt"
RELEASE="$WORK/stock release"
cp -r "$CLIENT" "$RELEASE"
echo "v3" >"$RELEASE/readme.txt"
rm -rf "$SERVER/patch"
publish "$RELEASE" "$SERVER"
rm "$SERVER/patch/528/readme.txt"  # listed, not there: a 404
: >"$NGINX_DIR/access.log"
start_launcher "$CLIENT"
failed() { grep -a -q 'run failed at readme.txt (1/1): no mirror gave it' "$CLIENT/update.log" 2>/dev/null; }
check "[stock] the run fails at the missing file" wait_until 90 failed
sleep 2
shot proxy-stock-404
check "[stock] the file was asked for and answered 404" test "$(request_count '^/patch/528/readme\.txt 404')" -ge 1
check "[stock] the log does not blame the proxy setting" \
  not grep -a -q 'proxy setting could not be followed' "$CLIENT/update.log"
echo "     log: $(grep -a 'run failed at' "$CLIENT/update.log" | head -1)"
end_wine

set_proxy off
check "[proxy] the setting is removed again" not proxy_is_on
stop_nginx
rm -rf "$WORK" "$PROXY_DIR"
finish
