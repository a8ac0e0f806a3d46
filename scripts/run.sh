#!/bin/bash
# Builds Quillon, starts the bundled address server on loopback and runs
# Quillon against it under Wine; the log it wrote is printed at the end.
# With a display, the window stays until you close it. Without one, it is
# shown on a virtual display, photographed into build/win64/run/window.png
# and closed. Arguments are passed to Quillon (try -s).
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
# A copy of its own, so its settings file lands beside it in run/.
mkdir -p "$build/run"
cp "$build/bin/Quillon.exe" "$build/run/Quillon.exe"
rm -f "$logfile"
status=0
if [ -n "${DISPLAY:-}" ] || [ "${1:-}" != "" ]; then
  wine "$build/run/Quillon.exe" "$@" || status=$?
  echo "Quillon exited with $status; C:\\IP_log.txt holds:"
else
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
    wine "$1" </dev/null >/dev/null 2>&1 &
    sleep 5
    import -window root "$2"
    wineserver -k' _ "$build/run/Quillon.exe" "$build/run/window.png"
  echo "The window, as it showed: $build/run/window.png"
  echo "C:\\IP_log.txt holds:"
fi
cat "$logfile" 2>/dev/null || echo "(no log written)"
