#!/bin/sh
# Makes the signed releases of the updater's end-to-end tests with openssl alone, by the recipe
# the README gives vendors (a signature over "BrixaUpdater manifest v1\n" + version.ini):
#   sign_fixtures.sh <openssl> <installer> <key> <new key> <output dir>
# Each release is a folder <output dir>/<name>/ holding version.ini, version.ini.sig and
# update.exe, as they are uploaded to /brixakit/.
set -eu
openssl="$1" installer="$2" key="$3" newkey="$4" out="$5"
rm -rf "$out"
mkdir -p "$out"
foreign="$out/foreign.pem"
"$openssl" ecparam -name prime256v1 -genkey -noout -out "$foreign"
expires=$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ)
cp "$installer" "$out/installer.exe"
cp "$installer" "$out/tampered.exe"
# The same size, one byte changed.
size=$(wc -c < "$installer" | tr -d ' ')
at=$((size / 2))
byte=$(od -An -tu1 -j "$at" -N1 "$installer" | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$out/tampered.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null

# sign <key> <file>: <file>.sig over the manifest context and the file.
sign() {
  { printf 'BrixaUpdater manifest v1\n'; cat "$2"; } | "$openssl" dgst -sha256 -sign "$1" -out "$2.sig"
}
# release <name> <stamp> <serial> <expires> <product> <installer described> <key> [<installer served>]
release() {
  d="$out/$1"
  mkdir -p "$d"
  cp "${8:-$6}" "$d/update.exe"
  printf '[Updater]\r\nVersion=%s\r\nProduct=%s\r\nSerial=%s\r\nExpires=%s\r\nSize=%s\r\nSHA256=%s\r\n' \
    "$2" "$5" "$3" "$4" "$(wc -c < "$6" | tr -d ' ')" "$(sha256sum "$6" | cut -d' ' -f1)" > "$d/version.ini"
  sign "$7" "$d/version.ini"
}
i="$out/installer.exe"
release v1 1 100 "$expires" BrixaUpdater "$i" "$key"
release v2 2 200 "$expires" BrixaUpdater "$i" "$key"
release lowserial 3 150 "$expires" BrixaUpdater "$i" "$key"
release expired 3 400 2020-01-01T00:00:00Z BrixaUpdater "$i" "$key"
release otherproduct 3 400 "$expires" OtherProduct "$i" "$key"
release foreign 3 400 "$expires" BrixaUpdater "$i" "$foreign"
release badhash 3 400 "$expires" BrixaUpdater "$out/tampered.exe" "$key" "$i"
# Above every serial the tests accept before it (a manifest's serial counts once it verifies,
# whether or not its installer then does).
release rollback 1 500 "$expires" BrixaUpdater "$i" "$key"
release v2new 2 200 "$expires" BrixaUpdater "$i" "$newkey"
release v3new 3 300 "$expires" BrixaUpdater "$i" "$newkey"
# The installer followed by 32 MiB it does not announce.
release padded 3 400 "$expires" BrixaUpdater "$i" "$key"
head -c 33554432 /dev/zero >> "$out/padded/update.exe"
# The installer and its signature served as the manifest.
mkdir -p "$out/crossfile"
cp "$i" "$out/crossfile/update.exe"
cp "$i" "$out/crossfile/version.ini"
"$openssl" dgst -sha256 -sign "$key" -out "$out/crossfile/version.ini.sig" "$i"
# A manifest signed without the context line.
mkdir -p "$out/nocontext"
cp "$out/v2/version.ini" "$out/v2/update.exe" "$out/nocontext/"
"$openssl" dgst -sha256 -sign "$key" -out "$out/nocontext/version.ini.sig" "$out/nocontext/version.ini"
