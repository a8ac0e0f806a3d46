#!/bin/bash
# The benchmark: builds what it needs, runs Quillon and the bare minimum
# under one Wine prefix against one local nginx (and, in a full run as root,
# against the public services' stand-ins: bench/ipv6-standins.sh), prints a
# table and writes build/bench/results.md.
#   bash bench/run.sh            full run
#   bash bench/run.sh --quick    a few runs of each figure
# (--no-setup BUILD: use an already built BUILD whose fixtures are running;
# this is how the test suite runs the quick mode.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=("$@")
quick=""; build=""; own=""
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=--quick ;;
    --no-setup) build=$2; shift ;;
  esac
  shift
done

. "$root/scripts/wine.sh"
quillon_choose_loader
if [ -z "$build" ]; then
  # Once: not again in the run that the virtual display starts below.
  [ -n "${QUILLON_BENCH_HEADLESS:-}" ] || bash "$root/scripts/setup.sh"
  # Wine needs a display from the prefix's first process on: without one,
  # the whole run goes onto a virtual display.
  if [ -z "${DISPLAY:-}" ]; then
    exec bash "$root/scripts/wine.sh" display env QUILLON_BENCH_HEADLESS=1 bash "$0" "${args[@]}"
  fi
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target QuillonBench
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target Quillon
  build=$root/build/win64 own=yes
  cleanup() {
    bash "$root/tests/fixtures/nginx.sh" stop "$build/bench/nginx" "$build/wineprefix" >/dev/null 2>&1 || true
    WINEPREFIX=$build/wineprefix quillon_wineserver -k >/dev/null 2>&1 || true
  }
  trap cleanup EXIT
  bash "$root/tests/fixtures/wine-prefix.sh" start "$build/wineprefix"
  bash "$root/tests/fixtures/nginx.sh" start "$build/bench/nginx" "$build/wineprefix"
  out=$root/build/bench
  nginx_dir=$build/bench/nginx
else
  out=$build/bench-quick
  nginx_dir=$build/fixtures/nginx
fi
mkdir -p "$out"
rm -rf "$out/work"; mkdir -p "$out/work"

# The programs as a user gets them, without debugging symbols: Wine maps
# the whole file, and 7 MB of them cost a start 15 to 20 ms.
mkdir -p "$out/bin"
for exe in Quillon Baseline BaselineWindow; do
  x86_64-w64-mingw32-strip -o "$out/bin/$exe.exe" "$build/bin/$exe.exe"
done
# The full run soaks the 32-bit program too, where this machine runs it
# (the test suite's quick run in build/win32 soaks it as its own).
soak32=""
if [ -z "$quick" ] && [ "$QUILLON_WINE_32BIT" = yes ] && [ -f "$root/build/win32/bin/Quillon.exe" ]; then
  mkdir -p "$out/bin32"
  i686-w64-mingw32-strip -o "$out/bin32/Quillon.exe" "$root/build/win32/bin/Quillon.exe"
  soak32=$out/bin32/Quillon.exe
fi

# The figures on stdout, Wine's own messages in a file of their own.
raw=$out/raw.txt
status=0
QUILLON_BIN=$out/bin QUILLON_BENCH_DIR=$out/work QUILLON_SOAK_WIN32=$soak32 \
QUILLON_NGINX_PORT=$(cat "$nginx_dir/port") QUILLON_NGINX_PORT6=$(cat "$nginx_dir/port-v6" 2>/dev/null) \
WINEPREFIX=$build/wineprefix \
  quillon_wine "$build/bin/QuillonBench.exe" $quick </dev/null >"$raw" 2>"$out/wine-messages.txt" || status=$?
if [ "$status" -ne 0 ]; then
  if ! grep -q '^started' "$raw"; then
    echo "the benchmark program never started: Wine ended with $status before it ran; Wine said:"
  else
    echo "the benchmark program failed ($status) after $(grep -c '|' "$raw") figures; it said:"
  fi
  cat "$out/wine-messages.txt"; exit 1
fi

# Both families against the public services' HTTPS stand-ins, in a network
# namespace of its own with an IPv6 address that is not ::1: only in a full
# run of its own prefix, whose wineserver may be stopped (the test suite's
# quick run shares it with other tests).
raw6=$out/raw-standins.txt
rm -f "$raw6"
standins_row="time to both addresses logged with ipv6=1, HTTPS stand-ins 40 ms away"
unmeasured=""
if [ -n "$quick" ]; then
  :
elif [ -z "$own" ]; then
  unmeasured="$standins_row: --no-setup shares the prefix's wineserver, which this row must stop"
