#!/usr/bin/env bash
# Signs a Windows program (Authenticode, SHA-256) in place with osslsigncode:
#
#   KESTRANE_SIGN_PKCS12=cert.p12 KESTRANE_SIGN_PASSWORD=... sign.sh FILE
#
# The certificate and its key come from the PKCS#12 file; the password is
# handed over in a file only this user can read, never on a command line.
# With KESTRANE_SIGN_TIMESTAMP_URL the signature is also timestamped there.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 FILE" >&2
  exit 64
fi
file=$1
: "${KESTRANE_SIGN_PKCS12:?names the PKCS#12 file of the code-signing certificate}"
if [ ! -r "$KESTRANE_SIGN_PKCS12" ]; then
  echo "sign: cannot read the certificate $KESTRANE_SIGN_PKCS12" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
printf '%s' "${KESTRANE_SIGN_PASSWORD:-}" >"$work/password"
timestamp=()
if [ -n "${KESTRANE_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$KESTRANE_SIGN_TIMESTAMP_URL")
fi
osslsigncode sign -pkcs12 "$KESTRANE_SIGN_PKCS12" -readpass "$work/password" \
  -h sha256 -n "Kestrane" "${timestamp[@]}" -in "$file" -out "$work/signed" >/dev/null
# Replace the file's content, keeping the file (and its mode) itself.
cat "$work/signed" >"$file"
