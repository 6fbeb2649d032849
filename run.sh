#!/usr/bin/env bash
# Installs what is missing, builds, and starts De kadrilo.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/app/kadrilo ]; then
  echo "De kadrilo: the application itself is not built yet; its engines and their tests are (./test.sh)."
  exit 0
fi
exec ./build/app/kadrilo "$@"
