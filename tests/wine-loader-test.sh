#!/bin/bash
# The choice of Wine loader, with stand-in loaders: the 32-bit one where it
# runs, else the 64-bit one, named to Wine's own child processes too.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
loader() {  # NAME: a stand-in that says which loader ran, and WINELOADER
  printf '#!/bin/sh\necho "%s $WINELOADER $WINEDLLOVERRIDES"\n' "$1" >"$dir/$1"
  chmod +x "$dir/$1"
}
choose() { env -u QUILLON_WINE_LOADER -u WINELOADER QUILLON_WINE_DIR="$dir" bash "$root/scripts/wine.sh" "$@"; }

loader wine; loader wine64
got=$(choose wine x.exe)
[ "$got" = "wine $dir/wine mscoree,mshtml=;winedbg.exe=d" ] || fail "a runnable 32-bit loader: $got"
choose runs-32bit || fail "a runnable 32-bit loader counts as no 32-bit"

# A 32-bit loader the kernel refuses: not a program for this machine.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xff\xff' >"$dir/wine"
chmod +x "$dir/wine"
got=$(choose wine x.exe)
[ "$got" = "wine64 $dir/wine64 mscoree,mshtml=;winedbg.exe=d" ] || fail "an unrunnable 32-bit loader: $got"
choose runs-32bit && fail "an unrunnable 32-bit loader counts as 32-bit"
[ "$(choose why-not-32bit)" = "this machine's kernel refuses 32-bit programs" ] || fail "reason: $(choose why-not-32bit)"

# No 32-bit loader at all.
rm "$dir/wine"
got=$(choose wine x.exe)
[ "$got" = "wine64 $dir/wine64 mscoree,mshtml=;winedbg.exe=d" ] || fail "no 32-bit loader: $got"
choose runs-32bit && fail "a missing 32-bit loader counts as 32-bit"
echo "the loader choice: right in all three cases"
