#!/usr/bin/env bash
# Installs the Debian packages that Vedrik builds, runs and tests with.
# Idempotent: apt-get runs only when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev
  libsdl2-dev libimgui-dev nlohmann-json3-dev libnng-dev
  libgtest-dev libgmock-dev
  libx11-dev libxtst-dev
  clang libclang-rt-14-dev
  xvfb xdotool imagemagick x11-utils iproute2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
