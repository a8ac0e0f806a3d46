#!/bin/bash
# Builds Quillon, starts the bundled address server on loopback and runs
# Quillon against it under Wine; prints what it logged.
#   bash scripts/run.sh           the 64-bit build, with its window
#   bash scripts/run.sh -s        silent: fetch, log and end, no window
#   bash scripts/run.sh --win32   the 32-bit build, the release target (Wine's WoW64)
# Other arguments are passed to Quillon. With a display the window stays
# until you close it. Without one, everything Wine does runs on a virtual
# display: the window is photographed into build/<arch>/run/window.png and
# closed. Exits non-zero, with one line saying why, when the window did not
# appear or nothing was logged.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all=("$@")
arch=win64
args=()
for a in "$@"; do
  case $a in
    --win32) arch=win32 ;;
    --win64) arch=win64 ;;
    *) args+=("$a") ;;
  esac
done
fail() { echo "run: $*" >&2; exit 1; }
. "$root/scripts/wine.sh"
no32() { fail "--win32 cannot run here: $1; without --win32 it runs the 64-bit build"; }

# Before anything is installed or built: can a 32-bit program run at all?
if [ "$arch" = win32 ] && ! quillon_kernel_runs_32bit; then no32 "$quillon_kernel_refuses_32bit"; fi
# Once: not again in the run that the virtual display starts below.
[ -n "${QUILLON_RUN_HEADLESS:-}" ] || bash "$root/scripts/setup.sh"
if [ "$arch" = win32 ] && ! quillon_runs_32bit; then no32 "$(quillon_why_not_32bit)"; fi
if [ -z "${DISPLAY:-}" ]; then
  # The display must be there before the prefix's first process starts.
  quillon_choose_loader
  exec bash "$root/scripts/wine.sh" display env QUILLON_RUN_HEADLESS=1 bash "$0" "${all[@]}"
fi
headless=${QUILLON_RUN_HEADLESS:-}

cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --target Quillon
build=$root/build/$arch
prefix=$build/wineprefix
run=$build/run
mkdir -p "$run"
cleanup() {
  bash "$root/tests/fixtures/nginx.sh" stop "$run/nginx" "$prefix" >/dev/null 2>&1 || true
  WINEPREFIX=$prefix quillon_wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
bash "$root/tests/fixtures/wine-prefix.sh" start "$prefix" || fail "the Wine prefix $prefix did not start"
bash "$root/tests/fixtures/nginx.sh" start "$run/nginx" "$prefix" >"$run/nginx.log" 2>&1 ||
  fail "the address server did not start: $(tail -n 3 "$run/nginx.log" | tr '\n' ' ')"
echo "address server on 127.0.0.1:$(cat "$run/nginx/port"), used as the system proxy"
export WINEPREFIX=$prefix
# A copy of its own, so its settings file and its log land beside it in run/.
logfile=$run/IP_log.txt
cp "$build/bin/Quillon.exe" "$run/Quillon.exe"
rm -f "$logfile" "$run/Quillon_settings.ini" "$run/window.png"

# Silent mode is the one argument -s, in either case, as Quillon decides it.
silent=""
if [ ${#args[@]} -eq 1 ] && [ "${args[0],,}" = "-s" ]; then silent=yes; fi

status=0
if [ -n "$silent" ]; then
  quillon_wine "$run/Quillon.exe" "${args[@]}" </dev/null || status=$?
else
  title="Quillon By $(sed -n 's/^QUILLON_MAKER_SITE:STRING=//p' "$build/CMakeCache.txt")"
  quillon_wine "$run/Quillon.exe" "${args[@]}" </dev/null >"$run/wine.log" 2>&1 &
  pid=$!
  # The window counts once the X server has it on the screen.
  shown=""
  for _ in $(seq 300); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n 1 || true)
    if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then shown=yes; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ -z "$shown" ]; then
    kill "$pid" 2>/dev/null || true
    fail "the window \"$title\" did not appear (Wine said: $(tail -n 1 "$run/wine.log" 2>/dev/null))"
  fi
  if [ -n "$headless" ]; then
    sleep 1  # let it paint
    import -window root "$run/window.png"
    # Nobody can close it here: end it with the prefix.
    quillon_wineserver -k >/dev/null 2>&1 || true
    wait "$pid" 2>/dev/null || true
    echo "The window, as it showed: $run/window.png"
  else
    wait "$pid" || status=$?
  fi
fi
if [ -n "$headless" ] && [ -z "$silent" ]; then
  echo "Quillon showed its window; $logfile holds:"
else
  echo "Quillon exited with $status; $logfile holds:"
fi
[ -s "$logfile" ] || fail "nothing was logged"
cat "$logfile"
[ "$status" -eq 0 ] || fail "Quillon ended with exit code $status"
