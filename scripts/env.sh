# Shared settings of scripts/test, scripts/demo and the end-to-end scripts
# (sourced, not run).
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${UPDATER_BUILD_DIR:-$ROOT/build}"
NATIVE_BUILD="$BUILD/native"
JOBS="$(nproc 2>/dev/null || echo 2)"
source "$ROOT/scripts/host.sh"

# The two Windows products: i686 (the reference target) and x86_64.
WIN32_BUILD="$BUILD/win32"
WIN64_BUILD="$BUILD/win64"
win_build_of() { if [ "$1" = i686 ]; then echo "$WIN32_BUILD"; else echo "$WIN64_BUILD"; fi; }
jpeg_prefix_of() { if [ "$1" = i686 ]; then echo "$ROOT/.deps/jpeg-mingw32"; else echo "$ROOT/.deps/jpeg-mingw64"; fi; }

# The target this host tests (see host.sh), its build tree, and its Wine.
WIN_TARGET="$(windows_target)"
WIN_BUILD="$(win_build_of "$WIN_TARGET")"
mkdir -p "$BUILD"
make_wine_commands i686 "$BUILD"
make_wine_commands x86_64 "$BUILD"
use_wine "$WIN_TARGET" "$BUILD"

# configure_and_build [CMAKE_ARGS...]: the native tree and both Windows trees.
# The tree of a target this host cannot run is built for its products only.
configure_and_build() {
  cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >"$BUILD/configure-native.log" 2>&1 \
    || { cat "$BUILD/configure-native.log"; return 1; }
  cmake --build "$NATIVE_BUILD" -j "$JOBS" >"$BUILD/build-native.log" 2>&1 \
    || { tail -60 "$BUILD/build-native.log"; return 1; }
  local target dir log
  for target in i686 x86_64; do
    dir="$(win_build_of "$target")"; log="$BUILD/build-$(basename "$dir")"
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$target.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$BUILD/wine-$target/wine" \
      -DUPDATER_JPEG_PREFIX="$(jpeg_prefix_of "$target")" "$@" >"$log.configure.log" 2>&1 \
      || { cat "$log.configure.log"; return 1; }
    local what=()
    if ! target_runs_here "$target"; then what=(--target updater patchtool); fi
    cmake --build "$dir" -j "$JOBS" "${what[@]}" >"$log.log" 2>&1 \
      || { tail -60 "$log.log"; return 1; }
  done
}

# A Wine prefix for the Wine in use, made once; later runs reuse it.
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$BUILD/wineboot-$WINE_TARGET.log" 2>&1 || true
    wineserver -w 2>/dev/null || true
  fi
}
