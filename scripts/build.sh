#!/bin/bash
# Configures and builds the given presets (default: win64 and win32).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@"); [ ${#presets[@]} -gt 0 ] || presets=(win64 win32)
for p in "${presets[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done
