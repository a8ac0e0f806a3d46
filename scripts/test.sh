#!/bin/bash
# The whole test suite: set up, build both targets, then run every test
# under Wine inside a virtual X display, once for the 64-bit build and once
# for the 32-bit build (each in a Wine prefix of its own; Wine's WoW64 runs
# the 32-bit programs). Prints both ctest summaries and exits non-zero when
# a suite fails. Leaves no process running.
#   On a machine whose kernel refuses 32-bit programs the 32-bit suite is
#   skipped, and the summary says so.
#   QUILLON_REQUIRE_WIN32=1     make that skip a failure (a release machine)
#   QUILLON_SKIP_WIN32_TESTS=1  skip the 32-bit suite where Wine cannot run
#                               32-bit programs for any other reason
# Further arguments go to both ctest runs (e.g. -R e2e).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine.sh"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" win64 win32
file "$root/build/win32/bin/Quillon.exe" | grep -q 'PE32 executable.*Intel 80386' ||
  { echo "build/win32/bin/Quillon.exe is not a 32-bit Windows program"; exit 1; }
# Once for the whole run: ctest, the fixtures and the tests inherit it.
quillon_choose_loader

stop_fixtures() {
  local build=$1
  bash "$root/tests/fixtures/nginx.sh" stop "$build/fixtures/nginx" >/dev/null 2>&1 || true
  bash "$root/tests/fixtures/stall-server.sh" stop "$build/fixtures/stall" >/dev/null 2>&1 || true
  WINEPREFIX=$build/wineprefix quillon_wineserver -k >/dev/null 2>&1 || true
}
cleanup() {
  # Whatever the outcome: no Wine, nginx or helper server outlives the run.
  stop_fixtures "$root/build/win64"
  stop_fixtures "$root/build/win32"
}
trap cleanup EXIT

# Runs one preset's suite; its output goes to the terminal and to
# build/<preset>/ctest.log.
suite() {
  local build=$root/build/$1
  shift
  local status=0
  echo "== ctest in build/${build##*/}"
  (cd "$build" && quillon_display ctest -j2 --output-on-failure --timeout 600 "$@") 2>&1 |
    tee "$build/ctest.log" || status=$?
  stop_fixtures "$build"
  return $status
}

# A tiny 32-bit Windows program first: without a working WoW64 every 32-bit
# test would fail for a reason that has nothing to do with Quillon.
wow64_works() {
  local build=$root/build/win32
  quillon_display bash -c '
    . "$1/scripts/wine.sh"
    bash "$1/tests/fixtures/wine-prefix.sh" start "$2/wineprefix" >/dev/null 2>&1 || exit 1
    status=0
    WINEPREFIX=$2/wineprefix quillon_wine "$2/bin/wow64_probe.exe" </dev/null >"$2/wow64-probe.log" 2>&1 || status=$?
    WINEPREFIX=$2/wineprefix quillon_wineserver -k >/dev/null 2>&1
    exit $status' _ "$root" "$build"
}

status64=0 status32=0 skipped32="" unrun32=""
rm -f "$root"/build/win{64,32}/ctest.log
suite win64 "$@" || status64=$?
no32=$(quillon_why_not_32bit)
if [ "$no32" = "$quillon_kernel_refuses_32bit" ]; then
  if [ "${QUILLON_REQUIRE_WIN32:-}" = 1 ]; then
    unrun32="$no32 (QUILLON_REQUIRE_WIN32=1)"
    echo "FAILED: the 32-bit suite cannot run: $unrun32"
    status32=1
  else
    skipped32="$no32"
  fi
elif wow64_works; then
  suite win32 "$@" || status32=$?
elif [ "${QUILLON_SKIP_WIN32_TESTS:-}" = 1 ]; then
  skipped32="Wine cannot run 32-bit Windows programs here (QUILLON_SKIP_WIN32_TESTS=1)"
else
  said=$(tail -n 1 "$root/build/win32/wow64-probe.log" 2>/dev/null || true)
  unrun32="this machine cannot run 32-bit Windows programs under Wine${no32:+: $no32}${said:+ (Wine said: $said)}"
  echo "FAILED: $unrun32; install wine32:i386, or set QUILLON_SKIP_WIN32_TESTS=1 to skip the 32-bit suite"
  status32=1
fi

echo
echo "== Summary"
for preset in win64 win32; do
  if [ "$preset" = win32 ] && [ -n "$skipped32" ]; then
    echo "build/win32: SKIPPED, the 32-bit suite did not run: $skipped32"
    continue
  fi
  if [ "$preset" = win32 ] && [ -n "$unrun32" ]; then
    echo "build/win32: FAILED, the 32-bit suite could not run: $unrun32"
    continue
  fi
  log=$root/build/$preset/ctest.log
  if [ -f "$log" ] && grep -q 'tests passed' "$log"; then
    echo "build/$preset: $(grep -E 'tests passed' "$log" | tail -n 1); $(grep -E 'Total Test time' "$log" | tail -n 1 | sed 's/^ *//')"
  else
    echo "build/$preset: did not run to its summary"
  fi
done
[ "$status64" -eq 0 ] && [ "$status32" -eq 0 ]
