#!/bin/bash
# Builds Quillon, starts the bundled address server on loopback and runs
# Quillon against it under Wine; the log it wrote is printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" win64
build=$root/build/win64
prefix=$build/wineprefix
cleanup() {
  bash "$root/tests/fixtures/nginx.sh" stop "$build/run/nginx" "$prefix" >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
bash "$root/tests/fixtures/wine-prefix.sh" start "$prefix"
bash "$root/tests/fixtures/nginx.sh" start "$build/run/nginx" "$prefix"
echo "address server on 127.0.0.1:$(cat "$build/run/nginx/port"), used as the system proxy"
export WINEPREFIX=$prefix WINEDEBUG=-all
logfile=$prefix/drive_c/IP_log.txt
rm -f "$logfile"
status=0
wine "$build/bin/Quillon.exe" "$@" || status=$?
echo "Quillon exited with $status; C:\\IP_log.txt holds:"
cat "$logfile" 2>/dev/null || echo "(no log written)"
