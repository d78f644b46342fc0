#!/usr/bin/env bash
# Runs docs/batch.md's GNU parallel recipe, as written there, over a small
# archive on this machine (the login ":"), and checks every result: each
# stream's file holds the same samples as a conversion of it on its own, and
# the one input that is not a stream is logged as failed with exit code 4.
# Usage: check_batch_parallel.sh KESTRUM BATCH_MD WORK_DIR
set -euo pipefail
kestrum=$1 doc=$2 work=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v parallel >/dev/null || fail "GNU parallel is not installed"

rm -rf "$work"
mkdir -p "$work/archive/cam1" "$work/archive/cam2/2026-12" "$work/out" "$work/home/.parallel"
touch "$work/home/.parallel/will-cite"
streams=(cam1/a cam1/b cam2/2026-12/c cam2/2026-12/d)
state=1
for s in "${streams[@]}"; do
  "$kestrum" generate "$work/archive/$s.xqv" --frames 60 --random-state $((state++)) >/dev/null
done
printf 'not a stream' >"$work/archive/cam2/junk.xqv"
echo "2/:" >"$work/nodes.txt"

sed -n '/<!-- recipe: parallel -->/,/<!-- end recipe -->/p' "$doc" | sed '/^<!--/d; /^```/d' \
  >"$work/recipe.sh"
[ -s "$work/recipe.sh" ] || fail "no parallel recipe in $doc"
failed=0
(cd "$work" && env HOME="$work/home" PATH="$(dirname "$kestrum"):$PATH" \
  ARCHIVE="$work/archive" OUT="$work/out" NODES="$work/nodes.txt" bash recipe.sh) || failed=$?
[ "$failed" = 1 ] || fail "parallel reported $failed failed tasks, not 1"

samples() { ffprobe -v error -show_data_hash MD5 -show_entries packet=data_hash -of csv=p=0 "$1"; }
for s in "${streams[@]}"; do
  out=$work/out/$s.asf
  [ -f "$out" ] || fail "no $out"
  "$kestrum" convert "$work/archive/$s.xqv" "$work/alone.asf" >/dev/null
  samples "$out" >"$work/got.txt"
  samples "$work/alone.asf" >"$work/want.txt"
  [ "$(wc -l <"$work/want.txt")" -gt 0 ] && cmp -s "$work/got.txt" "$work/want.txt" ||
    fail "$s.asf does not hold the samples of a conversion on its own"
done
# The job log: one line per task, column 7 the exit code.
awk -F'\t' 'NR > 1 { print $7, $NF }' "$work/out/convert.log" | sort >"$work/exits.txt"
[ "$(grep -c '^0 ' "$work/exits.txt")" = ${#streams[@]} ] || { cat "$work/exits.txt"; fail "exit codes"; }
grep -q '^4 .*junk.xqv' "$work/exits.txt" || { cat "$work/exits.txt"; fail "the junk input's exit code"; }
echo "docs/batch.md's parallel recipe: ${#streams[@]} streams converted, the junk one logged with 4: ok"
