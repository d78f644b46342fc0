#!/bin/sh
# Usage: check_windows_exports.sh OBJDUMP DLL NAME=ORDINAL...
# Fails unless the DLL's export table (as `OBJDUMP -p` prints it) holds
# exactly the given functions, by undecorated name, at the given ordinals,
# with no unnamed entry, and unless the DLL imports no compiler run-time DLL
# (it must have been linked -static).
set -eu
objdump=$1
dll=$2
shift 2

dump=$("$objdump" -p "$dll")

# "NAME=ORDINAL" lines from the export table. The name table gives each name
# either as an index into the address table ("[   0] Name", older binutils) or
# with the ordinal spelled out ("[   0] +base[   1] ... Name").
actual=$(printf '%s\n' "$dump" | awk '
  /^Export Address Table -- Ordinal Base/ { base = $NF; in_eat = 1; next }
  in_eat && /^\t\[/ { entries++ }
  in_eat && /^$/ { in_eat = 0 }
  /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
  in_names && /^$/ { in_names = 0 }
  in_names && /^\t\[/ {
    line = $0
    if (match(line, /\+base\[ *[0-9]+\]/)) {
      ordinal = substr(line, RSTART, RLENGTH); gsub(/[^0-9]/, "", ordinal)
    } else {
      match(line, /\[ *[0-9]+\]/)
      index_ = substr(line, RSTART, RLENGTH); gsub(/[^0-9]/, "", index_)
      ordinal = index_ + base
    }
    printf "%s=%d\n", $NF, ordinal
    named++
  }
  END { if (entries != named) printf "unnamed-entries=%d\n", entries - named }
' | sort)

expected=$(for pair in "$@"; do echo "$pair"; done | sort)
if [ "$actual" != "$expected" ]; then
  echo "unexpected export table of $dll:"
  echo "$actual"
  echo "expected:"
  echo "$expected"
  exit 1
fi

runtime=$(printf '%s\n' "$dump" | awk '/DLL Name:/ { print $3 }' | grep -i -E '^lib(stdc\+\+|gcc|winpthread)' || true)
if [ -n "$runtime" ]; then
  echo "$dll imports compiler run-time DLLs: $runtime"
  exit 1
fi
echo "exports of $dll: ok"
printf '%s\n' "$actual"
