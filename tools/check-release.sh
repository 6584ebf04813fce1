#!/usr/bin/env bash
# Checks a release that tools/release.sh made, as its users meet it:
#
#   bash tools/check-release.sh [DIST]      (dist/ unless given)
#
# - SHA256SUMS covers the three artifacts and sha256sum -c accepts it;
# - the portable zip holds both programs, the readme and the licence, and
#   they run from a folder of their own with spaces and non-ASCII letters in
#   its path, under Wine: kestrane-cli.exe --version and a send to the
#   emulated device, Kestrane.exe through an update to its final box;
# - the installer installs for the current user and its uninstaller removes
#   the program again (the whole behaviour is tested with the build's own
#   installer in the Windows test run);
# - the Debian package passes lintian and works on a fresh Debian 12
#   (tools/check-deb.sh);
# - a release signed with a throw-away self-signed certificate carries
#   Authenticode signatures that osslsigncode verifies on both programs, the
#   installer and the uninstaller it installs.
#
# Each check prints "ok: ..." or "FAIL: ..." (with the end of its output);
# the last line counts them, and the exit status is 1 when one failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
dist=$(realpath -m "${1:-dist}")
version=$(sed -n 's/^project(Kestrane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
work=$root/build/release-check
prefix=$work/wineprefix
wine=(bash "$root/tools/env/wine-env.sh")
# Wine's menu builder stays off: installing in the prefix must not put
# Kestrane into this machine's own menus and file types.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

passed=0
failed=0
check() {
  local name=$1
  shift
  local log=$work/check-$((passed + failed)).log
  # In a subshell: a check may change folders or set variables.
  if ("$@") >"$log" 2>&1; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAIL: $name"
    tail -n 25 "$log" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
}

"${wine[@]}" stop "$prefix" >/dev/null 2>&1 || true
rm -rf "$work"
mkdir -p "$work"
trap '"${wine[@]}" stop "$prefix" >/dev/null 2>&1 || true' EXIT

setup=Kestrane-Setup-$version.exe
zip=Kestrane-$version-win64.zip

sums_cover_the_artifacts() {
  cd "$dist" || return 1
  sha256sum -c --strict SHA256SUMS || return 1
  local listed
  listed=$(awk '{print $2}' SHA256SUMS | sed 's/^\*//' | LC_ALL=C sort | tr '\n' ' ')
  echo "listed: $listed"
  [ "$listed" = "$zip $setup kestrane-cli_${version}_amd64.deb " ]
}
check "SHA256SUMS covers the installer, the zip and the package" sums_cover_the_artifacts

# The folder the zip is unpacked into: a space and letters outside ASCII.
portable="$work/Unpacked here ü/Kestrane-$version-win64"
zip_holds_the_programs() {
  local entries
  entries=$(unzip -Z1 "$dist/$zip" | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
  echo "entries: $entries"
  [ "$entries" = "Kestrane-$version-win64/Kestrane.exe Kestrane-$version-win64/LICENSE.txt Kestrane-$version-win64/README.txt Kestrane-$version-win64/kestrane-cli.exe " ] &&
    mkdir -p "$work/Unpacked here ü" && unzip -q "$dist/$zip" -d "$work/Unpacked here ü" &&
    cmp "$portable/LICENSE.txt" LICENSE
}
check "the zip holds Kestrane.exe, kestrane-cli.exe, README.txt and LICENSE.txt" zip_holds_the_programs

zip_cli_runs() {
  local out
  out=$("${wine[@]}" run "$prefix" "$portable/kestrane-cli.exe" --version | tr -d '\r') || return 1
  echo "--version: $out"
  [ "$out" = "kestrane-cli $version" ] || return 1
  "${wine[@]}" run "$prefix" "$portable/kestrane-cli.exe" send --device sim --virtual-time --yes \
    "Z:$root/examples/example.upd" | tr -d '\r' | tee "$work/cli-send.out" || return 1
  grep -q "updated sucessfully" "$work/cli-send.out"
}
check "kestrane-cli.exe from the zip: --version and an update sent to the emulated device" zip_cli_runs

zip_app_runs() {
  KESTRANE_APP=$portable/Kestrane.exe bash tools/run-app-wine.sh | tee "$work/app.out" || return 1
  grep -q "^\[Kestrane\]" "$work/app.out" && grep -q "updated sucessfully" "$work/app.out"
}
check "Kestrane.exe from the zip runs an update to its success box" zip_app_runs

# Installs for the current user into the check's own prefix and removes it
# again with the quiet uninstall command; with "signed", also checks the
# signature of the uninstaller it installed.
installed_app() {
  echo "$prefix/drive_c/users/$(id -un)/AppData/Local/Programs/Kestrane"
}
install_and_uninstall() {
  local installer=$1 signed=${2:-}
  "${wine[@]}" run "$prefix" "$installer" /S /CurrentUser || return 1
  local folder
  folder=$(installed_app)
  ls "$folder"
  [ -f "$folder/Kestrane.exe" ] && [ -f "$folder/kestrane-cli.exe" ] || return 1
  if [ -n "$signed" ]; then
    osslsigncode verify -CAfile "$work/cert.pem" -in "$folder/Uninstall.exe" || return 1
  fi
  "${wine[@]}" run "$prefix" "$folder/Uninstall.exe" /S /CurrentUser || return 1
  for _ in $(seq 300); do
    [ -e "$folder" ] || return 0
    sleep 0.2
  done
  echo "still there: $folder"
  return 1
}
check "the installer installs for the current user, and the uninstaller removes it" \
  install_and_uninstall "$dist/$setup"

check "the Debian package: lintian, and a fresh Debian 12 installs, runs and removes it" \
  bash tools/check-deb.sh "$dist/kestrane-cli_${version}_amd64.deb"

signed_release() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kestrane throw-away test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" ||
    return 1
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout pass:throw-away || return 1
  KESTRANE_DIST=$work/signed KESTRANE_SIGN_PKCS12=$work/cert.p12 KESTRANE_SIGN_PASSWORD=throw-away \
    bash tools/release.sh || return 1
  (cd "$work/signed" && sha256sum -c --strict SHA256SUMS) || return 1
  mkdir -p "$work/signed-zip" && unzip -q "$work/signed/$zip" -d "$work/signed-zip" || return 1
  local program
  for program in "$work/signed/$setup" "$work/signed-zip/Kestrane-$version-win64/Kestrane.exe" \
    "$work/signed-zip/Kestrane-$version-win64/kestrane-cli.exe"; do
    echo "== $program"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$program" || return 1
  done
  # The unsigned release's programs have no signature at all.
  ! osslsigncode verify -in "$dist/$setup" || return 1
  install_and_uninstall "$work/signed/$setup" signed
}
check "a release signed with a throw-away certificate: every program's signature verifies" \
  signed_release

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
