#!/usr/bin/env bash
# Builds the page: the library compiled to WebAssembly by emscripten, with the page's sources, as
# one self-contained file DIR/pelko.html (nothing else is written to DIR). It opens from disk or
# from any static host and makes no requests.
# Usage: scripts/build-page.sh DIR
# PELKO_PAGE_BUILD=FOLDER keeps the WebAssembly build in FOLDER, so that a second build compiles
# only what changed; without it the build happens in a temporary folder that is removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ]; then
  echo "usage: scripts/build-page.sh DIR" >&2
  exit 2
fi
out=$1
for tool in emcmake em++; do
  command -v "$tool" >/dev/null || { echo "build-page: $tool not found (Debian package emscripten)" >&2; exit 1; }
done
python=/usr/bin/python3
[ -x "$python" ] || python=python3
# emscripten's optimiser needs acorn, which Debian keeps in /usr/share/nodejs.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

work=${PELKO_PAGE_BUILD:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
# No threads: the page runs the engine in one worker, on the calling thread.
emcmake cmake -S "$root" -B "$work" -DCMAKE_BUILD_TYPE=Release -DPELKO_THREADS=OFF \
  -DPELKO_TESTS=OFF -DPELKO_BENCH=OFF -DPELKO_PAGE=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work" -j2 --target pelko_page >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
"$python" "$root/clients/page/assemble.py" "$root/clients/page" "$root/examples" \
  "$work/clients/page/pelko_page.js" "$work/pelko.html"
mkdir -p "$out"
# The page appears whole or not at all.
cp "$work/pelko.html" "$out/.pelko.html.partial"
mv "$out/.pelko.html.partial" "$out/pelko.html"
