#!/usr/bin/env bash
# Builds the Windows installer with NSIS from the two programs given:
#
#   make-installer.sh VERSION OUT KESTRANE_EXE KESTRANE_CLI_EXE [SIGN_SCRIPT]
#
# The readme, the licence and the icon come from the checkout. With
# SIGN_SCRIPT, the uninstaller is signed with it before it is packed (the
# installer itself is signed afterwards by whoever called this).
set -euo pipefail

if [ $# -lt 4 ] || [ $# -gt 5 ]; then
  echo "usage: $0 VERSION OUT KESTRANE_EXE KESTRANE_CLI_EXE [SIGN_SCRIPT]" >&2
  exit 64
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$1
out=$(realpath -m "$2")
app=$(realpath "$3")
cli=$(realpath "$4")
sign=()
if [ $# -eq 5 ]; then
  sign=("-DSIGN_SCRIPT=$(realpath "$5")")
fi
if ! command -v makensis >/dev/null; then
  echo "make-installer: makensis not found (Debian package nsis)" >&2
  exit 1
fi

mkdir -p "$(dirname "$out")"
# -V2: warnings and errors only; -WX: a warning fails the build.
makensis -V2 -WX -NOCD \
  "-DVERSION=$version" "-DOUTFILE=$out" "-DAPP_EXE=$app" "-DCLI_EXE=$cli" \
  "-DREADME=$root/README.md" "-DLICENSE=$root/LICENSE" \
  "-DICON=$root/win32/app/res/kestrane.ico" "${sign[@]}" \
  "$here/kestrane.nsi"