elif [ "$(id -u)" != 0 ] || ! unshare --mount --net true 2>/dev/null; then
  unmeasured="$standins_row: it needs network and mount namespaces of its own (unshare --mount --net), which need root"
else
  WINEPREFIX=$build/wineprefix quillon_wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$build/wineprefix quillon_wineserver -w || true
  bash "$root/bench/ipv6-standins.sh" "$raw6" "$build" "$out/standins" || echo "the row \"$standins_row\" failed"
fi

# The size a user downloads: the program without its debugging symbols.
size() {
  [ -f "$2" ] || { echo 0; return; }
  "$1-strip" -o "$out/stripped.exe" "$2" && stat -c %s "$out/stripped.exe" && rm -f "$out/stripped.exe"
}
s64=$(size x86_64-w64-mingw32 "$root/build/win64/bin/Quillon.exe")
s32=$(size i686-w64-mingw32 "$root/build/win32/bin/Quillon.exe")

table=$(python3 - "$s64" "$s32" "$raw" "$raw6" <<'PY'
import os, re, sys
s64, s32, raws = int(sys.argv[1]), int(sys.argv[2]), [r for r in sys.argv[3:] if os.path.exists(r)]
# Only whole figure lines: a name, a unit, a number, a number or "-".
figure = re.compile(r"^[a-zA-Z][^|]*\|[^|]+\|[0-9.]+\|(?:[0-9.]+|-)$")
rows = [[l.strip().split("|") for l in open(raw) if figure.match(l.strip())] for raw in raws]
# The stand-ins' row, run after the rest, beside the loopback one.
rows, later = rows[0], [r for more in rows[1:] for r in more]
at = next((i + 1 for i, r in enumerate(rows) if r[0].startswith("time to both addresses")), len(rows))
rows[at:at] = later
out = ["| figure | Quillon | baseline | ratio |", "|---|---|---|---|"]
for name, unit, q, b in rows:
    q = float(q)
    if b == "-":
        out.append(f"| {name} | {q:.1f} {unit} | - | - |"); continue
    b = float(b)
    if "before/after" in name:
        out.append(f"| {name} | {b:.0f} → {q:.0f} {unit} | growth | {q - b:+.0f} {unit} |")
    elif "with ipv6=1" in name:
        out.append(f"| {name} | {q:.1f} {unit} | IPv4 alone {b:.1f} {unit} | {q / b:.2f} |")
    elif "first service silent" in name:
        out.append(f"| {name} | {q:.1f} {unit} | all answering {b:.1f} {unit} | {q - b:+.1f} {unit} |")
    elif name.startswith("start-up"):
        out.append(f"| {name} | {q:.1f} {unit} | silent run {b:.1f} {unit} | {q - b:+.1f} {unit} |")
    else:
        out.append(f"| {name} | {q:.1f} {unit} | {b:.1f} {unit} | {q / b:.2f} |")
for name, s in (("Quillon.exe size, win64", s64), ("Quillon.exe size, win32", s32)):
    out.append(f"| {name} | {s / 1024:.0f} KiB | limit 1024 KiB | {s / 1048576:.2f} |" if s else f"| {name} | not built | - | - |")
print("\n".join(out))
PY
)
# Twelve soak rows for each program soaked.
expected=31
[ -z "$soak32" ] || expected=43
# The IPv6 loopback row, where nginx has the IPv6 loopback.
[ ! -s "$nginx_dir/port-v6" ] || expected=$((expected + 1))
# The HTTPS stand-ins' row, where it was tried.
[ -n "$quick" ] || [ -n "$unmeasured" ] || expected=$((expected + 1))
got=$(grep -c '^| [a-zA-Z]' <<<"$table" || true)
got=$((got - 1))  # the header row
{
  echo "# Quillon benchmark${quick:+ (quick)}"
  echo
  echo "- machine: $(hostname), $(nproc) cores"
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- Wine: $(quillon_wine --version 2>/dev/null)"
  echo "- commit: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo
  echo "$table"
  [ -z "$unmeasured" ] || { echo; echo "- not measured: $unmeasured"; }
  # A figure measured again is said, not hidden.
  ! grep -q '^note: ' "$out/wine-messages.txt" || { echo; sed -n 's/^note: /- /p' "$out/wine-messages.txt"; }
} >"$out/results.md"
cat "$out/results.md"
if [ "$got" -lt "$expected" ]; then
  echo "only $got of $expected figures were measured"; exit 1
fi
# Counts may be 0; a time, a rate or a size may not.
if grep -v ' count |' <<<"$table" | grep -q '| 0\.0 \|not built'; then echo "a figure came out empty"; exit 1; fi
