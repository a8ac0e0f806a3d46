#!/bin/bash
# How Wine is started, for every script, fixture, test and the benchmark;
# no other file names a Wine loader. Source it and call
#   quillon_wine PROGRAM ARGS...   a Windows program (or a builtin: reg, wineboot)
#   quillon_wineboot ARGS...       set up or start the prefix in WINEPREFIX
#   quillon_wineserver ARGS...     the prefix's server (-p, -k, -w)
#   quillon_wine_reg ARGS...       reg.exe: add, delete, query
#   quillon_display CMD ARGS...    CMD inside a virtual X display
#   quillon_runs_32bit             true where 32-bit Windows programs can run
# or run it: bash scripts/wine.sh wine|wineboot|wineserver|reg|display|runs-32bit|why-not-32bit ARGS...
#
# Debian's wine starts its 32-bit loader whenever wine32:i386 is installed,
# for 64-bit programs too, and the 32-bit loader cannot run where the kernel
# refuses 32-bit programs ("Exec format error"). So the loader is chosen by
# trying it, once per run: the choice is exported to every process started
# after it (QUILLON_WINE_LOADER, QUILLON_WINE_32BIT).

quillon_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What every Wine start shares. A crash ends the program instead of waiting
# in the debugger for someone; Wine never offers to install Mono or Gecko.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=d'
# File names outside ASCII need a UTF-8 locale, and this is the one every
# Debian machine has.
export LC_ALL=C.UTF-8
quillon_display_args='-screen 0 1024x768x24 -dpi 96'
quillon_kernel_refuses_32bit="this machine's kernel refuses 32-bit programs"
# Debian's loaders (another folder only for the test of this choice).
quillon_wine_dir=${QUILLON_WINE_DIR:-/usr/lib/wine}

# Does the kernel run 32-bit x86 programs? A static i386 program that only
# exits with 0, and the 32-bit dynamic loader where there is one.
quillon_kernel_runs_32bit() {
  local dir=$quillon_root/build probe status
  mkdir -p "$dir" 2>/dev/null || dir=${TMPDIR:-/tmp}
  probe=$(mktemp "$dir/i386-probe.XXXXXX") || return 1
  # ELF header, one loadable segment, then: mov eax,1; xor ebx,ebx; int 0x80
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  status=0
  "$probe" </dev/null >/dev/null 2>&1 || status=$?
  rm -f "$probe"
  [ "$status" -eq 0 ] || return 1
  if [ -e /lib/ld-linux.so.2 ]; then /lib/ld-linux.so.2 --version >/dev/null 2>&1 || return 1; fi
  return 0
}

quillon_choose_loader() {
  [ -n "${QUILLON_WINE_LOADER:-}" ] && [ -x "$QUILLON_WINE_LOADER" ] && return 0
  local w32=$quillon_wine_dir/wine w64=$quillon_wine_dir/wine64
  QUILLON_WINE_32BIT=yes QUILLON_WINE_NO32=""
  if [ -x "$w32" ] && "$w32" --version >/dev/null 2>&1; then
    QUILLON_WINE_LOADER=$w32
  elif [ -x "$w64" ]; then
    QUILLON_WINE_LOADER=$w64 QUILLON_WINE_32BIT=no
    if [ -x "$w32" ] || ! quillon_kernel_runs_32bit; then
      QUILLON_WINE_NO32=$quillon_kernel_refuses_32bit
    else
      QUILLON_WINE_NO32="the 32-bit Wine (wine32:i386) is not installed"
    fi
  else
    # Not Debian's layout: the distribution's own wine decides.
    QUILLON_WINE_LOADER=$(command -v wine || echo wine)
  fi
  # Wine starts further processes (services, 32- or 64-bit children) with
  # the loader named here, so they take the same way.
  export QUILLON_WINE_LOADER QUILLON_WINE_32BIT QUILLON_WINE_NO32 WINELOADER=$QUILLON_WINE_LOADER
}

quillon_wine() {
  quillon_choose_loader
  "$QUILLON_WINE_LOADER" "$@"
}

quillon_wineboot() { quillon_wine wineboot.exe "$@"; }

quillon_wine_reg() { quillon_wine reg.exe "$@"; }

quillon_wineserver() {
  local server=$quillon_wine_dir/wineserver
  [ -x "$server" ] || server=wineserver
  "$server" "$@"
}

quillon_display() { xvfb-run -a -s "$quillon_display_args" "$@"; }

# True where Wine can start 32-bit programs; quillon_why_not_32bit says why not.
quillon_runs_32bit() {
  quillon_choose_loader
  [ "$QUILLON_WINE_32BIT" = yes ]
}

quillon_why_not_32bit() {
  quillon_choose_loader
  echo "${QUILLON_WINE_NO32:-}"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  what=${1:-}
  shift || true
  case $what in
    wine) quillon_wine "$@" ;;
    wineboot) quillon_wineboot "$@" ;;
    wineserver) quillon_wineserver "$@" ;;
    reg) quillon_wine_reg "$@" ;;
    display) quillon_display "$@" ;;
    runs-32bit) quillon_runs_32bit ;;
    why-not-32bit) quillon_why_not_32bit ;;
    *) echo "usage: $0 wine|wineboot|wineserver|reg|display|runs-32bit|why-not-32bit ARGS..." >&2; exit 2 ;;
  esac
fi
