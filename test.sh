#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once normally,
# once under AddressSanitizer + UndefinedBehaviorSanitizer, then a short run of every fuzz target.
# To keep every core busy, the tests of one build run while the next build compiles; the output
# of such a pair is printed step by step once both have ended. Any failing step fails the run.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs one step and says how long it took.
timed() {
  local start=$SECONDS status=0
  "$1" || status=$?
  echo "-- $1: $((SECONDS - start)) s"
  return $status
}

# Runs the named steps (shell functions) side by side, then prints each one's output in order.
# Returns non-zero if any of them failed. A step's status is that of its last command.
side_by_side() {
  local step pids=() failed=() status=0 i=0
  echo "== running side by side: $*"
  for step in "$@"; do
    timed "$step" >"$logs/$step.log" 2>&1 &
    pids+=($!)
  done
  for step in "$@"; do
    failed[$i]=0
    wait "${pids[$i]}" || { failed[$i]=1; status=1; }
    i=$((i + 1))
  done
  i=0
  for step in "$@"; do
    cat "$logs/$step.log"
    [ "${failed[$i]}" -eq 0 ] || echo "!! step $step failed"
    i=$((i + 1))
  done
  return $status
}

configure_release() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
}
configure_asan() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" \
    -DKD_SANITIZE=ON -DKD_BENCH=OFF -DKD_TOOLS=ON >/dev/null
}
configure_fuzz() {
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKD_FUZZ=ON -DKD_TESTS=OFF -DKD_BENCH=OFF -DKD_TOOLS=OFF >/dev/null
}
build_release() {
  echo "== build"
  cmake --build build -j "$jobs"
}
test_release() {
  echo "== test"
  ctest --test-dir build --output-on-failure -j "$jobs"
}
build_asan() {
  echo "== build under ASan+UBSan"
  cmake --build build-asan -j "$jobs"
}
test_asan() {
  echo "== test under ASan+UBSan"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
}
build_fuzz() {
  echo "== build the fuzz targets"
  cmake --build build-fuzz -j "$jobs" --target kd_fuzzers
}

side_by_side configure_release configure_asan configure_fuzz
timed build_release
side_by_side test_release build_asan
side_by_side test_asan build_fuzz
# The fuzzers run alone: each has its time on a core of its own.
echo "== fuzz (short runs)"
./fuzz/run-all.sh build-fuzz "${KD_FUZZ_SECONDS:-20}"
echo "== all tests passed in $SECONDS s"
