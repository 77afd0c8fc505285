#!/bin/bash
# lumetta with one descriptor free: the stop signals' pipe (two) cannot be
# made, and it refuses to show a window that no stop could end.
# Usage: NoStopDescriptor_test.sh LUMETTA
set -u
expected='lumetta: cannot watch for stop signals: no descriptor is left for it'
said=$(
  # What the test runner leaves open would take the free number.
  for fd in /proc/self/fd/*; do
    n=${fd##*/}
    ((n > 2)) && eval "exec $n>&-" 2>/dev/null
  done
  exec 2>&1 >/dev/null
  ulimit -n 4 || exit 99
  DISPLAY=:nowhere exec "$1" --platform gtk --seconds 0
)
status=$?
if [[ $status -ne 1 || $said != "$expected" ]]; then
  echo "expected exit 1 and: $expected"
  echo "got exit $status and: $said"
  exit 1
fi
