#!/usr/bin/env bash
# Replays every stored fuzz input (tests/fuzz/corpus/<target> and
# tests/fuzz/failures/<target>) through the replay builds in BUILD_DIR
# (default: the sanitizer tree). Prints one line per target and ends with
# "N passed, N failed", counted in inputs.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
DIR="${1:-$ASAN_BUILD}/tests/fuzz"
LOG_DIR="$BUILD/fuzz-replay"
rm -rf "$LOG_DIR"; mkdir -p "$LOG_DIR"
passed=0; failed=0
for target in "${FUZZ_TARGETS[@]}"; do
  bin="$DIR/$target"
  inputs=()
  for kind in corpus failures; do
    [ -d "$FUZZ_DATA/$kind/$target" ] && inputs+=("$FUZZ_DATA/$kind/$target")
  done
  if [ ! -x "$bin" ]; then echo "   $target: not built"; failed=$((failed + 1)); continue; fi
  if [ ${#inputs[@]} -eq 0 ]; then echo "   $target: no stored inputs"; failed=$((failed + 1)); continue; fi
  log="$LOG_DIR/$target.log"
  if "$bin" "${inputs[@]}" >"$log" 2>&1; then
    n=$(sed -nE 's/^replayed ([0-9]+) inputs$/\1/p' "$log")
    passed=$((passed + n)); echo "   $target: $n inputs"
    continue
  fi
  # One input broke it: run them one by one to name and count every failure.
  n_ok=0; n_bad=0
  while IFS= read -r -d '' file; do
    if "$bin" "$file" >>"$log.each" 2>&1; then n_ok=$((n_ok + 1)); else n_bad=$((n_bad + 1)); echo "   FAIL $target: ${file#$ROOT/}"; fi
  done < <(find "${inputs[@]}" -type f -print0 | sort -z)
  passed=$((passed + n_ok)); failed=$((failed + n_bad))
  [ $n_bad = 0 ] && failed=$((failed + 1))  # failed as a whole, no single input to blame
  echo "   $target: $n_ok inputs passed, $n_bad failed (log: $log)"
  tail -20 "$log"
done
echo "$passed passed, $failed failed"
[ $failed = 0 ]
