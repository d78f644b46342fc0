#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing.
# Usage: install-deps.sh [--only] [extra Debian packages...]
#   --only   install just the packages named, not the build and test tools
# A package named with an architecture (wine32:i386) adds that architecture
# to dpkg first. As root it runs apt-get itself, otherwise through sudo; with
# neither it names what to install and fails.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev ffmpeg mediainfo pkg-config file
  nlohmann-json3-dev libfuse3-dev python3)
if [ "${1:-}" = --only ]; then
  shift
  packages=()
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps.sh: missing Debian packages: ${missing[*]}; install them" \
      "(apt-get install ${missing[*]}) or run this as root" >&2
    exit 1
  fi
  as_root=(sudo)
fi

architectures=$(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u)
for arch in $architectures; do
  dpkg --print-foreign-architectures | grep -qx "$arch" ||
    "${as_root[@]}" dpkg --add-architecture "$arch"
done

echo "Installing: ${missing[*]}"
# A mirror caught mid-sync fails one index of many; what the other indexes
# hold still installs, and apt-get install says so if a package is missing.
"${as_root[@]}" apt-get update -qq ||
  echo "install-deps.sh: apt-get update failed for some indexes; installing from those it has" >&2
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
