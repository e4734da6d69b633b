#!/usr/bin/env bash
# Builds the project into a build folder and runs every test.
# Usage: scripts/test.sh [build-folder] [extra cmake -D options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The Debian packages the tests need: installed as root, or the apt-get line to run.
"$root/scripts/install-deps.sh"
build=${1:-build}
shift || true
# Every test: the Python module's and the R package's too (a later -DPELKO_PYTHON=OFF or
# -DPELKO_R=OFF leaves them out).
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPELKO_PYTHON=ON -DPELKO_R=ON "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
