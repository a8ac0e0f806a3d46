#!/bin/bash
# Installs what a fresh Debian machine lacks for building and testing
# Quillon, the 32-bit Wine for the 32-bit build among it (which needs the
# i386 architecture) where the kernel runs 32-bit programs at all. Quick
# when everything is there already.
set -euo pipefail
. "$(dirname "$0")/wine.sh"
# Wine's HTTPS needs GnuTLS, which it only recommends.
packages=(cmake make python3 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 libgnutls30
          xvfb xauth x11-utils nginx imagemagick googletest file osslsigncode openssl ca-certificates)
if quillon_kernel_runs_32bit; then
  packages+=(wine32:i386 libgnutls30:i386)
else
  echo "setup: $quillon_kernel_refuses_32bit (Exec format error), so nothing 32-bit is installed; only the 64-bit build runs here"
fi
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [[ " ${missing[*]} " == *":i386 "* ]] && [ "$(dpkg --print-architecture)" = amd64 ] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # Where no 32-bit Wine can be had, the rest still serves the 64-bit
    # build; the test command then says that 32-bit programs cannot run.
    rest=()
    for p in "${missing[@]}"; do [[ "$p" = *:i386 ]] || rest+=("$p"); done
    [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
    $sudo apt-get install -y -q --no-install-recommends "${rest[@]}"
    echo "setup: wine32:i386 could not be installed; this machine will not run 32-bit Windows programs"
  fi
fi
