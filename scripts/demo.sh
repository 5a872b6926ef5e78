#!/usr/bin/env bash
# The updater at work: installs what is missing, builds it, lays out a demo product (the updater
# with an old version stamp) and a demo update tree (a new stamp and a demo installer), serves the
# tree with nginx on 127.0.0.1:8471 at a limited rate so the progress bar visibly moves, runs the
# updater (a window when a display is present, the console otherwise), then runs it once more to
# show that an up-to-date product ends silently, then shows a tampered installer refused, and
# stops the server. The release is signed: a throwaway ECDSA P-256 key pair is made in
# build/demo/keys, the updater is built with its public half, and the version file and the
# installer are signed with its private half, as a vendor signs a real release.
#
#   BRIXA_DEMO_RATE     bytes per second the server sends (default 1m)
#   BRIXA_DEMO_PADDING  bytes of padding in the demo installer (default 4194304)
#   BRIXA_DEMO_TLS=1    serve over https with a CA made here (build/demo-tls-pki), and build
#                       the updater (in build/demo-tls) for https://127.0.0.1:8471, pinned to
#                       that CA alone
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
LISTEN=127.0.0.1:8471
RATE="${BRIXA_DEMO_RATE:-1m}"
PADDING="${BRIXA_DEMO_PADDING:-4194304}"
OLD_STAMP=2024.05.1
NEW_STAMP=2024.06.1
DEMO="$ROOT/build/demo"
INSTALL_TIMEOUT_S=60
TLS="${BRIXA_DEMO_TLS:-0}"
BUILD="$ROOT/build/demo-updater"
SERVER="$LISTEN"
PKI="$ROOT/build/demo-tls-pki"
if [[ "$TLS" == 1 ]]; then
  BUILD="$ROOT/build/demo-tls"
  SERVER="https://$LISTEN"
fi

say() { printf '\n== %s\n' "$*"; }

say "installing what is missing"
bash scripts/deps.sh

say "making a throwaway signing key in $DEMO/keys"
rm -rf "$DEMO"
mkdir -p "$DEMO/keys"
openssl ecparam -name prime256v1 -genkey -noout -out "$DEMO/keys/private.pem"
openssl ec -in "$DEMO/keys/private.pem" -pubout -out "$DEMO/keys/public.pem" 2>/dev/null

# A build tree of its own: the key is part of the program, and the test build takes none.
CONFIG=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIXA_TESTS=OFF
        -DBRIXA_UPDATE_PUBLIC_KEY="$DEMO/keys/public.pem" -DBRIXA_UPDATE_SERVER="$SERVER")
if [[ "$TLS" == 1 ]]; then
  if [[ ! -s "$PKI/ca.crt" ]]; then
    say "making the demo CA and server certificate in $PKI"
    rm -rf "$PKI" && mkdir -p "$PKI"
    bash tests/support/make_test_pki.sh "$PKI" >/dev/null
  fi
  CONFIG+=(-DBRIXA_UPDATE_CA="$PKI/ca.crt")
else
  CONFIG+=(-DBRIXA_UPDATE_CA=)
fi

say "building the updater with that key"
GEN=()
if command -v ninja >/dev/null; then GEN=(-G Ninja); fi
cmake -S "$ROOT" -B "$BUILD" "${GEN[@]}" "${CONFIG[@]}" >/dev/null
cmake --build "$BUILD" --target BrixaUpdater -j "${BRIXA_JOBS:-$(nproc)}"
grep -q "\"$SERVER\"" "$BUILD/generated/brixa/build_config.h" || {
  echo "demo: this build's update server is not $SERVER (BRIXA_UPDATE_SERVER); rebuild with the default" >&2
  exit 1
}
if (exec 3<>"/dev/tcp/127.0.0.1/8471") 2>/dev/null; then
  echo "demo: something already listens on $LISTEN; stop it first" >&2
  exit 1
fi

