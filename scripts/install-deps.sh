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
apt_install() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null
}

# Packages of a foreign architecture that are "Multi-Arch: same" must have the
# very version of their native sibling. Where the foreign architecture's
# index lags the native one (a security index that failed to download while a
# mirror syncs), the native candidate has no foreign twin and apt gives up.
# Prints apt preferences that make both architectures take the newest version
# both have (the release's own where the lagging index is missing), allowing
# a downgrade of the native package where that is older than what is
# installed.
aligned_versions() {
  local arch=$1 native names
  native=$(dpkg --print-architecture)
  names=$(dpkg-query -W -f='${Package} ${Multi-Arch} ${Architecture} ${db:Status-Abbrev}\n' |
    awk -v n="$native" '$2 == "same" && $3 == n && $4 ~ /^ii/ {print $1}')
  {
    apt-cache policy $names 2>/dev/null |
      awk '/^[^ ]/ {sub(/:$/, ""); p = $1} /Candidate:/ {print "C", p, $2}'
    apt-cache madison $(sed "s/\$/:$arch/" <<<"$names") $names 2>/dev/null | sed 's/^/M /'
  } | awk -v a=":$arch" -F' *[|] *' '
    /^C / { split($0, f, " "); cand[f[2]] = f[3]; next }
    { name = substr($1, 3); sub(/^ +/, "", name); v = $2
      if (name ~ a "$") { sub(a "$", "", name); foreign[name, v] = 1 }
      else if (!((name, v) in seen)) { seen[name, v] = 1; order[name] = order[name] " " v } }
    END { for (p in cand) { if ((p, cand[p]) in foreign) continue
            n = split(order[p], vs, " ")
            for (i = 1; i <= n; i++) if ((p, vs[i]) in foreign) { print p, vs[i]; break } } }' |
    sort | while read -r package version; do
      installed=$(dpkg-query -W -f='${Version}' "$package:$native")
      priority=990
      dpkg --compare-versions "$installed" gt "$version" && priority=1001
      printf 'Package: %s:%s %s:%s\nPin: version %s\nPin-Priority: %s\n\n' \
        "$package" "$native" "$package" "$arch" "$version" "$priority"
    done
}

if [ -n "$architectures" ] &&
  ! apt-get install -s -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
  preferences=/etc/apt/preferences.d/kestrum-install-deps.pref
  trap '"${as_root[@]}" rm -f "$preferences"' EXIT
  for arch in $architectures; do aligned_versions "$arch"; done |
    "${as_root[@]}" tee "$preferences" >/dev/null
  echo "install-deps.sh: the indexes of $(echo $architectures) lag those of" \
    "$(dpkg --print-architecture); installing with versions both have:" \
    $(awk '/^Package:/ {p = $2; sub(/:.*/, "", p)} /^Pin:/ {printf "%s=%s ", p, $3}' "$preferences")
  apt_install --allow-downgrades "${missing[@]}"
else
  apt_install "${missing[@]}"
fi
