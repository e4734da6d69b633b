#!/bin/sh
# pelko-check as a user runs it: --version, --help, files it cannot read, output it cannot write.
# Usage: check_command_line.sh PELKO_CHECK SOURCE_DIR VERSION
set -u
check=$1
source=$2
version=$3
problem=$source/examples/two_stage.txt
work=$(mktemp -d /tmp/pelko_check_XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "pelko-check: $*" >&2
  failed=1
}
# expect STATUS MESSAGE-PATTERN COMMAND...: the status and one line on stderr matching.
expect() {
  status=$1
  pattern=$2
  shift 2
  "$@" 2>"$work/err"
  got=$?
  [ "$got" -eq "$status" ] || fail "$*: status $got, not $status"
  [ "$(wc -l <"$work/err")" -eq 1 ] && grep -Eq -- "$pattern" "$work/err" ||
    fail "$*: stderr is not one line matching $pattern: $(cat "$work/err")"
}

[ "$("$check" --version)" = "pelko-check $version" ] || fail "--version prints $("$check" --version)"
help=$("$check" --help) || fail "--help fails"
# The help's list of errors names the triangle; the warnings do not.
errors=$(printf '%s\n' "$help" | sed -n '/^Errors are/,/^Warnings\|Warnings are/p')
printf '%s\n' "$errors" | grep -q "triangle" || fail "--help does not call a triangle an error"
printf '%s\n' "$help" | sed -n '/Warnings are/,/^$/p' | grep -q "triang" &&
  fail "--help calls a triangle a warning"
for word in --version "pelko(1)" "pelko-report(1)" "when the explanation cannot be written"; do
  printf '%s\n' "$help" | grep -qF -- "$word" || fail "--help does not mention $word"
done

expect 2 "cannot read $work: it is a directory" sh -c '"$0" "$1" >/dev/null' "$check" "$work"
expect 2 "cannot read standard input: it is a directory" sh -c '"$0" <"$1" >/dev/null' "$check" "$work"
expect 2 "cannot open $work/none: No such file or directory" sh -c '"$0" "$1" >/dev/null' "$check" "$work/none"
touch "$work/secret" && chmod 000 "$work/secret"
if [ "$(id -u)" -ne 0 ]; then
  expect 2 "cannot open .*: Permission denied" sh -c '"$0" "$1" >/dev/null' "$check" "$work/secret"
fi

expect 3 "cannot write to standard output: No space left on device" \
  sh -c '"$0" "$1" >/dev/full' "$check" "$problem"
expect 3 "cannot write to standard output: Bad file descriptor" \
  sh -c '"$0" "$1" >&-' "$check" "$problem"
expect 3 "cannot write to standard output" sh -c '"$0" --help >/dev/full' "$check"
expect 3 "cannot write to standard output" sh -c '"$0" --version >/dev/full' "$check"
exit $failed
