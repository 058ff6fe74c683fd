#!/usr/bin/env bash
# signing_test.sh WINE_RUN EXE: a packed launcher signed afterwards with
# Authenticode (a throw-away certificate) verifies and still runs: the
# signature goes after the data section, which the launcher finds through
# its section table, not through the end of the file.
set -euo pipefail
wine_run=$1 exe=$2
command -v osslsigncode >/dev/null || { echo "osslsigncode not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Onefile test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Onefile test" \
  -in "$exe" -out "$work/signed.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; echo "signature does not verify"; exit 1; }
grep -q "Signature verification: ok" "$work/verify.txt" || { cat "$work/verify.txt"; exit 1; }

set +e
"$wine_run" "$work/signed.exe" exit 7
code=$?
set -e
[ "$code" = 7 ] || { echo "signed launcher exited with $code, expected 7"; exit 1; }
echo "signed, verified, ran (exit code 7)"
