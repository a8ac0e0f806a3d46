#!/bin/bash
# How Wine is started, for every script, fixture, test and the benchmark;
# no other file names a Wine loader. Source it and call
#   quillon_wine PROGRAM ARGS...   a Windows program (or a builtin: reg, wineboot)
#   quillon_wineboot ARGS...       set up or start the prefix in WINEPREFIX
#   quillon_wineserver ARGS...     the prefix's server (-p, -k, -w)
#   quillon_wine_reg ARGS...       reg.exe: add, delete, query
#   quillon_display CMD ARGS...    CMD inside a virtual X display
#   quillon_runs_32bit             true where 32-bit Windows programs can run
#   quillon_wine_as USER PREFIX PROGRAM ARGS...   as a user who is not root
#   quillon_wineserver_as USER PREFIX ARGS...     that user's server
# or run it: bash scripts/wine.sh wine|wineboot|wineserver|reg|display|runs-32bit|why-not-32bit|wine-as|wineserver-as ARGS...
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
# exits with 0, and the 32-bit dynamic loader where there is one. False only
# where the kernel is seen to refuse them ("Exec format error"). A probe that
# cannot run for another reason (its folder mounted noexec, nothing
# writable) is tried again in the temporary folders; if it still cannot
# tell, that is said on stderr and counts as true, so that nothing 32-bit is
# given up on a guess. quillon_probe_32bit_said says why, unless it ran.
quillon_kernel_runs_32bit() {
  local dir status=0 said
  mkdir -p "$quillon_root/build" 2>/dev/null || true
  quillon_probe_32bit_in "$quillon_root/build" || status=$?
  said=$quillon_probe_32bit_said
  for dir in "${TMPDIR:-/tmp}" /dev/shm; do
    [ "$status" -eq 2 ] || break
    status=0
    quillon_probe_32bit_in "$dir" || status=$?
    said="$said; $quillon_probe_32bit_said"
  done
  [ "$status" -ne 1 ] || return 1
  if [ "$status" -eq 2 ]; then
    quillon_probe_32bit_said="the 32-bit probe could not run: $said"
    echo "wine.sh: $quillon_probe_32bit_said; taken as a kernel that runs 32-bit programs" >&2
  fi
  return 0
}

# The probe, in folder DIR: 0 where it ran, 1 where the kernel refused it,
# 2 where it could not tell; quillon_probe_32bit_said says why not 0.
quillon_probe_32bit_in() {
  local dir=$1 probe status=0 said
  quillon_probe_32bit_said="nothing can be written into $dir"
  probe=$(mktemp "$dir/i386-probe.XXXXXX" 2>/dev/null) || return 2
  # ELF header, one loadable segment, then: mov eax,1; xor ebx,ebx; int 0x80
  if ! printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' 2>/dev/null >"$probe" ||
     ! chmod +x "$probe" 2>/dev/null; then
    rm -f "$probe"
    return 2
  fi
  said=$("$probe" 2>&1 </dev/null >/dev/null) || status=$?
  rm -f "$probe"
  if [ "$status" -eq 0 ] && [ -e /lib/ld-linux.so.2 ]; then
    probe=/lib/ld-linux.so.2
    said=$("$probe" --version 2>&1 >/dev/null) || status=$?
  fi
  [ "$status" -ne 0 ] || { quillon_probe_32bit_said=""; return 0; }
  case $said in
    *"Exec format error"*) quillon_probe_32bit_said=$quillon_kernel_refuses_32bit; return 1 ;;
    *"Permission denied"*)
      if findmnt -n -o OPTIONS -T "$dir" 2>/dev/null | tr , '\n' | grep -qx noexec; then
        quillon_probe_32bit_said="$dir is mounted noexec (Permission denied)"
      else
        quillon_probe_32bit_said="$probe: Permission denied"
      fi ;;
    *) quillon_probe_32bit_said="$probe ended with status $status${said:+ (${said##*: })}" ;;
  esac
  return 2
}

