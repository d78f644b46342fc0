#!/bin/sh
# Usage: wine-run.sh WINE PREFIX DLL_OVERRIDES PROGRAM [ARGUMENTS...]
# Runs a Windows program under Wine for CTest (the cross-compiling emulator):
# in the Wine prefix PREFIX, quiet, without the Mono and Gecko installers,
# with DLL_OVERRIDES (WINEDLLOVERRIDES syntax, e.g. "wmvcore=n": the
# project's own wmvcore.dll beside the program; "wmvcore=b": Wine's) added.
# The program's output goes through files: Wine's background services, which
# the program may start and which inherit its output handles, would otherwise
# keep CTest waiting for the end of its output until they exit.
wine=$1
export WINEPREFIX=$2
overrides=$3
shift 3
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=${overrides:+;$overrides}"
out=$(mktemp) && err=$(mktemp) || exit 1
"$wine" "$@" > "$out" 2> "$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
