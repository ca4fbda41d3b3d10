#!/usr/bin/env bash
# Signing as the build signs: a throw-away certificate authority and code-signing
# certificate made with openssl, a copy of setup.exe signed by scripts/sign-exe.sh. The
# signature verifies against that authority alone, with SHA-256, and the signed setup.exe
# still runs its wizard under Wine. A copy that was not signed does not verify, nor does the
# signed one against another authority.
# Usage: signing-test.sh WINE_RUN DRIVER SETUP_EXE SIGN_SCRIPT WORK
set -uo pipefail
wine_run=$1 driver=$2 setup=$3 sign=$4 work=$5
source "$(dirname "$0")/wizard.sh"
rm -rf "$work"
mkdir -p "$work/kit"
failed=0
step() { echo "$1"; }
failure() { echo "FAILED: $1"; failed=1; }

cd "$work"
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Tarnwhistle test authority" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign &&
  openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem -days 2 \
    -subj "/CN=Another authority" -addext basicConstraints=critical,CA:TRUE &&
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Tarnwhistle test signer" &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
    -extfile signer.ext -out signer.pem
} >openssl.log 2>&1 || { cat openssl.log; echo "FAILED: no certificate"; exit 1; }

cp "$setup" kit/setup.exe
cp "$setup" unsigned.exe
if sh "$sign" --cert signer.pem --key signer.key kit/setup.exe; then
  step "signed a copy of setup.exe"
else
  failure "sign-exe.sh failed"
fi
if osslsigncode verify -CAfile ca.pem -in kit/setup.exe >verify.log 2>&1; then
  step "the signature verifies against the test authority"
  grep -qi 'digest algorithm *: *SHA256' verify.log && step "with SHA-256" ||
    failure "the signature's digest is not SHA-256: $(grep -i 'digest algorithm' verify.log)"
else
  cat verify.log
  failure "the signature does not verify"
fi
if osslsigncode verify -CAfile ca.pem -in unsigned.exe >verify-unsigned.log 2>&1; then
  failure "a copy that was not signed verifies too"
fi
if osslsigncode verify -CAfile other.pem -in kit/setup.exe >verify-other.log 2>&1; then
  failure "the signature verifies against another authority too"
fi

open_wizard_and_about kit ./setup.exe || failure "the signed setup.exe did not run its wizard"
exit $failed
