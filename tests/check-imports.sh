#!/bin/bash
# Checks a built Quillon.exe: it imports KnownDLLs only (everything else,
# WinInet, the common controls, the visual styles and msimg32 among it, is
# bound by name from the system folder, so that no DLL beside the program
# is ever loaded), needs no MinGW runtime DLL, and carries the hardening
# flags: NX, ASLR, terminal-server aware, and high-entropy ASLR on 64-bit.
# Usage: check-imports.sh OBJDUMP EXE
set -u
objdump=$1 exe=$2
headers=$("$objdump" -p "$exe")
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "$exe: no import table found"; exit 1; }
echo "$exe imports:" $dlls
status=0
for dll in $dlls; do
  case $dll in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|ole32.dll|oleaut32.dll|shell32.dll|msvcrt.dll) ;;
    libstdc++*|libgcc*|libwinpthread*)
      echo "$exe needs $dll: it is not statically linked"; status=1 ;;
    *) echo "$exe imports $dll, which is not a KnownDLL: bind it by name from the system folder"; status=1 ;;
  esac
done

flags=$(awk '/^DllCharacteristics/ {f=1; print; next} f && /^[[:space:]]+[A-Z_]+$/ {print; next} {f=0}' <<<"$headers")
echo "$exe:" $flags
wanted="NX_COMPAT DYNAMIC_BASE TERMINAL_SERVICE_AWARE"
grep -q '^Magic[[:space:]]*020b' <<<"$headers" && wanted="$wanted HIGH_ENTROPY_VA"  # PE32+
for flag in $wanted; do
  grep -qw "$flag" <<<"$flags" || { echo "$exe lacks the DllCharacteristics flag $flag"; status=1; }
done
exit $status
