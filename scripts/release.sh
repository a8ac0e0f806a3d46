#!/bin/bash
# Builds both targets in release mode, each from scratch, and writes the
# portable zips and their checksums:
#   dist/Quillon-<version>-win32.zip   Quillon.exe (i686) and README.txt
#   dist/Quillon-<version>-win64.zip   Quillon.exe (x86_64) and README.txt
#   dist/SHA256SUMS                    for sha256sum -c
# The same sources give the same bytes: the linker writes no time stamp,
# the exe carries no symbols or build paths, and the zip entries have a
# fixed order, date (SOURCE_DATE_EPOCH, else the last commit's) and
# attributes.
#
# Signing (Authenticode, with osslsigncode), when the environment gives
# both of these: each exe is signed before it is zipped and checksummed (a
# copy of it: the build's own program stays as it was built).
#   QUILLON_SIGN_CERT            the certificate (with its chain), PEM
#   QUILLON_SIGN_KEY             its private key, PEM
#   QUILLON_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamping server
# Without them nothing is signed and the output stays reproducible.
#
# Usage: scripts/release.sh [--dist DIR] [--build DIR] [--reuse-builds] [--no-setup] [-DNAME=VALUE...]
#   --dist DIR      where the zips go (default: dist)
#   --build DIR     holds the build folders release-win32 and release-win64
#                   (default: build)
#   --reuse-builds  sign (when asked) and package the programs an earlier
#                   run built in --build DIR, without building again; no -D
#                   with it, as nothing is configured
#   --no-setup      install nothing: the caller made sure of the packages
#   -D...           passed to CMake for both targets, e.g.
#                   -DQUILLON_ADDRESS_HOST=ip.example.org
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist
build=$root/build
cmake_args=()
reuse="" setup=yes
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --reuse-builds) reuse=yes; shift ;;
    --no-setup) setup=""; shift ;;
    -D?*) cmake_args+=("$1"); shift ;;
    *) echo "usage: $0 [--dist DIR] [--build DIR] [--reuse-builds] [--no-setup] [-DNAME=VALUE...]" >&2; exit 2 ;;
  esac
done
if [ -n "$reuse" ] && [ ${#cmake_args[@]} -gt 0 ]; then
  echo "release: --reuse-builds builds nothing, so ${cmake_args[*]} would not take effect; build again without --reuse-builds" >&2
  exit 2
fi
sign=""
if [ -n "${QUILLON_SIGN_CERT:-}" ] || [ -n "${QUILLON_SIGN_KEY:-}" ]; then
  [ -n "${QUILLON_SIGN_CERT:-}" ] && [ -n "${QUILLON_SIGN_KEY:-}" ] ||
    { echo "release: signing needs both QUILLON_SIGN_CERT and QUILLON_SIGN_KEY" >&2; exit 2; }
  for f in "$QUILLON_SIGN_CERT" "$QUILLON_SIGN_KEY"; do
    [ -r "$f" ] || { echo "release: cannot read $f" >&2; exit 2; }
  done
  sign=yes
fi
mkdir -p "$dist" "$build"
dist=$(cd "$dist" && pwd)
build=$(cd "$build" && pwd)

[ -z "$setup" ] || bash "$root/scripts/setup.sh"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)
  # Outside a git checkout: the earliest date a zip can hold.
  [ -n "$SOURCE_DATE_EPOCH" ] || SOURCE_DATE_EPOCH=315532800
fi
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null || true)" ]; then
  echo "release: note: the working tree has uncommitted changes; the zips hold them"
fi

# -s: no symbol table, whose file entries would name the build's paths.
linker_flags="-s -Wl,--no-insert-timestamp"
for arch in win32 win64; do
  case $arch in
    win32) toolchain=$root/cmake/mingw-i686.cmake ;;
    win64) toolchain=$root/cmake/mingw-x86_64.cmake ;;
  esac
  dir=$build/release-$arch
  if [ -n "$reuse" ]; then
    [ -f "$dir/bin/Quillon.exe" ] || { echo "release: nothing built in $dir to reuse" >&2; exit 1; }
  else
    # From scratch, so that nothing of an earlier configuration (a cache
    # value given once with -D) or an older object file slips in.
    rm -rf "$dir"; mkdir -p "$dir"
    echo "release: building $arch in $dir"
    cmake -S "$root" -B "$dir" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF \
          -DCMAKE_EXE_LINKER_FLAGS="$linker_flags" "${cmake_args[@]}" >"$dir/release-configure.log" 2>&1 ||
      { cat "$dir/release-configure.log"; exit 1; }
    cmake --build "$dir" -j"$(nproc)" >"$dir/release-build.log" 2>&1 || { cat "$dir/release-build.log"; exit 1; }
  fi
  # What goes into the zip is a copy, signed or not: the build's own program
  # stays unsigned, so a later unsigned --reuse-builds ships an unsigned one.
  exe=$dir/bin/Quillon.exe
  staged=$dir/package/Quillon.exe
  rm -rf "$dir/package"; mkdir -p "$dir/package"
  if [ -n "$sign" ]; then
    osslsigncode sign -certs "$QUILLON_SIGN_CERT" -key "$QUILLON_SIGN_KEY" -h sha256 -n Quillon \
      ${QUILLON_SIGN_TIMESTAMP_URL:+-ts "$QUILLON_SIGN_TIMESTAMP_URL"} -in "$exe" -out "$staged" \
      >"$dir/release-sign.log" 2>&1 || { cat "$dir/release-sign.log"; exit 1; }
    echo "release: signed $staged"
  else
    cp "$exe" "$staged"
  fi
