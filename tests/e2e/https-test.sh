#!/bin/bash
# BUILD: the built Quillon.exe with an https:// url against the test nginx,
# run silently. Untrusted, its certificate fails the fetch. Trusted, it
# logs; a redirect through plain HTTP (and back) and a certificate for
# another host fail.
# Wine takes the trusted roots from the host's CA bundle, per process, so
# the test CA is trusted by putting it into that bundle in a private mount
# namespace around the runs: the machine's own trust store never holds it.
# Needs root for that namespace; without it, says so and counts as skipped.
set -u
build=$1
fixtures=$build/fixtures/nginx
bundle=/etc/ssl/certs/ca-certificates.crt
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$fixtures/port-tls" ] || fail "the nginx fixture is not running"

dir=$build/wineprefix/drive_c/https-test
rm -rf "$dir"; mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
cp "$build/bin/Quillon.exe" "$dir/"
url() { echo "https://127.0.0.1:$(cat "$fixtures/port-$1")$2"; }
# run NAME URL EXPECTED-EXIT EXPECTED-LOG [trusted]
run() {
  printf '[Main]\r\nlog=C:\\https-test\\IP_log.txt\r\nurl=%s\r\n' "$2" >"$dir/Quillon_settings.ini"
  local status=0
  if [ -n "${5:-}" ]; then
    unshare --mount bash -c 'mount --bind "$1" "$2" && exec "$3" "$4" -s' _ "$dir/bundle.pem" "$bundle" \
      "$build/wine-run.sh" "$dir/Quillon.exe" || status=$?
  else
    "$build/wine-run.sh" "$dir/Quillon.exe" -s || status=$?
  fi
  [ "$status" -eq "$3" ] || fail "$1: exit code $status, not $3"
  [ "$(cat "$dir/IP_log.txt" 2>/dev/null | od -c)" = "$(printf '%b' "$4" | od -c)" ] ||
    fail "$1: the log holds \"$(cat "$dir/IP_log.txt" 2>/dev/null)\""
  echo "$1: exit code $status, as it should"
}

run "an untrusted certificate" "$(url tls /ip.shtml)" 1 ""
if ! unshare --mount true 2>/dev/null; then
  echo "SKIPPED: the trusted cases need a private mount namespace (root), which this user cannot make"
  exit 77
fi
cat "$bundle" "$fixtures/tls/ca.pem" >"$dir/bundle.pem"
run "a trusted certificate" "$(url tls /ip.shtml)" 0 '127.0.0.1\r\n' trusted
run "a redirect through plain HTTP back to HTTPS" "$(url tls /to-http)" 1 '127.0.0.1\r\n' trusted
run "a certificate for another host" "$(url wronghost /)" 1 '127.0.0.1\r\n' trusted
