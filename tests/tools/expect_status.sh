#!/bin/sh
# Runs a command and passes only when it exits with exactly STATUS and its standard output has
# a line matching each PATTERN (grep -E).
# Usage: expect_status.sh STATUS [PATTERN...] -- COMMAND [ARGUMENT...]
set -u
expected=$1
shift
patterns=
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  patterns="$patterns$1
"
  shift
done
shift
out=$("$@")
status=$?
printf '%s\n' "$out"
if [ "$status" -ne "$expected" ]; then
  echo "expected status $expected, got $status" >&2
  exit 1
fi
printf '%s' "$patterns" | while IFS= read -r pattern; do
  printf '%s\n' "$out" | grep -Eq -- "$pattern" || { echo "no line matches: $pattern" >&2; exit 1; }
done
