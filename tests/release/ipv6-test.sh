#!/bin/bash
# ipv6-test.sh OUT BUILD: the zips' programs as user-test.sh's user meets
# them, asking for the IPv6 address too, over real IPv6: in a network
# namespace of the test's own, one nginx on fd00:5ee::11 stands in for the
# IPv6 services. Wine's sockets are made by the wineserver, so the nonroot
# fixture's is stopped, one runs inside, and the fixture's comes back after.
# Needs root; without it, says so and exits 77 (skipped).
# QUILLON_IPV6_ROUNDS: how many rounds of eight runs at once (5), and
# QUILLON_IPV6_KILLS: how many overwriting runs killed (20), more to count
# a rare fault.
set -u
out=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine.sh"
. "$root/tests/fixtures/standins.sh"
# A failed case names the cause that the program left, where it left one.
fail() {
  local why=""
  [ -n "${folder:-}" ] && why=$(last_error)
  echo "FAIL: $arch: $*${why:+ (Quillon_last_error.txt: $why)}"
  exit 1
}

if [ "$(id -u)" != 0 ] || ! unshare --mount --net true 2>/dev/null; then
  echo "SKIPPED: this test needs network and mount namespaces of its own, which need root"
  exit 77
fi
arch=setup user=$(bash "$root/tests/fixtures/nonroot.sh" user)
prefix=$(bash "$root/tests/fixtures/nonroot.sh" prefix "$build")
[ -f "$prefix/system.reg" ] || fail "the nonroot fixture has not made $prefix"
server() { quillon_wineserver_as "$user" "$prefix" "$@" </dev/null >/dev/null 2>&1; }
if ! standins_own_ns net; then
  server -k; server -w; status=0
  unshare --mount --net bash "$0" "$@" || status=$?
  server -p; exit $status
fi

work=$build/ipv6-test
rm -rf "$work" && mkdir -p "$work"
trap 'server -k; server -w; standins_stop "$work/standins"' EXIT
{ standins_net6 && standins_setup "$work/standins"; } >"$work/standins.log" 2>&1 || { cat "$work/standins.log"; fail "no stand-ins"; }
server -p
quillon_wine_as "$user" "$prefix" wineboot.exe </dev/null >/dev/null 2>&1  # its services, with no pipe of ours
public=$prefix/drive_c/users/Public
install -d -o "$user" "$public/probe" "$work/shots"
cp "$build/bin/window_probe.exe" "$public/probe/"
export QUILLON_SCREENSHOTS=$work/shots

# A Windows program as the user: its exit code in $status, its time in $ms.
as_user() {
  local start=$(date +%s%N)
  status=0
  quillon_wine_as "$user" "$prefix" "$@" </dev/null >"$work/said" 2>&1 || status=$?
  ms=$((($(date +%s%N) - start) / 1000000))
}
said() { sed -n "s/^$1: //p" "$work/said" | tr -d '\r'; }
probe() { as_user 'C:\users\Public\probe\window_probe.exe' show "$exe" "$@"; }
serve() { "standins_$1" "$work/standins" "${@:2}" >>"$work/standins.log" 2>&1 || fail "stand-ins: $(tail -n 2 "$work/standins.log")"; }
settings() { printf '%s\r\n' '[Main]' "$@" >"$folder/Quillon_settings.ini"; chown "$user" "$folder/Quillon_settings.ini"; }
fresh() { rm -f "$folder/IP_log.txt"; as_user "$exe" -s; }
logged() { [ -e "$folder/IP_log.txt" ] && cmp -s "$folder/IP_log.txt" <(printf '%s\r\n' "$@"); }
log() { od -An -c "$folder/IP_log.txt" 2>/dev/null | tr -s ' \n' ' '; }
last_error() { iconv -f UTF-16 -t UTF-8 "$folder/Quillon_last_error.txt" 2>/dev/null | tr -d '\r' | tr '\n' ' '; }
asked6() { standins_requests "$work/standins" | grep -E '^(api6\.ipify\.org|ipv6\.icanhazip\.com|v6\.ident\.me) ' | tr '\n' ' '; }

runs="win64"
if quillon_runs_32bit && [ "${QUILLON_SKIP_WIN32_TESTS:-}" != 1 ]; then runs="win64 win32"; else
  echo "win32: not run: $(quillon_why_not_32bit)"
