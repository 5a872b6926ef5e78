#!/bin/sh
# Makes the code-signed program files of the publisher tests, in the folder given:
#   make_code_signing_fixtures.sh <openssl> <osslsigncode> <mingw gcc> <output dir>
# Two self-signed code-signing certificates (publisher-a, publisher-b) with their SHA-256
# fingerprints as openssl prints them (<name>.fingerprint), a small Windows program
# (unsigned.exe), the program signed by each (signed-a.exe, signed-b.exe), and signed-a.exe
# with one byte of its code changed after signing (tampered.exe).
set -eu
openssl="$1" osslsigncode="$2" cc="$3" out="$4"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
q() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }

printf 'int main(void) { return 0; }\n' > program.c
q "$cc" -O2 -s -o unsigned.exe program.c

# RSA: Wine's chain check refuses some ECDSA signatures that Windows accepts.
for name in publisher-a publisher-b; do
  q "$openssl" req -x509 -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.crt" -days 3650 \
    -subj "/CN=Brixa Test $name" -addext keyUsage=critical,digitalSignature \
    -addext extendedKeyUsage=codeSigning
  "$openssl" x509 -in "$name.crt" -noout -fingerprint -sha256 > "$name.fingerprint"
done
q "$osslsigncode" sign -h sha256 -certs publisher-a.crt -key publisher-a.key -in unsigned.exe \
  -out signed-a.exe
q "$osslsigncode" sign -h sha256 -certs publisher-b.crt -key publisher-b.key -in unsigned.exe \
  -out signed-b.exe

# One byte in the middle of the signed bytes, the signature left as it was.
cp signed-a.exe tampered.exe
at=$(( $(wc -c < unsigned.exe) / 2 ))
byte=$(od -An -tu1 -j "$at" -N1 signed-a.exe | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of=tampered.exe bs=1 seek="$at" conv=notrunc 2>/dev/null
