#!/usr/bin/env bash
# The README's two commands on a fresh machine: makes a minimal Debian 12 root
# (debootstrap --variant=minbase) from the package mirror this machine's apt
# uses, clones this repository into it as CI does (its committed HEAD), and
# runs scripts/demo.sh and scripts/test.sh inside it as root, each followed
# by the README's install step into a prefix of its own. First it checks
# that a user who is neither root nor able to sudo is told what to install.
#
# The root has only its own device nodes (made with mknod by debootstrap) and
# a proc of its own, unmounted afterwards; nothing of the machine's /dev, /sys
# or other system paths is bound into it. Needs root (chroot, mount).
#
# The bare root is kept as a tarball in the cache folder and unpacked afresh
# for every run, so no run sees what another installed; it is made again when
# the mirror or the suite changes or after a week (the root's apt fetches the
# current package lists itself either way).
#
# Usage: scripts/check-fresh.sh [--keep] [work folder, default /var/tmp/kestrum-fresh]
#   --keep   leave the root in the work folder for a look afterwards
# Environment: KESTRUM_FRESH_CACHE  cache folder (default /var/cache/kestrum-fresh)
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
if [ "${1:-}" = --keep ]; then
  keep=1
  shift
fi
work=${1:-/var/tmp/kestrum-fresh}
cache=${KESTRUM_FRESH_CACHE:-/var/cache/kestrum-fresh}
suite=bookworm
started=$SECONDS
phase() { echo "== check-fresh: $1 ($((SECONDS - started)) s)"; }

[ "$(id -u)" -eq 0 ] || { echo "check-fresh.sh: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
scripts/install-deps.sh --only debootstrap git

# The first Debian archive this machine's apt reads, from either source format.
mirror() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'tolower($1) == "uris:" && $2 !~ /security/ { print $2; exit }' "$f"
  done
  { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
    awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) print $i; break } }'
}
url=$(mirror | sed -n 1p)
[ -n "$url" ] || { echo "check-fresh.sh: no Debian mirror in this machine's apt configuration" >&2; exit 1; }

# --- the bare root, cached -----------------------------------------------------
mkdir -p "$cache"
key=$(printf '%s %s %s\n' "$suite" "$url" "$(dpkg-query -W -f='${Version}' debootstrap)" | md5sum | cut -c1-12)
tarball=$cache/debian-$suite-minbase-$key.tar
if [ -z "$(find "$tarball" -mtime -7 2>/dev/null)" ]; then
  phase "making a minimal $suite root from $url"
  bare=$(mktemp -d "$cache/bare.XXXXXX")
  chmod 755 "$bare"
  trap 'rm -rf "$bare"' EXIT
  debootstrap --variant=minbase "$suite" "$bare" "$url" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  tar -C "$bare" -cf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  rm -rf "$bare"
  trap - EXIT
  find "$cache" -maxdepth 1 -name "debian-$suite-minbase-*.tar" ! -path "$tarball" -delete
fi

# --- a fresh root for this run ---------------------------------------------------
phase "unpacking the root into $work"
root=$work/root
cleanup() {
  mountpoint -q "$root/proc" && umount "$root/proc"
  if ((keep)); then
    echo "check-fresh: the root stays in $root"
  else
    rm -rf "$work"
  fi
}
if [ -d "$root/proc" ] && mountpoint -q "$root/proc"; then umount "$root/proc"; fi
rm -rf "$work"
mkdir -p "$root"
trap cleanup EXIT
tar -C "$root" -xf "$tarball"
chmod 755 "$root"
# Names resolve inside as they do on this machine; apt reads the same mirror.
cp /etc/hosts /etc/resolv.conf "$root/etc/"
printf 'deb %s %s main\n' "$url" "$suite" >"$root/etc/apt/sources.list"
git clone -q "$PWD" "$root/root/kestrum"
mount -t proc proc "$root/proc"

inside() {  # inside USER COMMAND: runs COMMAND in the clone, with a clean environment
  chroot --userspec="$1" "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/kestrum && $2"
}

phase "a user without root or sudo"
chmod 755 "$root/root"
if message=$(inside nobody:nogroup scripts/install-deps.sh 2>&1); then
  echo "check-fresh.sh: install-deps.sh succeeded for a user who cannot install" >&2
  exit 1
fi
case $message in
  *"install them (apt-get install "*"or run this as root"*) echo "$message" ;;
  *) printf 'check-fresh.sh: install-deps.sh told a user without sudo:\n%s\n' "$message" >&2; exit 1 ;;
esac

phase "scripts/demo.sh"
inside root scripts/demo.sh
phase "the README's install step after scripts/demo.sh"
inside root "cmake --install build --prefix /tmp/kestrum-after-demo"
phase "scripts/test.sh"
inside root scripts/test.sh
phase "the README's install step after scripts/test.sh"
inside root "cmake --install build --prefix /tmp/kestrum-after-test"
phase "both commands passed on a fresh Debian $suite"