done

SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH python3 - "$root" "$build" "$dist" <<'EOF'
import hashlib, os, re, struct, sys, time, zipfile

root, build, dist = sys.argv[1:4]

def config(arch):
    with open(os.path.join(build, f"release-{arch}", "generated", "QuillonConfig.h"), encoding="utf-8") as f:
        return dict(re.findall(r'^#define (\w+) L?"(.*)"$', f.read(), re.M))

def machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"release: {path} is not a Windows program")
    return struct.unpack_from("<H", data, pe + 4)[0]

configs = {arch: config(arch) for arch in ("win32", "win64")}
version = configs["win64"]["QUILLON_VERSION"]
if configs["win32"] != configs["win64"]:
    sys.exit("release: the two builds were configured differently")

with open(os.path.join(root, "res", "README.txt"), encoding="utf-8") as f:
    readme = f.read()
# What the program asks when its settings name no page: its build's host,
# or the public services.
host = configs["win64"]["QUILLON_ADDRESS_HOST"]
if host:
    asked = f"the address server http://{host}/ip.shtml"
    sources = (f"Unless its settings name other pages, Quillon asks http://{host}/ip.shtml,\n"
               "which answers the address that its request comes from. Set url in\n"
               "the settings file to ask your own pages instead.")
else:
    asked = "public address services"
    sources = ("Unless its settings name other pages, Quillon asks these public\n"
               "services over HTTPS, one after the other until one answers with an\n"
               "address:\n\n"
               "  https://api.ipify.org/\n"
               "  https://ipv4.icanhazip.com/\n"
               "  https://checkip.amazonaws.com/\n\n"
               "A second service is asked only when the first is slow: one that has\n"
               "not answered within a second and a half has the next asked beside it.\n"
               "Each sees the request and the address it comes from, nothing else:\n"
               "no name, no settings, nothing else from this computer. Set url in\n"
               "the settings file to ask your own pages instead; then none of these\n"
               "is asked.")
for key, value in (("QUILLON_VERSION", configs["win64"]["QUILLON_VERSION"]), ("QUILLON_ADDRESS_ASKED", asked),
                   ("QUILLON_ADDRESS_SOURCES", sources)):
    readme = readme.replace(f"@{key}@", value)
# Windows users open it in Notepad.
readme = readme.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")

# Zip times are local times without a zone: the UTC date, the same anywhere.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
stamp = (stamp[0], stamp[1], stamp[2], stamp[3], stamp[4], stamp[5] - stamp[5] % 2)

names = []
for arch, expected in (("win32", 0x14C), ("win64", 0x8664)):
    exe = os.path.join(build, f"release-{arch}", "package", "Quillon.exe")
    if machine(exe) != expected:
        sys.exit(f"release: {exe} is built for the wrong processor")
    with open(exe, "rb") as f:
        program = f.read()
    name = f"Quillon-{version}-{arch}.zip"
    target = os.path.join(dist, name)
    with zipfile.ZipFile(target + ".part", "w") as z:
        for entry, data in (("Quillon.exe", program), ("README.txt", readme)):
            info = zipfile.ZipInfo(entry, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0      # MS-DOS/Windows attributes
            info.external_attr = 0x20   # FILE_ATTRIBUTE_ARCHIVE
            z.writestr(info, data, compresslevel=9)
    os.replace(target + ".part", target)
    names.append(name)

lines = []
for name in sorted(names):
    with open(os.path.join(dist, name), "rb") as f:
        lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")
with open(os.path.join(dist, "SHA256SUMS.part"), "w", newline="\n") as f:
    f.writelines(lines)
os.replace(os.path.join(dist, "SHA256SUMS.part"), os.path.join(dist, "SHA256SUMS"))
for name in sorted(names):
    print(f"release: {os.path.join(dist, name)} ({os.path.getsize(os.path.join(dist, name))} bytes)")
print(f"release: {os.path.join(dist, 'SHA256SUMS')}:")
print("".join(lines), end="")
EOF