say "laying out the demo product and the signed update tree in $DEMO"
mkdir -p "$DEMO/product" "$DEMO/server/html/brixakit" "$DEMO/server/tmp"
chmod 755 "$DEMO" "$DEMO/server"
cp "$BUILD/app/BrixaUpdater" "$DEMO/product/"
printf '[Updater]\nVersion=%s\n' "$OLD_STAMP" > "$DEMO/product/version.ini"
installer="$DEMO/server/html/brixakit/update.exe"
sed "s/@NEW_STAMP@/$NEW_STAMP/g" tools/demo/installer.sh > "$installer"
head -c "$PADDING" /dev/zero | tr '\0' '#' >> "$installer"
printf '[Updater]\nVersion=%s\n' "$NEW_STAMP" > "$DEMO/server/html/brixakit/version.ini"
for f in "$installer" "$DEMO/server/html/brixakit/version.ini"; do
  openssl dgst -sha256 -sign "$DEMO/keys/private.pem" -out "$f.sig" "$f"
done
LISTEN_ARGS="$LISTEN"
EXTRA=""
if [[ "$TLS" == 1 ]]; then
  LISTEN_ARGS="$LISTEN ssl"
  EXTRA="ssl_certificate $PKI/server.crt; ssl_certificate_key $PKI/server.key;"
fi
sed -e "s#@ROOT@#$DEMO/server#g" -e "s#@LISTEN@#$LISTEN_ARGS#g" -e "s#@RATE@#$RATE#g" \
  -e "s#@LOCATIONS@#$EXTRA#g" tools/demo/nginx.conf.in > "$DEMO/server/nginx.conf"
echo "product:  $DEMO/product (version $OLD_STAMP)"
echo "server:   $(if [[ "$TLS" == 1 ]]; then echo https; else echo http; fi)://$LISTEN/brixakit/ (version $NEW_STAMP, installer $(stat -c %s "$installer") bytes at $RATE/s)"

say "starting nginx on $LISTEN"
nginx -p "$DEMO/server/" -c "$DEMO/server/nginx.conf" -e "$DEMO/server/error.log" \
  > "$DEMO/server/stdout.log" 2>&1 &
NGINX_PID=$!
stop_server() {
  kill -TERM "$NGINX_PID" 2>/dev/null || true
  wait "$NGINX_PID" 2>/dev/null || true
}
trap stop_server EXIT
for _ in $(seq 1 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/8471") 2>/dev/null; then break; fi
  kill -0 "$NGINX_PID" 2>/dev/null || { cat "$DEMO/server/error.log" >&2; exit 1; }
  sleep 0.05
done

cd "$DEMO/product"
if [[ -n "${DISPLAY:-}" ]]; then
  say "run 1: the update window should appear for a few seconds"
else
  say "run 1: no display, the console stands in for the window"
fi
start=$SECONDS
./BrixaUpdater
echo "updater exited with code $? after $((SECONDS - start)) s"
for _ in $(seq 1 $((INSTALL_TIMEOUT_S * 10))); do
  grep -q "$NEW_STAMP" version.ini 2>/dev/null && break
  sleep 0.1
done
if grep -q "$NEW_STAMP" version.ini; then
  echo "installer ran: $(cat install.log)"
else
  echo "demo: the installer did not run (see $DEMO)" >&2
  exit 1
fi

say "run 2: the product is up to date, so the updater ends silently"
start=$SECONDS
./BrixaUpdater
echo "updater exited with code $? after $((SECONDS - start)) s, showing nothing"

say "run 3: an installer changed after signing is refused"
printf '[Updater]\nVersion=%s\n' "$OLD_STAMP" > version.ini
printf 'echo tampered >> install.log\n' >> "$installer"
if [[ -n "${DISPLAY:-}" ]]; then echo "(a message box says \"Download Error!\": press OK)"; fi
./BrixaUpdater
if grep -q "$OLD_STAMP" version.ini && [[ ! -e brixaupdatetemp.exe ]]; then
  echo "refused: nothing was started and the download was deleted"
else
  echo "demo: the tampered installer was not refused" >&2
  exit 1
fi

say "requests the server saw"
cut -d'"' -f2 "$DEMO/server/access.log"
