#!/bin/sh
# Makes the signed releases of the updater's end-to-end tests, as a vendor would with openssl:
#   sign_fixtures.sh <openssl> <installer> <private key> <output dir>
# Writes the installer, a copy with one byte changed, version files announcing either one's
# SHA-256, and signatures by the test key and by a key of nobody's.
set -eu
openssl="$1" installer="$2" key="$3" out="$4"
mkdir -p "$out"
cp "$installer" "$out/installer.exe"
cp "$installer" "$out/tampered.exe"
size=$(wc -c < "$installer")
at=$((size / 2))
byte=$(od -An -tu1 -j "$at" -N1 "$installer" | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$out/tampered.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
[ -e "$out/foreign.pem" ] || "$openssl" ecparam -name prime256v1 -genkey -noout -out "$out/foreign.pem"
hash() { sha256sum "$1" | cut -d' ' -f1; }
printf '[Updater]\r\nVersion=2\r\nSHA256=%s\r\n' "$(hash "$out/installer.exe")" > "$out/good.ini"
printf '[Updater]\r\nVersion=2\r\nSHA256=%s\r\n' "$(hash "$out/tampered.exe")" > "$out/tampered.ini"
printf '[Updater]\r\nVersion=1\r\n' > "$out/old.ini"
printf '[Updater]\r\nVersion=2\r\n' > "$out/new.ini"
for f in good.ini old.ini installer.exe; do
  "$openssl" dgst -sha256 -sign "$key" -out "$out/$f.sig" "$out/$f"
done
for f in tampered.ini tampered.exe installer.exe; do
  "$openssl" dgst -sha256 -sign "$out/foreign.pem" -out "$out/$f.foreign.sig" "$out/$f"
done
