#!/bin/sh
# The shared libraries' ABI against the descriptions stored in ABI_DIR
# (abidw, Debian's abigail-tools): fails when abidiff finds a change that
# breaks a host built against the stored ABI (an export removed, a signature
# or a public type changed). A compatible change (an export added) is shown
# and passes: the stored descriptions are those of the last release
# (CHANGELOG.md states the rule).
#
# The descriptions hold only what the public headers declare (the exported
# functions and the types they reach), without source locations, the
# libraries they need (which differ between build types) or the
# build's paths, so that a rebuild anywhere gives the same bytes.
#
# Usage: check_abi.sh [--update] SOURCE_DIR ABI_DIR LIBRARY...
#   --update  writes the descriptions anew instead (a new SONAME, a release)
set -eu
update=0
if [ "$1" = --update ]; then
  update=1
  shift
fi
source_dir=$(cd "$1" && pwd) abi_dir=$2
shift 2

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

headers="--headers-dir $source_dir/include --headers-dir $source_dir/quarnel/include"
describe() {
  # shellcheck disable=SC2086
  abidw --no-corpus-path --no-show-locs --no-comp-dir-path --no-elf-needed --type-id-style hash \
    --exported-interfaces-only --drop-private-types $headers "$1" |
    sed "s|path='$source_dir/|path='|"
}

status=0
built=$(mktemp -d)
trap 'rm -rf "$built"' EXIT
for library in "$@"; do
  soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ -n "$soname" ] || fail "$library has no SONAME"
  stored=$abi_dir/$soname.abi
  if [ $update = 1 ]; then
    mkdir -p "$abi_dir"
    describe "$library" >"$stored"
    echo "wrote $stored"
    continue
  fi
  [ -f "$stored" ] || fail "no stored ABI for $soname ($stored): a new SONAME needs one (--update)"
  # Both sides described alike. abidiff's status is a bit field: 1 error,
  # 2 usage error, 4 a change, 8 a removal. Added exports aside, any change
  # to what the stored ABI holds (a type's layout, a parameter) breaks it.
  describe "$library" >"$built/$soname.abi"
  code=0
  report=$(abidiff --no-added-syms "$stored" "$built/$soname.abi" 2>&1) || code=$?
  if [ $((code & 3)) -ne 0 ]; then
    echo "$report"
    fail "abidiff could not compare $library with $stored (status $code)"
  elif [ $code -ne 0 ]; then
    echo "$report"
    echo "FAIL: $soname: the change above breaks the ABI of $stored" >&2
    status=1
  elif ! report=$(abidiff "$stored" "$built/$soname.abi" 2>&1); then
    echo "$report"
    echo "$soname: exports added to the stored ABI, which stays compatible (CHANGELOG.md: Added)"
  else
    echo "$soname: the ABI of $stored: ok"
  fi
done
exit $status
