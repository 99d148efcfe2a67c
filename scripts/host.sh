# What this host can run, and the Wine that runs our Windows builds here
# (sourced, not run; by scripts/env.sh and scripts/bootstrap).
#
# Some hosts cannot execute 32-bit x86 code at all, so 32-bit Wine fails there
# with "Exec format error". The probe finds out by running a tiny 32-bit
# program; the Windows checks then run the i686 build under 32-bit Wine where
# that works and the x86_64 build under 64-bit Wine where it does not.
# UPDATER_ASSUME_NO_32BIT=1 takes the 64-bit road on any host.

# host_runs_32bit: true when a 32-bit x86 Linux program runs here. The answer
# is kept in HOST_RUNS_32BIT (exported, so child scripts do not probe again).
host_runs_32bit() {
  if [ -z "${HOST_RUNS_32BIT:-}" ]; then
    HOST_RUNS_32BIT=no
    if [ "${UPDATER_ASSUME_NO_32BIT:-}" != 1 ]; then
      local probe rc
      probe="$(mktemp /tmp/updater-probe32.XXXXXX)"
      # A complete static i386 ELF program (ELF header, one program header,
      # then: mov eax,1; mov ebx,42; int 0x80), which exits with code 42.
      printf '%b' \
        '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
        '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
        '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
        '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
        '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
        '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
      chmod +x "$probe"
      "$probe" >/dev/null 2>&1; rc=$?
      rm -f "$probe"
      [ "$rc" -eq 42 ] && HOST_RUNS_32BIT=yes
    fi
    export HOST_RUNS_32BIT
  fi
  [ "$HOST_RUNS_32BIT" = yes ]
}

# The Windows target whose build the Windows unit suites and the end-to-end
# tests run here (i686 or x86_64), and why, for the first line of a report.
windows_target() { if host_runs_32bit; then echo i686; else echo x86_64; fi; }
# target_runs_here TARGET: x86_64 runs on every host of ours, i686 where the
# probe says so.
target_runs_here() { [ "$1" = x86_64 ] || host_runs_32bit; }
windows_target_line() {
  if host_runs_32bit; then echo "windows: i686 under 32-bit Wine"
  elif [ "${UPDATER_ASSUME_NO_32BIT:-}" = 1 ]; then
    echo "windows: x86_64 under 64-bit Wine (UPDATER_ASSUME_NO_32BIT=1)"
  else echo "windows: x86_64 under 64-bit Wine (this host cannot run 32-bit code)"; fi
}

# make_wine_commands TARGET BUILD_DIR: the commands wine, wineserver,
# wineboot, winepath and regedit for the Wine of TARGET, in
# BUILD_DIR/wine-TARGET, each with a prefix of that architecture of its own
# (BUILD_DIR/wineprefix-TARGET). They set their whole environment, so they
# also serve as CMake's cross-compiling emulator.
make_wine_commands() {
  local target="$1" build="$2" loader server arch
  case "$target" in
    # 64-bit Wine's server serves 32-bit programs too; wine32 alone has its own.
    i686)   loader=/usr/lib/wine/wine; arch=win32
            server='$([ -x /usr/lib/wine/wineserver64 ] && echo /usr/lib/wine/wineserver64 || echo /usr/lib/wine/wineserver32)' ;;
    x86_64) loader=/usr/lib/wine/wine64; arch=win64; server=/usr/lib/wine/wineserver64 ;;
    *) echo "make_wine_commands: unknown target $target" >&2; return 1 ;;
  esac
  local bin="$build/wine-$target" prefix="$build/wineprefix-$target" tool
  mkdir -p "$bin"
  write_wine_command "$bin/wine" "$loader" "$server" "$arch" "$prefix" "$loader"
  write_wine_command "$bin/wineserver" "$loader" "$server" "$arch" "$prefix" '"$WINESERVER"'
  for tool in wineboot winepath regedit; do
    write_wine_command "$bin/$tool" "$loader" "$server" "$arch" "$prefix" "$loader $tool.exe"
  done
}

write_wine_command() {  # FILE LOADER SERVER ARCH PREFIX COMMAND
  cat >"$1.new" <<SCRIPT
#!/bin/sh
export WINEARCH=$4 WINELOADER=$2 WINESERVER=$3 WINEPREFIX="$5"
export WINEDEBUG="\${WINEDEBUG:--all}" WINEDLLOVERRIDES="\${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
exec $6 "\$@"
SCRIPT
  chmod +x "$1.new" && mv "$1.new" "$1"
}

# use_wine TARGET BUILD_DIR: puts the commands of make_wine_commands first on
# PATH, so every wine, wineserver, wineboot, winepath and regedit of our
# scripts runs the Wine of TARGET. Debian's own wine and wineserver commands
# pick 32-bit Wine whenever it is installed, which fails on hosts without
# 32-bit code; nothing of ours calls them.
use_wine() {
  local bin="$2/wine-$1"
  [ -x "$bin/wine" ] || make_wine_commands "$1" "$2" || return 1
  export WINE_TARGET="$1" WINEPREFIX="$2/wineprefix-$1"
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
  unset WINEARCH WINELOADER WINESERVER
  local path=":$PATH:"
  path="${path//:$2\/wine-i686:/:}"; path="${path//:$2\/wine-x86_64:/:}"
  path="${path#:}"; export PATH="$bin:${path%:}"
}
