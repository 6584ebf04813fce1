#!/usr/bin/env bash
# Builds a release of Kestrane from this checkout, in Release, into dist/:
#
#   bash tools/release.sh
#
#   dist/Kestrane-Setup-VERSION.exe     the Windows installer
#   dist/Kestrane-VERSION-win64.zip     Kestrane.exe and kestrane-cli.exe, to
#                                       run from any folder, with the readme
#                                       and the licence
#   dist/kestrane-cli_VERSION_ARCH.deb  the Debian package of kestrane-cli
#   dist/SHA256SUMS                     their sums, for sha256sum -c
#
# VERSION is the project's version (CMakeLists.txt), the one --version prints.
# With a code-signing certificate, both programs, the uninstaller and the
# installer are signed (Authenticode, osslsigncode) before anything is packed
# or summed:
#
#   KESTRANE_SIGN_PKCS12=cert.p12 KESTRANE_SIGN_PASSWORD=... bash tools/release.sh
#
# (KESTRANE_SIGN_TIMESTAMP_URL adds a timestamp from that server.) Without a
# certificate the release is unsigned, and this script says so. KESTRANE_DIST
# names another folder than dist/ for the result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/setup.sh
jobs=$(nproc)
version=$(sed -n 's/^project(Kestrane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "release: no project version found in CMakeLists.txt" >&2
  exit 1
fi
dist=$(realpath -m "${KESTRANE_DIST:-dist}")

sign=()
if [ -n "${KESTRANE_SIGN_PKCS12:-}" ]; then
  sign=(bash "$root/packaging/windows/sign.sh")
  echo "== Kestrane $version, signed with $KESTRANE_SIGN_PKCS12"
else
  echo "== Kestrane $version, UNSIGNED: no code-signing certificate given (KESTRANE_SIGN_PKCS12)"
fi

echo "== Windows programs (Release)"
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j"$jobs" --target Kestrane kestrane-cli
echo "== kestrane-cli for Debian (Release)"
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j"$jobs"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
rm -rf "$dist"
mkdir -p "$dist"

# The portable folder: the programs without their symbols, signed when a
# certificate is given, with the texts a Windows user can open.
portable=Kestrane-$version-win64
mkdir "$stage/$portable"
cp build/windows-release/win32/app/Kestrane.exe build/windows-release/cli/kestrane-cli.exe \
  "$stage/$portable/"
cp README.md "$stage/$portable/README.txt"
cp LICENSE "$stage/$portable/LICENSE.txt"
for program in "$stage/$portable"/*.exe; do
  x86_64-w64-mingw32-strip "$program"
  if [ ${#sign[@]} -gt 0 ]; then
    "${sign[@]}" "$program"
  fi
done

echo "== The installer"
setup=$dist/Kestrane-Setup-$version.exe
# With a certificate, make-installer signs the uninstaller before packing it.
bash packaging/windows/make-installer.sh "$version" "$setup" \
  "$stage/$portable/Kestrane.exe" "$stage/$portable/kestrane-cli.exe" \
  ${sign[@]:+"$root/packaging/windows/sign.sh"}
if [ ${#sign[@]} -gt 0 ]; then
  "${sign[@]}" "$setup"
fi

echo "== The portable zip"
(cd "$stage" && cmake -E tar cf "$dist/$portable.zip" --format=zip "$portable")

echo "== The Debian package"
(cd build/native-release && cpack -G DEB -B "$stage/deb" >/dev/null)
cp "$stage"/deb/*.deb "$dist/"

(cd "$dist" && sha256sum -- *.exe *.zip *.deb >SHA256SUMS)
echo "== dist/"
(cd "$dist" && ls -l && cat SHA256SUMS)
if [ ${#sign[@]} -eq 0 ]; then
  echo "release: this release is unsigned (no code-signing certificate was given)"
fi
