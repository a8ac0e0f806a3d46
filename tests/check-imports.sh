#!/bin/bash
# Checks what a built Quillon.exe imports: the common controls, the visual
# styles and msimg32 are bound at run time, so they must not be imported,
# and the C++ runtime is linked in, so no MinGW runtime DLL is needed.
# Usage: check-imports.sh OBJDUMP EXE
set -u
objdump=$1 exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "$exe: no import table found"; exit 1; }
echo "$exe imports:" $dlls
status=0
for dll in $dlls; do
  case $dll in
    uxtheme.dll|comctl32.dll|msimg32.dll)
      echo "$exe imports $dll, which must be bound at run time"; status=1 ;;
    libstdc++*|libgcc*|libwinpthread*)
      echo "$exe needs $dll: it is not statically linked"; status=1 ;;
  esac
done
exit $status
