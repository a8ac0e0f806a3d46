#!/bin/bash
# ipv6-standins.sh RAW BUILD WORK: the benchmark's refresh with ipv6=1
# against stand-ins for the public services, over HTTPS, answering after
# 40 ms as services across the Internet do (on loopback with no delay, a
# refresh is the CPU's alone, and two of them cost twice), the IPv6 names led
# to fd00:5ee::11, next to the same refresh with IPv4 alone; its figure line
# goes to RAW, Wine's messages and the stand-ins' to WORK. Runs itself in
# network and mount namespaces of its own (root). Wine's sockets are made
# by the wineserver, so the caller stops the prefix's first: one is started
# inside, and stopped before the namespace ends (one still running outside
# is stopped first, whatever the caller did).
set -u
raw=$1 build=$2 work=$3
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine.sh"
. "$root/tests/fixtures/standins.sh"
if ! standins_own_ns net; then exec unshare --mount --net bash "$0" "$@"; fi

export WINEPREFIX=$build/wineprefix
# The names resolve here, with nothing between: no proxy from the caller.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
rm -rf "$work" && mkdir -p "$work/bench"
trap 'quillon_wineserver -k >/dev/null 2>&1; quillon_wineserver -w; standins_stop "$work/standins"' EXIT
v4=203.0.113.5 v6=2001:db8::5
if ! { standins_net6 && standins_setup "$work/standins" &&
       standins_serve "$work/standins" "paced $v4" 'answer 203.0.113.6' 'answer 203.0.113.7' &&
       standins_serve6 "$work/standins" "paced $v6" 'answer 2001:db8::6' 'answer 2001:db8::7'; } >"$work/standins.log" 2>&1; then
  echo "no stand-ins:"; cat "$work/standins.log"; exit 1
fi
# A server still running outside would make this row's sockets there, where
# the stand-ins are not: its socket file reaches it from here, to stop it.
quillon_wineserver -k >/dev/null 2>&1; quillon_wineserver -w
quillon_wineserver -p </dev/null >/dev/null 2>&1
quillon_wineboot </dev/null >/dev/null 2>&1  # the prefix's services, with no pipe of ours
# The prefix's proxy is the benchmark's nginx, which this namespace has not.
quillon_wine_reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
  /v ProxyEnable /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
status=0
QUILLON_BENCH_DIR=$work/bench QUILLON_STANDIN_V4=$v4 QUILLON_STANDIN_V6=$v6 \
  quillon_wine "$build/bin/QuillonBench.exe" --ipv6-standins </dev/null >"$raw" 2>"$work/wine-messages.txt" || status=$?
if [ "$status" -ne 0 ]; then
  echo "QuillonBench.exe --ipv6-standins ended with $status; it said:"; cat "$work/wine-messages.txt"
  echo "the stand-ins were asked:"; standins_requests "$work/standins" | sort | uniq -c
fi
exit "$status"