fi
v4=203.0.113.5 v6=2001:db8::5
for arch in $runs; do
  zip=$(ls "$out"/dist-a/Quillon-*-$arch.zip 2>/dev/null | head -n 1)
  [ -n "$zip" ] || fail "no zip in $out/dist-a"
  folder=$public/"Quillon IPv6 $arch" exe="C:\\users\\Public\\Quillon IPv6 $arch\\Quillon.exe"
  rm -rf "$folder"
  install -d -o "$user" "$folder"
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$folder"
  chown -R "$user" "$folder"
  started=$(date +%s)
  # The second services answer as the first: on a loaded machine a run may
  # ask them after 1.5 s, and the rounds below count lines, not services.
  serve serve "answer $v4" "answer $v4" 'answer 203.0.113.7'
  serve serve6 "answer $v6" "answer $v6" 'answer 2001:db8::7'

  # No settings file: the IPv4 line alone, no IPv6 service asked.
  fresh
  [ $status -eq 0 ] && logged $v4 && [ -z "$(asked6)" ] || fail "no settings file: exit $status, log: $(log), asked: $(asked6)"
  # Both families: side by side in the window, IPv4 first in the log.
  settings ipv6=1
  rm -f "$folder/IP_log.txt"
  probe "ipv6-$arch-both"
  [ "$(said text1)" = "$v4  $v6" ] && [ -z "$(said balloon)" ] && [ "$(said exit)" = 0 ] && logged $v4 $v6 ||
    fail "ipv6=1, a first normal start: $(tr '\n' ' ' <"$work/said"), log: $(log)"
  # Silent runs, eight at once, in rounds: each run's two lines are one
  # write, side by side in the log, and overwriting runs leave one pair.
  for round in $(seq "${QUILLON_IPV6_ROUNDS:-5}"); do
    for keys in ipv6=1 'ipv6=1 overwrite=1'; do
      settings $keys
      rm -f "$folder/IP_log.txt"
      pids=() statuses=""
      for i in 1 2 3 4 5 6 7 8; do quillon_wine_as "$user" "$prefix" "$exe" -s </dev/null >"$work/run$i" 2>&1 & pids+=($!); done
      for pid in "${pids[@]}"; do wait "$pid"; statuses+="$? "; done
      pairs=$([[ $keys == *overwrite* ]] && echo 1 || echo 8)
      # What Wine said for each run, for a run that ended before the program could say why.
      [ "$statuses" = "0 0 0 0 0 0 0 0 " ] && logged $(for _ in $(seq $pairs); do echo $v4 $v6; done) ||
        fail "round $round of eight runs at once, $keys: exits $statuses, log: $(log), Wine said: $(tail -qn 3 "$work"/run? | tr '\n' ' ')"
    done
  done
  # Overwriting runs killed at any instant: the log holds both lines, whole.
  settings ipv6=1 overwrite=1
  printf '%s\r\n' $v4 $v6 >"$folder/IP_log.txt" && chown "$user" "$folder/IP_log.txt"
  for kill in $(seq "${QUILLON_IPV6_KILLS:-20}"); do
    quillon_wine_as "$user" "$prefix" "$exe" -s </dev/null >/dev/null 2>&1 &
    sleep "0.$(printf '%03d' $((50 + RANDOM % 600)))"
    pkill -9 -u "$user" -f 'Quillon\.exe' 2>/dev/null; wait $! 2>/dev/null
    logged $v4 $v6 || fail "killed run $kill left: $(log)"
  done
  # No IPv6 connection (refused, no name): 3 at once, the IPv4 line logged;
  # a normal start says so, and shows and logs that line.
  settings ipv6=1
  for mode in down unresolved; do
    serve serve6 $mode $mode $mode
    fresh
    [ $status -eq 3 ] && [ "$ms" -lt 15000 ] && logged $v4 || fail "IPv6 $mode: exit $status after $ms ms, log: $(log)"
    probe "ipv6-$arch-no-ipv6-$mode"
    [[ $(said balloon) == *"this network has no IPv6 connection"* && $(said text1) == *$v4* ]] && logged $v4 $v4 ||
      fail "IPv6 $mode, a normal start: $(tr '\n' ' ' <"$work/said"), log: $(log)"
  done
  # changes=1, each family against its own last line (an IPv4 line after
  # the IPv6 one): a new address in the same /64 is no change; a new /64 is
  # a line, and a normal start names the address before it.
  settings ipv6=1 changes=1
  lines=($v4 2001:db8:1:2::5 $v4)
  printf '%s\r\n' "${lines[@]}" >"$folder/IP_log.txt"
  chown "$user" "$folder/IP_log.txt"
  for new in 2001:db8:1:2:aaaa::9 2001:db8:1:3::5 2001:db8:1:4::5; do
    serve serve6 "answer $new" unresolved unresolved
    if [ $new != 2001:db8:1:4::5 ]; then as_user "$exe" -s; else probe "ipv6-$arch-changed"; fi
    [[ $new == *aaaa* ]] || lines+=($new)
    [ $status -eq 0 ] && logged "${lines[@]}" || fail "changes=1, $new: exit $status, log: $(log)"
  done
  [[ $(said balloon) == *2001:db8:1:3::5* ]] && [ "$(said text1)" = "$v4  2001:db8:1:4::5" ] ||
    fail "changes=1, a new /64, a normal start: $(tr '\n' ' ' <"$work/said")"
  # IPv6 switched off from the system menu (Alt+Space, 6) during a refresh
  # whose IPv6 service is slow: that refresh stays as it was asked, both
  # lines logged, no change said, both addresses shown.
  settings ipv6=1
  printf '%s\r\n' $v4 $v6 >"$folder/IP_log.txt" && chown "$user" "$folder/IP_log.txt"
  serve serve6 "slow $v6" unresolved unresolved
  as_user 'C:\users\Public\probe\window_probe.exe' keys "$exe" click 6
  [[ $(said balloon) != *efore* ]] && [ "$(said text1)" = "$v4  $v6" ] && logged $v4 $v6 $v4 $v6 $v4 $v6 &&
    grep -aq 'ipv6=0' "$folder/Quillon_settings.ini" ||
    fail "IPv6 switched off during a refresh: $(tr '\n' ' ' <"$work/said"), log: $(log)"
  echo "$arch: every IPv6 case right in $(($(date +%s) - started)) s"
done
for shot in "$work"/shots/*.bmp; do
  [ -e "$shot" ] && mkdir -p "$build/screenshots" && convert "$shot" "$build/screenshots/$(basename "${shot%.bmp}").png"
done
echo "IPv6 as a user meets it: right"
