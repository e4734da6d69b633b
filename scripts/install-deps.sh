#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing.
# As root it runs apt-get; otherwise it prints the apt-get line to run and exits with status 1.
# Recommended packages stay out (R's and Python's recommended sets are hundreds of packages the
# tests never load): what a test needs is named here.
# Usage: scripts/install-deps.sh [--list]   (--list prints the packages, one a line)
set -euo pipefail

# The one list of what the tests need: add a package here and CI and scripts/test.sh follow.
packages=(
  # the program and its C++ tests
  cmake make g++ libgtest-dev
  # the fuzz targets and their sanitizers; the syntax check of the plain path for aarch64
  clang libclang-rt-14-dev libstdc++-12-dev-arm64-cross
  # pelko-report and its tests
  python3 python3-matplotlib
  # repeating a run, the man pages
  faketime groff-base man-db
  # the R package (future.apply for its parallel sweeps; LaTeX for its Sweave vignette)
  r-base-dev r-cran-rcpp r-cran-testthat r-cran-future.apply
  texlive-latex-base texlive-latex-recommended
  # the Python module
  pybind11-dev python3-pybind11 python3-dev python3-pytest python3-numpy
  # the page: its WebAssembly build, its engine under node, the page in headless Chromium
  emscripten nodejs chromium chromium-driver python3-selenium
)

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
elif [ $# -gt 0 ]; then
  echo "usage: scripts/install-deps.sh [--list]" >&2
  exit 2
fi

missing=()
for package in "${packages[@]}"; do
  # A package removed but not purged still answers dpkg -s: only "install ok installed" counts.
  status=$(dpkg -s "$package" 2>/dev/null | sed -n 's/^Status: //p') || true
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: the tests need Debian packages that are missing; as root, run:" >&2
  echo "apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
