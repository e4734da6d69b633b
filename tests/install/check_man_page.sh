#!/bin/sh
# Lints the man page: no warnings from groff or man, every section a reader looks for, the
# version of this build and every exit status.
# Usage: check_man_page.sh PAGE VERSION
set -eu
page=$1
version=$2
fail() {
  echo "$page: $*" >&2
  exit 1
}

warnings=$(groff -man -t -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
if command -v man >/dev/null 2>&1; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$page" 2>&1 >/dev/null) || fail "man failed: $warnings"
  [ -z "$warnings" ] || fail "man warns: $warnings"
fi

head -n 1 "$page" | grep -q "^\.TH PELKO 1 .*\"pelko $version\"" || fail "no .TH line for $version"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS INPUT REPORT "EXIT STATUS" \
  "REPEATING A RUN" EXAMPLES; do
  grep -q "^\.SH \"*$section\"*\$" "$page" || fail "no section $section"
done
text=$(groff -man -t -Tutf8 -P-cbou "$page" 2>/dev/null)
for status in 0 1 2 3; do
  printf '%s\n' "$text" | grep -Eq "^ +$status +[a-z]" || fail "exit status $status not described"
done
for word in --help --version --seed --threads --replications --json nrep difp pelko-check pelko-report; do
  printf '%s\n' "$text" | grep -q -- "$word" || fail "$word not mentioned"
done
