#!/bin/bash
# The choice of Wine loader, with stand-in loaders: the 32-bit one where it
# runs, else the 64-bit one, named to Wine's own child processes too; and
# why 32-bit programs cannot run, a noexec probe folder included.
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

# A 32-bit loader that does not start (not a program for this machine): the
# kernel is blamed only where the probe finds that it refuses 32-bit programs.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xff\xff' >"$dir/wine"
chmod +x "$dir/wine"
got=$(choose wine x.exe)
[ "$got" = "wine64 $dir/wine64 mscoree,mshtml=;winedbg.exe=d" ] || fail "an unrunnable 32-bit loader: $got"
choose runs-32bit && fail "an unrunnable 32-bit loader counts as 32-bit"
want="this machine's kernel refuses 32-bit programs"
bash -c '. "$1/scripts/wine.sh"; quillon_kernel_runs_32bit' _ "$root" && want="the 32-bit Wine loader $dir/wine does not start (Exec format error)"
[ "$(choose why-not-32bit)" = "$want" ] || fail "reason: $(choose why-not-32bit)"

# The probe's folders mounted noexec: it tries the temporary folder, and one
# that cannot run anywhere says why, not that the kernel refuses.
if unshare --mount true 2>/dev/null; then
  mkdir -p "$dir/tmp" "$root/build"
  export -f choose; export root dir TMPDIR=$dir/tmp
  noexec() { unshare --mount bash -c 'for d; do mount -t tmpfs -o noexec tmpfs "$d" || exit; done; choose why-not-32bit' _ "$@" 2>/dev/null; }
  [ "$(noexec "$root/build")" = "$want" ] || fail "a noexec build folder: $(noexec "$root/build")"
  got=$(noexec "$root/build" "$TMPDIR" /dev/shm)
  [[ $got = "the 32-bit Wine loader $dir/wine does not start (Exec format error); the 32-bit probe could not run: $root/build is mounted noexec (Permission denied);"* ]] ||
    fail "no folder the probe can run in: $got"
else
  echo "the probe in noexec folders: not tested, unshare --mount is not allowed here"
fi

# No 32-bit loader at all.
rm "$dir/wine"
got=$(choose wine x.exe)
[ "$got" = "wine64 $dir/wine64 mscoree,mshtml=;winedbg.exe=d" ] || fail "no 32-bit loader: $got"
choose runs-32bit && fail "a missing 32-bit loader counts as 32-bit"
echo "the loader choice and the reason against 32-bit: right in every case"
