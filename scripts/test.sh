#!/bin/bash
# The whole test suite: set up, build both targets, run every test under
# Wine inside a virtual X display, print ctest's summary. Exits non-zero on
# any failure and leaves no process running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" win64 win32
file "$root/build/win32/bin/Quillon.exe" | grep -q 'PE32 executable.*Intel 80386' ||
  { echo "build/win32/bin/Quillon.exe is not a 32-bit Windows program"; exit 1; }
bash "$root/tests/check-imports.sh" i686-w64-mingw32-objdump "$root/build/win32/bin/Quillon.exe"

build=$root/build/win64
cleanup() {
  # Whatever the outcome: no Wine, nginx or helper server outlives the run.
  bash "$root/tests/fixtures/nginx.sh" stop "$build/fixtures/nginx" >/dev/null 2>&1 || true
  bash "$root/tests/fixtures/stall-server.sh" stop "$build/fixtures/stall" >/dev/null 2>&1 || true
  WINEPREFIX=$build/wineprefix wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
cd "$build"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" ctest -j2 --output-on-failure --timeout 600 "$@"
