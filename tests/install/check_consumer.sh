#!/bin/sh
# Installs the build into a temporary prefix, then configures, builds and runs a program that
# finds the library there with find_package(pelko) and links pelko::core.
# Usage: check_consumer.sh CMAKE BUILD_DIR SOURCE_DIR
set -eu
cmake=$1
build=$2
source=$3
work=$(mktemp -d /tmp/pelko_consumer_XXXXXX)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
"$cmake" -S "$source/tests/install/consumer" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
"$cmake" --build "$work/build" -j2 >/dev/null
output=$("$work/build/consumer" "$source/examples/two_stage.txt" 1796630709)
echo "$output"
# The results of the README's report, held at that second.
case $output in
  "pelko "*": expected AI 0.175, P(AI < 0.8) 0.9970, stage 1 AI 0.247") ;;
  *) echo "consumer: unexpected output" >&2; exit 1 ;;
esac
