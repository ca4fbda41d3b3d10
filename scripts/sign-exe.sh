#!/bin/sh
# Signs a Windows program in place with osslsigncode: Authenticode, SHA-256, and a time
# stamp from an RFC 3161 service when one is given.
# Usage: sign-exe.sh --cert CERT.pem --key KEY.pem [--timestamp URL] EXE
set -eu
cert="" key="" timestamp=""
while [ $# -gt 1 ]; do
  case $1 in
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --timestamp) timestamp=$2 ;;
    *) echo "sign-exe.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
exe=${1:?usage: sign-exe.sh --cert CERT --key KEY [--timestamp URL] EXE}
[ -n "$cert" ] && [ -n "$key" ] || { echo "sign-exe.sh: --cert and --key are required" >&2; exit 2; }

signed=$exe.signed
rm -f "$signed"
set -- -certs "$cert" -key "$key" -h sha256 -n "Tarnwhistle"
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
if ! osslsigncode sign "$@" -in "$exe" -out "$signed" >"$exe.sign.log" 2>&1; then
  cat "$exe.sign.log" >&2
  rm -f "$signed"
  exit 1
fi
mv "$signed" "$exe"
