#!/bin/sh
# The program's manual page and bash completion against the program: the page
# formats without a warning, and every command the program's usage lists
# (in one place) has a section of its own in the page and is offered by the
# completion; every option a command's help lists is in the page and offered
# by the completion, and those of its usage lines are in the program's usage.
# The completion runs in a plain bash, without the bash-completion package.
# Usage: check_man_page.sh GROFF MAN_PAGE COMPLETION PROGRAM
set -eu
groff=$1 page=$2 program=$4
completion=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

warnings=$("$groff" -man -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
offered=$(sed -n 's/^ *local commands="\(.*\)"$/\1/p' "$completion")
[ -n "$offered" ] || fail "no command list in $completion"
commands=$("$program" help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p' | sort -u)
[ -n "$commands" ] || fail "no commands in the program's usage"
usage=$("$program" help | sed -n '/^Commands:/,/^$/p')
twice=$(echo "$usage" | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' | uniq | sort | uniq -d)
[ -z "$twice" ] || fail "the program's usage lists '$twice' in two places"

# What the completion offers for the words given, the last at the cursor, in
# a bash that has only the completion loaded; anything on stderr fails.
complete_words() {
  bash --norc --noprofile -c '. "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _kestrum kestrum "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' complete_words "$completion" "$@" 2>"$errors"
  [ ! -s "$errors" ] || fail "completing '$*': $(cat "$errors")"
}
errors=$(mktemp)
folder=$(mktemp -d)
trap 'rm -rf "$errors" "$folder"' EXIT
mkdir "$folder/dir" && : >"$folder/file"

for command in $commands; do
  grep -qx "\.SS $command" "$page" || fail "the manual page has no section for '$command'"
  case " $offered " in *" $command "*) ;; *) fail "the completion does not offer '$command'" ;; esac
  help=$("$program" "$command" --help)
  options=$(echo "$help" | sed -n '/^Options:/,$s/^ *\(-[a-zA-Z], \)\{0,1\}\(--[a-z][a-z_-]*\).*/\2/p' | sort -u)
  completed=" $(complete_words kestrum "$command" -- | tr '\n' ' ') "
  for option in $options; do
    case $completed in *" $option "*) ;; *) fail "the completion does not offer $command $option" ;; esac
    grep -qF -- "$(echo "$option" | sed 's/-/\\-/g')" "$page" ||
      fail "the manual page does not tell $command $option"
  done
  in_usage=$(echo "$help" | sed -n "s/^\(Usage:\)\{0,1\} *kestrum $command //p" | grep -o -- '--[a-z][a-z-]*' | sort -u)
  listed=$(echo "$usage" | sed -n "/^  $command /,/^  [a-z]/p")
  for option in $in_usage; do
    echo "$listed" | grep -q -- "$option" || fail "the program's usage leaves out $command $option"
  done
done
[ -z "$(complete_words kestrum help convert '')" ] || fail "'help convert' completes more"
dirs=$(cd "$folder" && complete_words kestrum convert in --output-dir = '')
[ "$dirs" = dir ] || fail "'--output-dir=' completes '$dirs', not the folder"
echo "manual page and completion: every command of $(echo $commands | wc -w) and its options: ok"
