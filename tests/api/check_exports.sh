#!/bin/sh
# Usage: check_exports.sh LIBRARY. Fails unless the library's dynamic symbol
# table defines exactly the fifteen functions of the C API.
set -eu
expected="CreateRecordInstance
KestrumDescribeStatus
KestrumGetRecordStats
KestrumGetVersion
KestrumSetDebugOutput
KestrumSetRecordDebugOutput
KestrumSetSyncInterval
KestrumSetTransferSync
KestrumSwitchOutput
KestrumTransferToAsfEx
ReleaseRecordInstance
SendOneFrame
StartRecord
StopRecord
TransferToAsf"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | grep -v '^$' | sort)
if [ "$actual" != "$expected" ]; then
  echo "unexpected exports of $1:"
  echo "$actual"
  exit 1
fi
echo "exports of $1: ok"
