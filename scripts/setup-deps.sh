#!/usr/bin/env bash
# Installs the Debian packages the project needs; skips those already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev zlib1g-dev libjpeg62-turbo-dev libopenjp2-7-dev libfribidi-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-liberation2
  xvfb xauth x11-xkb-utils clang libclang-rt-14-dev libxml2-utils python3
  libxtst6
  poppler-utils imagemagick netpbm
  libpugixml-dev libexpat1-dev libcairo2-dev libgif-dev libimagequant-dev libpng-dev libspng-dev
  qt6-webengine-dev
  openssl
  lld
  libemf-dev emf2svg librsvg2-bin librsvg2-dev
)
# npm installs the Flash player's Ruffle files; a Node.js that brings its own npm is fine.
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)

# The pinned Ruffle web player, from platform/flash's lock file into platform/flash/node_modules.
install_flash_player() {
  local dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/platform/flash"
  local want
  want="$(sed -n 's/.*"@ruffle-rs\/ruffle": *"\([^"]*\)".*/\1/p' "$dir/package.json" | head -n1)"
  if [ -f "$dir/node_modules/@ruffle-rs/ruffle/package.json" ] &&
     grep -q "\"version\": *\"$want\"" "$dir/node_modules/@ruffle-rs/ruffle/package.json"; then
    return 0
  fi
  echo "Installing the Ruffle web player $want into $dir/node_modules"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  install_flash_player
  exit 0
fi

cmd=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    sudo env DEBIAN_FRONTEND=noninteractive "${cmd[@]}"
    install_flash_player
    exit 0
  fi
  echo "These packages are missing: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  sudo apt-get update && sudo DEBIAN_FRONTEND=noninteractive ${cmd[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
"${cmd[@]}"
install_flash_player
