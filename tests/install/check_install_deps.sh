#!/bin/sh
# The fresh-machine path: scripts/install-deps.sh, scripts/test.sh and .ci/run on a machine
# missing packages, with dpkg, id, apt-get and cmake replaced by stubs on PATH.
# Usage: check_install_deps.sh SOURCE_DIR
set -eu
source=$1
stubs=$(mktemp -d /tmp/pelko_deps_XXXXXX)
trap 'rm -rf "$stubs"' EXIT
fail() {
  echo "install-deps: $*" >&2
  exit 1
}

# dpkg -s answers "installed" for the packages in $INSTALLED (one a line), or for every package
# when INSTALLED is "all"; a package in $REMOVED is removed but its configuration kept.
cat >"$stubs/dpkg" <<'STUB'
#!/bin/sh
[ "$1" = -s ] || exit 2
if [ "$INSTALLED" = all ] || printf '%s\n' "$INSTALLED" | grep -qx -- "$2"; then
  printf 'Package: %s\nStatus: install ok installed\n' "$2"
elif printf '%s\n' "${REMOVED:-}" | grep -qx -- "$2"; then
  printf 'Package: %s\nStatus: deinstall ok config-files\n' "$2"
else
  echo "dpkg-query: package '$2' is not installed" >&2
  exit 1
fi
STUB
printf '#!/bin/sh\necho "$UID_STUB"\n' >"$stubs/id"
printf '#!/bin/sh\necho "apt-get $*" >>"$LOG"\nexit "${APT_STATUS:-0}"\n' >"$stubs/apt-get"
printf '#!/bin/sh\necho "cmake $*" >>"$LOG"\nexit 1\n' >"$stubs/cmake"
chmod +x "$stubs"/*
PATH=$stubs:$PATH
LOG=$stubs/log
export PATH LOG INSTALLED REMOVED UID_STUB APT_STATUS

script=$source/scripts/install-deps.sh
packages=$("$script" --list)
[ "$(printf '%s\n' "$packages" | wc -l)" -ge 10 ] || fail "--list prints too few packages"
for package in libgtest-dev python3-matplotlib faketime; do
  printf '%s\n' "$packages" | grep -qx "$package" || fail "--list lacks $package"
done
all_but() { printf '%s\n' "$packages" | grep -vx -e "$1" -e "$2"; }

# Everything installed: nothing to do, even without root.
: >"$LOG"
INSTALLED=all REMOVED='' UID_STUB=1000 "$script" || fail "fails with every package installed"
[ ! -s "$LOG" ] || fail "runs $(cat "$LOG") with every package installed"

# Two missing, not root: the exact apt-get line on standard error, status 1, nothing run.
INSTALLED=$(all_but faketime python3-matplotlib)
REMOVED=python3-matplotlib
UID_STUB=1000
if "$script" 2>"$stubs/err"; then fail "exits 0 with packages missing and no root"; fi
grep -qx "apt-get install -y --no-install-recommends python3-matplotlib faketime" "$stubs/err" ||
  fail "no exact apt-get line: $(cat "$stubs/err")"
[ ! -s "$LOG" ] || fail "runs $(cat "$LOG") without root"

# The same as root: apt-get installs exactly the missing ones.
UID_STUB=0
"$script" 2>/dev/null || fail "fails as root"
printf 'apt-get update -q\napt-get install -y -q --no-install-recommends python3-matplotlib faketime\n' |
  cmp -s - "$LOG" || fail "as root runs: $(cat "$LOG")"

# A failing apt-get fails the script.
: >"$LOG"
if APT_STATUS=100 "$script" 2>/dev/null; then fail "exits 0 when apt-get fails"; fi

# The README's test command and CI stop before building when packages are missing.
UID_STUB=1000
for command in scripts/test.sh .ci/run; do
  : >"$LOG"
  if (cd "$source" && CI=true "$command" "$stubs/build" </dev/null >/dev/null 2>"$stubs/err"); then
    fail "$command exits 0 with packages missing"
  fi
  grep -qx "apt-get install -y --no-install-recommends python3-matplotlib faketime" "$stubs/err" ||
    fail "$command does not print the apt-get line: $(cat "$stubs/err")"
  [ ! -s "$LOG" ] || fail "$command runs $(cat "$LOG") with packages missing"
done
# As root, test.sh installs them and goes on to configure.
: >"$LOG"
UID_STUB=0
if (cd "$source" && scripts/test.sh "$stubs/build" >/dev/null 2>&1); then :; fi
grep -q "^apt-get install -y -q --no-install-recommends python3-matplotlib faketime" "$LOG" &&
  grep -q "^cmake -S" "$LOG" || fail "test.sh as root runs: $(cat "$LOG")"
