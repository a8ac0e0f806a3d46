#!/bin/bash
# Installs what a fresh Debian machine lacks for building and testing
# Quillon. Quick when everything is there already.
set -euo pipefail
packages=(cmake make python3 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64
          xvfb xauth nginx imagemagick googletest file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
