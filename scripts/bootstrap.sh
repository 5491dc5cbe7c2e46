#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  qt6-base-dev
  ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-good espeak-ng xvfb xauth python3
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  libpng-dev libssl-dev
  libfreetype-dev fonts-dejavu-core
  desktop-file-utils shared-mime-info zsh dpkg-dev
  parallel rsync mpv
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
