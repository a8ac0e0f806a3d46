#!/bin/bash
# Tests of the release command.
#   zips OUT VERSION: runs it twice, from two build folders, and checks that
#     both runs give the same bytes, that each zip holds Quillon.exe and
#     README.txt, and that the 32-bit program carries its version resource;
#     then packages the second run's programs again, signed with a throwaway
#     code-signing certificate, and checks that both carry a signature it
#     verifies while the builds' own programs stay unsigned, and that an
#     unsigned reuse then gives the first run's bytes again. The test's
#     caller has installed the packages.
# What the zips' programs do for a user: user-test.sh.
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
assert "https://api.ipify.org/" in readme and "https://checkip.amazonaws.com/" in readme, "the services are not named"
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
    # Signing took copies: the builds stay unsigned, and an unsigned reuse gives the first run's bytes.
    for arch in win32 win64; do
      osslsigncode verify -CAfile "$sign/cert.pem" -in "$out/build-b/release-$arch/bin/Quillon.exe" >/dev/null 2>&1 &&
        fail "signing changed the $arch build's own program"
    done
    bash "$root/scripts/release.sh" --no-setup --reuse-builds --build "$out/build-b" --dist "$out/dist-reused" \
      >"$out/release-reused.log" 2>&1 || { cat "$out/release-reused.log"; fail "the unsigned reuse run failed"; }
    for f in "Quillon-$version-win32.zip" "Quillon-$version-win64.zip" SHA256SUMS; do
      cmp "$out/dist-a/$f" "$out/dist-reused/$f" || fail "$f from an unsigned reuse after a signed one differs"
    done
    bash "$root/scripts/release.sh" --no-setup --reuse-builds -DX=Y --build "$out/build-b" --dist "$out/dist-reused"
    [ $? -eq 2 ] || fail "--reuse-builds took -D options it cannot apply"
    echo "release zips: both programs signed and verified, the builds left unsigned"
    ;;
  *) echo "usage: $0 zips OUT VERSION" >&2; exit 2 ;;
esac
