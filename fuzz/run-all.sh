#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: first over its kept regression inputs
# (each must end cleanly), then fuzzing from its seed corpus. Fails on any crash.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  work=$(mktemp -d)
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/"; fi
  if [ -d "$here/regressions/$name" ] && [ -n "$(ls -A "$here/regressions/$name")" ]; then
    echo "-- $name: regression inputs"
    "$exe" "$here/regressions/$name"/* >/dev/null 2>&1 || { echo "FAIL: $name regression input"; status=1; }
  fi
  dict=()
  [ -f "$here/$name.dict" ] && dict=(-dict="$here/$name.dict")
  echo "-- $name: fuzzing ${seconds}s"
  if ! (cd "$work" && "$exe" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          -print_final_stats=0 "$work" >"$work.log" 2>&1); then
    echo "FAIL: $name"; tail -n 40 "$work.log"; status=1
    cp "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$here/" 2>/dev/null || true
  fi
  rm -rf "$work" "$work.log"
done
exit $status
