# Shared settings of scripts/test and scripts/demo (sourced, not run).
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${UPDATER_BUILD_DIR:-$ROOT/build}"
NATIVE_BUILD="$BUILD/native"
WIN_BUILD="$BUILD/win32"
JPEG_PREFIX="$ROOT/.deps/jpeg-mingw32"

# Wine: a prefix of our own, quiet, and no Mono or Gecko install prompts.
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
export WINEARCH=win32

JOBS="$(nproc 2>/dev/null || echo 2)"

configure_and_build() {
  cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >"$BUILD/configure-native.log" 2>&1 \
    || { cat "$BUILD/configure-native.log"; return 1; }
  cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
    -DUPDATER_JPEG_PREFIX="$JPEG_PREFIX" "$@" >"$BUILD/configure-win32.log" 2>&1 \
    || { cat "$BUILD/configure-win32.log"; return 1; }
  cmake --build "$NATIVE_BUILD" -j "$JOBS" >"$BUILD/build-native.log" 2>&1 \
    || { tail -60 "$BUILD/build-native.log"; return 1; }
  cmake --build "$WIN_BUILD" -j "$JOBS" >"$BUILD/build-win32.log" 2>&1 \
    || { tail -60 "$BUILD/build-win32.log"; return 1; }
}

# A Wine prefix made once; later runs reuse it.
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$BUILD/wineboot.log" 2>&1 || true
    wineserver -w 2>/dev/null || true
  fi
}
