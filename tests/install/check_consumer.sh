#!/bin/sh
# Installs the build into a temporary prefix, then configures, builds and runs a program that
# finds the library there with find_package(pelko) and links pelko::core.
# Usage: check_consumer.sh CMAKE BUILD_DIR SOURCE_DIR [LINK_FLAGS]
set -eu
cmake=$1
build=$2
source=$3
link_flags=${4:-}
work=$(mktemp -d /tmp/pelko_consumer_XXXXXX)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
"$cmake" -S "$source/tests/install/consumer" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" >/dev/null
"$cmake" --build "$work/build" -j2 >/dev/null
output=$("$work/build/consumer" "$source/examples/two_stage.txt" 1796630709)
echo "$output"
# The results of the README's report, held at that second, then the count of replications
# below four fifths in a design where some hire exactly four fifths.
first=$(echo "$output" | sed -n 1p)
case $first in
  "pelko "*": expected AI 0.175, P(AI < 0.8) 0.9970, stage 1 AI 0.247") ;;
  *) echo "consumer: unexpected output" >&2; exit 1 ;;
esac

# What the installed library must refuse: a float ratio, and a header that is not its own.
refused() {
  if "$cmake" --build "$work/build" --target "refused_$1" >"$work/$1.log" 2>&1; then
    echo "consumer: refused_$1 built" >&2
    exit 1
  fi
  if ! grep -q "$2" "$work/$1.log"; then
    echo "consumer: refused_$1 failed for another reason:" >&2
    cat "$work/$1.log" >&2
    exit 1
  fi
}
refused float_ratio "deleted function"
refused internal_header "engine/engine.h: No such file"
