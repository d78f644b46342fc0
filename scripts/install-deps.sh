#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing.
# Usage: install-deps.sh [extra Debian packages...]
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev ffmpeg mediainfo pkg-config "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
