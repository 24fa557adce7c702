#!/usr/bin/env bash
# Installs every Debian package Torvane needs to build, run and test.
# Idempotent: does nothing when everything is present; runs apt-get update only
# when a package is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  libace-dev zlib1g-dev libminizip-dev libfreexl-dev
  qt6-base-dev qt6-charts-dev libgl-dev libqt6opengl6-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev llvm
  libmodbus-dev mbpoll lrzsz socat unzip ser2net
  python3-xlrd python3-xlwt
  xvfb xauth x11-utils xdotool imagemagick
  fonts-wqy-microhei
  lintian dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
