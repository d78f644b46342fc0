#!/bin/sh
# The program's manual page and bash completion against the program: the page
# formats without a warning, and every command the program's usage lists has
# a section of its own in the page and is offered by the completion.
# Usage: check_man_page.sh GROFF MAN_PAGE COMPLETION PROGRAM
set -eu
groff=$1 page=$2 completion=$3 program=$4

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
for command in $commands; do
  grep -qx "\.SS $command" "$page" || fail "the manual page has no section for '$command'"
  case " $offered " in *" $command "*) ;; *) fail "the completion does not offer '$command'" ;; esac
done
echo "manual page and completion: every command of $(echo $commands | wc -w): ok"
