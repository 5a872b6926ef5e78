#!/usr/bin/env bash
# Makes the certificates the TLS tests use, in the folder given: a test CA and, signed by it,
# certificates for localhost (with 127.0.0.1), for another name, an expired one and a client
# certificate; and a second CA that no test trusts, with a localhost certificate of its own.
set -euo pipefail
D="$1"
cd "$D"
q() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }

# The CAs sign with RSA: Wine's chain check refuses about one ECDSA signature in 128 (those
# whose r or s is shorter than 32 bytes) as "certificate signature failure", which Windows itself
# accepts; an RSA signature has one length. The certificates' own keys stay EC.
ca() {  # name subject
  q openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days 3650 \
    -subj "/CN=$2" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign
}
leaf() {  # name ca subject extensions [openssl-ca dates]
  q openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$3"
  printf '%b' "$4" >"$1.ext"
  q openssl x509 -req -in "$1.csr" -CA "$2.crt" -CAkey "$2.key" -CAcreateserial -days 825 \
    -out "$1.crt" -extfile "$1.ext"
}

ca ca "Brixa Test CA"
ca otherca "Untrusted Test CA"
leaf server ca localhost 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n'
leaf wronghost ca other.example 'subjectAltName=DNS:other.example\nextendedKeyUsage=serverAuth\n'
leaf wildcard ca '*.localhost' 'subjectAltName=DNS:*.localhost\nextendedKeyUsage=serverAuth\n'
leaf unknownca otherca localhost 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n'
leaf client ca "Brixa Client" 'extendedKeyUsage=clientAuth\n'

# An expired certificate needs explicit dates, which only the "ca" command takes.
mkdir -p newcerts
: >index.txt
echo 1000 >serial
cat >ca.cnf <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = $D
database = $D/index.txt
new_certs_dir = $D/newcerts
serial = $D/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
q openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout expired.key -out expired.csr -subj /CN=localhost
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >expired.ext
q openssl ca -batch -config ca.cnf -cert ca.crt -keyfile ca.key -in expired.csr -out expired.crt \
  -startdate 20200101000000Z -enddate 20210101000000Z -extfile expired.ext -notext
# The test CA once more as a folder of hashed names, as a CA path wants it.
mkdir -p capath
cp ca.crt capath/
q openssl rehash capath
echo ok
