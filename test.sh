#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once normally,
# once under AddressSanitizer + UndefinedBehaviorSanitizer, then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under ASan+UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" \
  -DKD_SANITIZE=ON -DKD_BENCH=OFF -DKD_TOOLS=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz (short runs)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKD_FUZZ=ON -DKD_TESTS=OFF -DKD_BENCH=OFF -DKD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target kd_fuzzers
./fuzz/run-all.sh build-fuzz "${KD_FUZZ_SECONDS:-20}"
echo "== all tests passed"
