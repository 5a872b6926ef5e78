#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, when missing.
# Idempotent: packages already present are skipped, and `apt-get update` runs at most once.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build git
  libgtest-dev googletest libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine64 wine
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  libfltk1.3-dev xvfb xauth x11-apps imagemagick
  nginx apache2 apache2-utils squid dante-server libpam-pwdfile lighttpd tinyproxy python3
  openssl libssl3 curl ccache python3-impacket osslsigncode
  libgssapi-krb5-2 krb5-kdc krb5-admin-server krb5-user libapache2-mod-auth-gssapi winbind
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "deps: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