quillon_choose_loader() {
  [ -n "${QUILLON_WINE_LOADER:-}" ] && [ -x "$QUILLON_WINE_LOADER" ] && return 0
  local w32=$quillon_wine_dir/wine w64=$quillon_wine_dir/wine64 said=""
  QUILLON_WINE_32BIT=yes QUILLON_WINE_NO32=""
  if [ -x "$w32" ] && said=$("$w32" --version 2>&1 >/dev/null); then
    QUILLON_WINE_LOADER=$w32
  elif [ -x "$w64" ]; then
    QUILLON_WINE_LOADER=$w64 QUILLON_WINE_32BIT=no
    # Only the probe tells a kernel that refuses 32-bit programs from a
    # 32-bit Wine that is missing or broken.
    if ! quillon_kernel_runs_32bit 2>/dev/null; then
      QUILLON_WINE_NO32=$quillon_kernel_refuses_32bit
    elif [ -x "$w32" ]; then
      QUILLON_WINE_NO32="the 32-bit Wine loader $w32 does not start${said:+ (${said##*: })}"
    else
      QUILLON_WINE_NO32="the 32-bit Wine (wine32:i386) is not installed"
    fi
    [ "$QUILLON_WINE_NO32" = "$quillon_kernel_refuses_32bit" ] || [ -z "$quillon_probe_32bit_said" ] ||
      QUILLON_WINE_NO32+="; $quillon_probe_32bit_said"
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

# A Windows program as USER, who is not root, in PREFIX, a prefix that user
# owns: Wine honours Unix permissions then, as Windows does for a standard
# user, where as root every folder takes new files. Run by root (setpriv:
# the program's exit code is Wine's own, where runuser's watching parent
# answers a bare 1, saying nothing, when its wait for the child fails),
# with the same loader and environment as quillon_wine. The caller's X
# cookie may be readable by root only (xvfb-run's is), so the user is given
# a copy beside the prefix, PREFIX.Xauthority.
quillon_wine_as() {
  local user=$1 prefix=${2%/}
  shift 2
  quillon_choose_loader
  quillon_run_as "$user" "$prefix" "$QUILLON_WINE_LOADER" "$@"
}

# USER's wineserver for PREFIX (-p, -k, -w).
quillon_wineserver_as() {
  local user=$1 prefix=${2%/} server=$quillon_wine_dir/wineserver
  shift 2
  [ -x "$server" ] || server=wineserver
  quillon_run_as "$user" "$prefix" "$server" "$@"
}

quillon_run_as() {
  local user=$1 prefix=$2 cookie=$2.Xauthority from=${XAUTHORITY:-${HOME:-/root}/.Xauthority}
  shift 2
  quillon_choose_loader
  local display=()
  if [ -n "${DISPLAY:-}" ]; then
    display=(DISPLAY="$DISPLAY")
    if [ -r "$from" ]; then
      if ! cmp -s "$from" "$cookie"; then
        # BASHPID: runs started side by side in the background share $$.
        install -m 600 -o "$user" "$from" "$cookie.$BASHPID" && mv -f "$cookie.$BASHPID" "$cookie" || return 1
      fi
      display+=(XAUTHORITY="$cookie")
    fi
  fi
  local home
  home=$(getent passwd "$user" | cut -d: -f6) || { echo "wine.sh: no user $user" >&2; return 1; }
  # The user's own HOME, USER and LOGNAME, as runuser -u sets them.
  setpriv --reuid="$user" --regid="$user" --init-groups -- env -u XAUTHORITY HOME="$home" USER="$user" LOGNAME="$user" \
    WINEPREFIX="$prefix" WINELOADER="$WINELOADER" WINEDEBUG="$WINEDEBUG" \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" LC_ALL="$LC_ALL" "${display[@]}" "$@"
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
    wine-as) quillon_wine_as "$@" ;;
    wineserver-as) quillon_wineserver_as "$@" ;;
    *) echo "usage: $0 wine|wineboot|wineserver|reg|display|runs-32bit|why-not-32bit|wine-as|wineserver-as ARGS..." >&2; exit 2 ;;
  esac
fi
