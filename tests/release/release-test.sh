#!/bin/bash
# Tests of the release command.
#   zips OUT VERSION: runs it twice, from two build folders, and checks that
#     both runs give the same bytes, that each zip holds Quillon.exe and
#     README.txt, and that the 32-bit program carries its version resource;
#     then packages the second run's programs again, signed with a throwaway
#     code-signing certificate, and checks that both carry a signature it
#     verifies. The test's caller has installed the packages.
#   unpack OUT PREFIX RUNNER: unpacks each zip into a folder whose path has
#     spaces and characters outside ASCII, inside the Wine prefix, and runs
#     "Quillon.exe -s" from there with RUNNER (the 32-bit one under WoW64).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
fail() { echo "FAIL: $*"; exit 1; }

case $1 in
  zips)
    out=$2 version=$3
    rm -rf "$out"; mkdir -p "$out"
    for run in a b; do
      bash "$root/scripts/release.sh" --no-setup --build "$out/build-$run" --dist "$out/dist-$run" >"$out/release-$run.log" 2>&1 ||
        { cat "$out/release-$run.log"; fail "release run $run failed"; }
    done
    for f in "Quillon-$version-win32.zip" "Quillon-$version-win64.zip" SHA256SUMS; do
      [ -s "$out/dist-a/$f" ] || fail "dist/$f was not written"
      cmp "$out/dist-a/$f" "$out/dist-b/$f" || fail "$f differs between two runs of the same sources"
    done
    (cd "$out/dist-a" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not match the zips"
    for arch in win32 win64; do
      python3 - "$out/dist-a/Quillon-$version-$arch.zip" "$version" <<'PY' || fail "$arch zip"
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert names == ["Quillon.exe", "README.txt"], names
readme = z.read("README.txt").decode("utf-8")
assert "@" + "QUILLON" not in readme, "a placeholder was left in README.txt"
assert sys.argv[2] in readme and "Quillon_settings.ini" in readme and "schtasks" in readme, readme
assert "\r\n" in readme and "\n" not in readme.replace("\r\n", ""), "README.txt must have CRLF line ends"
assert z.read("Quillon.exe")[:2] == b"MZ"
print(sys.argv[1], "holds", names)
PY
    done
    # The version resource as it is stored, read without running anything.
    mkdir -p "$out/win32"
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extract("Quillon.exe", sys.argv[2])' \
      "$out/dist-a/Quillon-$version-win32.zip" "$out/win32"
    file "$out/win32/Quillon.exe" | grep -q 'PE32 executable.*Intel 80386' || fail "the win32 zip holds no 32-bit program"
    rc=$(i686-w64-mingw32-windres -J coff -i "$out/win32/Quillon.exe" -O rc 2>&1 | sed -n '/VERSIONINFO/,/^END/p')
    [ -n "$rc" ] || fail "the 32-bit program has no version resource"
    echo "$rc"
    IFS=. read -r major minor patch tweak <<<"$version"
    numbers="$major, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
    for want in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" 'VALUE "ProductName", "Quillon"' \
                "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
                'VALUE "OriginalFilename", "Quillon.exe"' 'VALUE "CompanyName", "' 'VALUE "FileDescription", "'; do
      grep -qF "$want" <<<"$rc" || fail "the version resource lacks: $want"
    done
    echo "release zips: reproducible and complete"

    sign=$out/signing
    mkdir -p "$sign"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sign/key.pem" -out "$sign/cert.pem" -days 2 \
      -subj "/CN=Quillon test signing" -addext extendedKeyUsage=codeSigning >"$sign/openssl.log" 2>&1 ||
      { cat "$sign/openssl.log"; fail "no test certificate"; }
    QUILLON_SIGN_CERT=$sign/cert.pem QUILLON_SIGN_KEY=$sign/key.pem \
      bash "$root/scripts/release.sh" --no-setup --reuse-builds --build "$out/build-b" --dist "$out/dist-signed" \
      >"$out/release-signed.log" 2>&1 ||
      { cat "$out/release-signed.log"; fail "the signed release run failed"; }
    (cd "$out/dist-signed" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not match the signed zips"
    for dist in dist-a dist-signed; do
      for arch in win32 win64; do
        mkdir -p "$sign/$dist-$arch"
        python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extract("Quillon.exe", sys.argv[2])' \
          "$out/$dist/Quillon-$version-$arch.zip" "$sign/$dist-$arch"
        verified=yes
        osslsigncode verify -CAfile "$sign/cert.pem" -in "$sign/$dist-$arch/Quillon.exe" >"$sign/verify-$dist-$arch.log" 2>&1 ||
          verified=""
        if [ "$dist" = dist-signed ] && [ -z "$verified" ]; then
          cat "$sign/verify-$dist-$arch.log"; fail "the signed $arch program does not verify"
        elif [ "$dist" = dist-a ] && [ -n "$verified" ]; then
          fail "the unsigned $arch program verifies as signed"
        fi
      done
    done
    echo "release zips: both programs signed and verified"
    ;;
  unpack)
    out=$2 prefix=$3 runner=$4
    runs="dist-a/win64 dist-a/win32 dist-signed/win64"
    # The 32-bit zip's program only where 32-bit programs run.
    . "$root/scripts/wine.sh"
    if ! quillon_runs_32bit || [ "${QUILLON_SKIP_WIN32_TESTS:-}" = 1 ]; then
      runs="dist-a/win64 dist-signed/win64"
      why=$(quillon_why_not_32bit)
      echo "dist-a/win32: not run: ${why:-QUILLON_SKIP_WIN32_TESTS=1}"
    fi
    for run in $runs; do
      dist=${run%/*} arch=${run#*/}
      zip=$(ls "$out/$dist"/Quillon-*-$arch.zip 2>/dev/null | head -n 1)
      [ -n "$zip" ] || fail "no $arch zip in $out/$dist"
      folder="$prefix/drive_c/users/Public/Quillon Tëst – Ωmega $dist $arch"
      rm -rf "$folder"; mkdir -p "$folder"
      python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$folder"
      [ -f "$folder/Quillon.exe" ] && [ -f "$folder/README.txt" ] || fail "the $run zip did not unpack"
      log="$prefix/drive_c/IP_log.txt"
      rm -f "$log"
      "$runner" "$folder/Quillon.exe" -s
      status=$?
      [ $status -eq 0 ] || fail "$run: Quillon.exe -s ended with $status"
      [ -f "$folder/Quillon_settings.ini" ] || fail "$run: no Quillon_settings.ini beside the program: $(ls "$folder")"
      printf '[Main]\r\nlog=C:\\IP_log.txt\r\n' | cmp -s - "$folder/Quillon_settings.ini" ||
        fail "$run: settings file: $(od -c "$folder/Quillon_settings.ini" | head)"
      printf '127.0.0.1\r\n' | cmp -s - "$log" || fail "$run: log: $(od -c "$log" 2>&1 | head)"
      echo "$run: unpacked into \"$folder\": logged $(tr -d '\r' <"$log") and wrote the settings beside the program"
    done
    ;;
  *) echo "usage: $0 zips OUT VERSION | unpack OUT PREFIX RUNNER" >&2; exit 2 ;;
esac
