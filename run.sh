#!/usr/bin/env bash
# Installs what is missing, builds, writes the sample catalogue next to the program when it is
# not there yet, and starts De kadrilo (under xvfb-run when there is no display).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
# The program looks for its content files in its own folder; the generator keeps existing files.
QT_QPA_PLATFORM=offscreen ./build/tools/make-sample-catalogue build/app >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "De kadrilo: no display found; starting the program under xvfb-run (a virtual screen)."
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ./build/app/kadrilo "$@"
fi
exec ./build/app/kadrilo "$@"
