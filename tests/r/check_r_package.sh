#!/usr/bin/env bash
# Builds the R package's tarball and checks it with R CMD check: 0 errors and 0 warnings, and
# its tests, which compare the package's results with the program's.
# Usage: check_r_package.sh SOURCE_DIR WORK_DIR PELKO
set -euo pipefail
source=$1
work=$2
export PELKO=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
R CMD build "$source/clients/r" >build.log 2>&1 || { cat build.log; exit 1; }
MAKEFLAGS=-j2 R CMD check --no-manual pelko_*.tar.gz >check.log 2>&1 || true
grep -E '^\[ FAIL' pelko.Rcheck/tests/testthat.Rout* 2>/dev/null || true
status=$(grep '^Status:' pelko.Rcheck/00check.log 2>/dev/null || echo "no check log")
echo "R CMD check $status"
if [[ "$status" != Status:* || "$status" == *ERROR* || "$status" == *WARNING* ]]; then
  cat check.log
  exit 1
fi
