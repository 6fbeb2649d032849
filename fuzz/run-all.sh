#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: first over its kept regression inputs
# (each must end cleanly), then fuzzing from its seed corpus. Targets run side by side,
# as many at once as there are cores. Fails on any crash.
# The fuzzing seed is fixed (KD_FUZZ_SEED, default 1) so that a run is repeatable: a short
# run explores a prefix of what a longer run with the same seed explored. KD_FUZZ_SEED=0
# picks a new seed each time, for longer campaigns.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
jobs=${KD_FUZZ_JOBS:-$(nproc)}
export KD_FUZZ_SEED=${KD_FUZZ_SEED:-1}
# Undefined behaviour fails a run like a crash does.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

run_one() {
  local exe=$1 seconds=$2 here=$3
  local name work status=0
  name=$(basename "$exe")
  work=$(mktemp -d)
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/"; fi
  if [ -d "$here/regressions/$name" ] && [ -n "$(ls -A "$here/regressions/$name")" ]; then
    if ! "$exe" "$here/regressions/$name"/* >"$work.reg.log" 2>&1; then
      echo "FAIL: $name regression input"; tail -n 40 "$work.reg.log"; status=1
    fi
  fi
  local dict=()
  [ -f "$here/$name.dict" ] && dict=(-dict="$here/$name.dict")
  if ! (cd "$work" && "$exe" "${dict[@]}" -seed="$KD_FUZZ_SEED" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          -print_final_stats=0 "$work" >"$work.log" 2>&1); then
    echo "FAIL: $name"; tail -n 40 "$work.log"; status=1
    cp "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$here/" 2>/dev/null || true
  fi
  [ $status -eq 0 ] && echo "-- $name: regressions and ${seconds}s of fuzzing clean"
  rm -rf "$work" "$work.log" "$work.reg.log"
  return $status
}
export -f run_one

targets=()
for exe in "$build"/fuzz/fuzz_*; do [ -x "$exe" ] && targets+=("$exe"); done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build/fuzz"; exit 1; }
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$here"
