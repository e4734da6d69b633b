#!/bin/sh
# Installs the build into a temporary prefix and checks what a user finds there.
# Usage: check_install.sh CMAKE BUILD_DIR SOURCE_DIR VERSION
set -eu
cmake=$1
build=$2
source=$3
version=$4
prefix=$(mktemp -d /tmp/pelko_install_XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "install: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
docs=$prefix/share/doc/pelko
[ -x "$prefix/bin/pelko" ] || fail "no bin/pelko"
[ -f "$prefix/share/man/man1/pelko.1" ] || fail "no share/man/man1/pelko.1"
for file in README.md LICENSE CHANGELOG.md; do
  cmp -s "$source/$file" "$docs/$file" || fail "share/doc/pelko/$file differs or is missing"
done
for example in "$source"/examples/*.txt; do
  cmp -s "$example" "$docs/examples/${example##*/}" || fail "example ${example##*/} not installed"
done
# Every picture the README links is installed next to it.
for picture in $(grep -o 'doc/[A-Za-z0-9_.-]*\.png' "$source/README.md"); do
  [ -f "$docs/$picture" ] || fail "README's $picture not installed"
done
sh "$source/tests/install/check_man_page.sh" "$prefix/share/man/man1/pelko.1" "$version"

[ "$("$prefix/bin/pelko" --version)" = "pelko $version" ] || fail "wrong --version"
"$prefix/bin/pelko" <"$docs/examples/two_stage.txt" >"$prefix/report" || fail "example run failed"
grep -q "^CPU TIME IN SECONDS" "$prefix/report" || fail "example report incomplete"
