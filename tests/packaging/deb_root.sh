#!/bin/sh
# Installs the Debian packages with apt-get into a throwaway root, as a user
# of a Debian machine would, and removes them again. The root is this system
# seen through an overlay whose changes all land in a tmpfs inside WORK_DIR,
# mounted in a private mount namespace: nothing is written to the system
# itself, and the mounts end with the check. Needs root (CAP_SYS_ADMIN).
#
# In the root: apt-get installs the packages (their dependencies from the
# system's own); the program runs and hosts build with find_package and
# pkg-config from the system's search paths alone (build_hosts.sh); then
# `apt-get remove` leaves nothing behind but dpkg's and apt's own records and
# logs and the loader's cache, and after `apt-get purge` dpkg knows the
# packages no more.
#
# Usage: deb_root.sh WORK_DIR HOST_SOURCE_DIR C_COMPILER CMAKE GENERATOR LIBDIR DEB...
set -eu

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if [ "${1:-}" != --in-namespace ]; then
  exec unshare --mount --propagation private "$0" --in-namespace "$@"
fi
shift
work=$1 host_source=$2 cc=$3 cmake=$4 generator=$5 libdir=$6
shift 6

mkdir -p "$work/overlay"
mount -t tmpfs -o size=1g,mode=755 kestrum-check "$work/overlay"
upper=$work/overlay/upper root=$work/overlay/root
mkdir "$upper" "$work/overlay/scratch" "$root"
mount -t overlay kestrum-check -o "lowerdir=/,upperdir=$upper,workdir=$work/overlay/scratch" "$root"
# apt and dpkg write to /dev/null, and sanitized builds read /proc: neither
# of the system's is in the overlay.
mknod -m 666 "$root/dev/null" c 1 3
mount -t proc kestrum-check "$root/proc"

# What the root needs from outside, copied in: the packages, the host's
# sources and the host builder.
check=/kestrum-check
mkdir "$root$check"
cp "$@" "$root$check/"
cp -r "$host_source" "$root$check/host"
cp "$(dirname "$0")/build_hosts.sh" "$root$check/"
packages=$(for deb in "$@"; do dpkg-deb -f "$deb" Package; done | tr '\n' ' ')

in_root() {
  chroot "$root" env DEBIAN_FRONTEND=noninteractive "$@"
}
apt() {
  in_root apt-get -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "$@" >>"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get $*"; }
}

# Files the packages left: whatever the overlay holds that the system does
# not (or holds otherwise), but for apt's and dpkg's state, their logs, the
# loader's cache that the ldconfig trigger rewrites, and this check's own.
leftovers() {
  (cd "$upper" && find . -mindepth 1 \( -path ./kestrum-check -o -path ./var/lib/dpkg \
    -o -path ./var/lib/apt -o -path ./var/cache -o -path ./var/log -o -path ./dev/null \
    -o -path ./etc/ld.so.cache \) -prune -o -print) |
    while read -r path; do
      path=${path#.}
      if [ -d "$upper$path" ] && [ ! -L "$upper$path" ]; then
        [ -d "$path" ] || echo "$path/"
      elif [ -L "$upper$path" ]; then
        [ -L "$path" ] && [ "$(readlink "$path")" = "$(readlink "$upper$path")" ] || echo "$path"
      elif [ -c "$upper$path" ]; then
        echo "$path (removed from the system)"
      else
        [ -f "$path" ] && cmp -s "$path" "$upper$path" || echo "$path"
      fi
    done
}

# shellcheck disable=SC2086
apt install $(for deb in "$@"; do echo "$check/$(basename "$deb")"; done)
for package in $packages; do
  [ "$(in_root dpkg-query -W -f '${Status}' "$package")" = "install ok installed" ] ||
    fail "$package is not installed"
done
in_root "$check/build_hosts.sh" /usr "$libdir" "$check/hosts" "$check/host" "$cc" "$cmake" \
  "$generator" || fail "the installed packages (see above)"

# shellcheck disable=SC2086
apt remove $packages
left=$(leftovers)
[ -z "$left" ] || fail "apt-get remove left behind:
$left"
# What dpkg still knows after the removal (a package with a postrm script,
# kept for its purge call) goes with apt-get purge.
known=$(for package in $packages; do
  ! in_root dpkg-query -W "$package" >/dev/null 2>&1 || echo "$package"
done)
# shellcheck disable=SC2086
[ -z "$known" ] || apt purge $known
for package in $packages; do
  ! in_root dpkg-query -W "$package" >/dev/null 2>&1 || fail "dpkg still knows $package"
done
left=$(leftovers)
[ -z "$left" ] || fail "apt-get purge left behind:
$left"
echo "installed with apt-get into a throwaway root ($packages), used, removed: ok"
