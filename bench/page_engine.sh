#!/usr/bin/env bash
# The page's WebAssembly engine under node against the native library on one thread and the
# plain kernels, on the same problem and seed: the median seconds of each and their ratio.
# Usage: bench/page_engine.sh PELKO_HTML BUILD_DIR [PROBLEM [TIMES]]
#   (BUILD_DIR holds bench_simulate; the default problem: 1000 replications, 200 applicants,
#   3 stages on 3 predictors)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
html=$1
build=$2
problem=${3:-}
times=${4:-11}
if [ -z "$problem" ]; then
  problem=$(mktemp)
  trap 'rm -f "$problem"' EXIT
  printf '%s\n' "1000 200 150 3 3" "80 40 20" "-1.0 -0.5 -0.2" "1.0 0.3 0.2" "0.3 1.0 0.4" \
    "0.2 0.4 1.0" "1 0 0" "0 1 1" "0.5 0.3 0.2" >"$problem"
fi
seed=1796630709
wasm=$(node "$root/tests/page/page_engine.js" time "$html" "$problem" "$seed" "$times")
native=$("$build/bench/bench_simulate" "$problem" "$seed" "$times")
echo "WebAssembly (node): $wasm s   native plain, 1 thread: $native s   ratio: $(awk -v a="$wasm" -v b="$native" 'BEGIN { printf "%.2f", a / b }')"
