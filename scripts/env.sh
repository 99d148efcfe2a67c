# Shared settings of scripts/test, scripts/demo and the end-to-end scripts
# (sourced, not run).
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${UPDATER_BUILD_DIR:-$ROOT/build}"
NATIVE_BUILD="$BUILD/native"
# The native patchtool: the operator's side of every demo and test.
PATCHTOOL="$NATIVE_BUILD/tools/patchtool"
JOBS="$(nproc 2>/dev/null || echo 2)"
source "$ROOT/scripts/host.sh"
source "$ROOT/scripts/deps.sh"

# The two Windows products: i686 (the reference target) and x86_64.
WIN32_BUILD="$BUILD/win32"
WIN64_BUILD="$BUILD/win64"
win_build_of() { if [ "$1" = i686 ]; then echo "$WIN32_BUILD"; else echo "$WIN64_BUILD"; fi; }

# The target this host tests (see host.sh), its build tree, and its Wine.
WIN_TARGET="$(windows_target)"
WIN_BUILD="$(win_build_of "$WIN_TARGET")"
mkdir -p "$BUILD"
make_wine_commands i686 "$BUILD"
make_wine_commands x86_64 "$BUILD"
use_wine "$WIN_TARGET" "$BUILD"

# With UPDATER_TEST_VARIANT=1 (scripts/test sets it), the tested target's
# tree also builds a second updater for the signed-list
# and mirror end-to-end tests (app/CMakeLists.txt: only app/ is compiled
# again): a list key made by patchtool keygen, kept in the tree so a later
# run rebuilds nothing, and two mirrors, MIRROR_A (8088) then MIRROR_B (8089).
MIRROR_A="http://127.0.0.1:8088/"
MIRROR_B="http://127.0.0.1:8089/"
TEST_LIST_KEY="$WIN_BUILD/test-list.key"
TEST_LIST_KEY_2="$WIN_BUILD/test-list-2.key"
TEST_VARIANT_UPDATER="$WIN_BUILD/app/test-variant/updater.exe"
# test_variant_args: its CMake arguments; makes the two keys once (needs
# patchtool). The lists are signed with the first; the second is the key an
# operator rotates to.
test_variant_args() {
  local n keys=()
  mkdir -p "$WIN_BUILD"
  for n in "" "-2"; do
    if [ ! -s "$WIN_BUILD/test-list$n.pub" ]; then
      rm -f "$WIN_BUILD/test-list$n.key"
      "$PATCHTOOL" keygen "$WIN_BUILD/test-list$n.key" >"$WIN_BUILD/test-list$n.pub" 2>/dev/null \
        || { rm -f "$WIN_BUILD/test-list$n.pub"; echo "keygen failed" >&2; return 1; }
    fi
    keys+=("$(cat "$WIN_BUILD/test-list$n.pub")")
  done
  echo "-DUPDATER_TEST_VARIANT_KEY=${keys[0]};${keys[1]}"
  echo "-DUPDATER_TEST_VARIANT_SERVER_URL=$MIRROR_A;$MIRROR_B"
}

# Compiler results are kept by ccache when it is installed (scripts/bootstrap
# installs it): a later run, in this or any other checkout on the machine,
# compiles only what changed. Paths below the checkout are hashed relative
# to it, so two clones share their results.
COMPILER_CACHE=()
if command -v ccache >/dev/null 2>&1; then
  COMPILER_CACHE=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
fi

# phase NAME COMMAND...: runs the command (in this shell) and records
# "NAME: SECONDS s" in PHASE_TIMES for the summary of scripts/test.
PHASE_TIMES=()
phase() {
  local name="$1" start rc; shift
  start=$(date +%s)
  "$@"; rc=$?
  PHASE_TIMES+=("$name: $(( $(date +%s) - start )) s")
  return $rc
}

# configure_and_build [CMAKE_ARGS...]: the native tree and both Windows trees.
# The tree of a target this host cannot run is built for its products only.
# Each tree is a phase of its own (PHASE_TIMES).
configure_and_build() {
  phase "build native" build_native "$@" || return 1
  local target
  for target in i686 x86_64; do
    phase "build $(basename "$(win_build_of "$target")")" build_windows "$target" "$@" || return 1
  done
}
build_native() {
  cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "${COMPILER_CACHE[@]}" "$@" \
    >"$BUILD/configure-native.log" 2>&1 \
    || { cat "$BUILD/configure-native.log"; return 1; }
  cmake --build "$NATIVE_BUILD" -j "$JOBS" >"$BUILD/build-native.log" 2>&1 \
    || { tail -60 "$BUILD/build-native.log"; return 1; }
}
build_windows() {  # build_windows TARGET [CMAKE_ARGS...]
  local target="$1"; shift
  local dir log variant=()
  dir="$(win_build_of "$target")"; log="$BUILD/build-$(basename "$dir")"
  if [ "$target" = "$WIN_TARGET" ] && [ -n "${UPDATER_TEST_VARIANT:-}" ]; then
    mapfile -t variant < <(test_variant_args) || return 1
    [ ${#variant[@]} -eq 2 ] || return 1
  fi
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$target.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$BUILD/wine-$target/wine" \
    -DUPDATER_DEPS_DIR="$DEPS" "${COMPILER_CACHE[@]}" "${variant[@]}" "$@" >"$log.configure.log" 2>&1 \
    || { cat "$log.configure.log"; return 1; }
  local what=()
  if ! target_runs_here "$target"; then what=(--target updater patchtool); fi
  cmake --build "$dir" -j "$JOBS" "${what[@]}" >"$log.log" 2>&1 \
    || { tail -60 "$log.log"; return 1; }
}

# A Wine prefix for the Wine in use, made once; later runs reuse it.
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$BUILD/wineboot-$WINE_TARGET.log" 2>&1 || true
    wineserver -w 2>/dev/null || true
  fi
}

# The native tree again under the address and undefined-behaviour sanitizers
# (gcc: it takes -fexec-charset=GBK). Its unit suites and the fuzz replays run
# in scripts/test.
ASAN_BUILD="$BUILD/asan"
SANITIZE_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# -O1 with line tables only: the sanitizers' reports keep their files and
# lines, and the tree compiles in less than half the time of -O2 -g (a test
# source: 9.5 s against 23.9 s).
ASAN_OPTIMIZE="-O1 -g1 -DNDEBUG"
build_asan() {  # (a phase of scripts/test)
  cmake -S "$ROOT" -B "$ASAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ "${COMPILER_CACHE[@]}" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$ASAN_OPTIMIZE" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$ASAN_OPTIMIZE" \
    -DCMAKE_C_FLAGS="$SANITIZE_FLAGS" -DCMAKE_CXX_FLAGS="$SANITIZE_FLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE_FLAGS" >"$BUILD/configure-asan.log" 2>&1 \
    || { cat "$BUILD/configure-asan.log"; return 1; }
  cmake --build "$ASAN_BUILD" -j "$JOBS" >"$BUILD/build-asan.log" 2>&1 \
    || { tail -60 "$BUILD/build-asan.log"; return 1; }
}

# The fuzz harnesses (tests/fuzz) and their stored inputs.
FUZZ_TARGETS=(response_head_fuzz chunked_decoder_fuzz engine_fuzz remote_list_fuzz signed_list_fuzz url_escape_fuzz payload_trailer_fuzz
  proxy_route_fuzz checksum_cache_fuzz zstd_decoder_fuzz)
FUZZ_DATA="$ROOT/tests/fuzz"
