#!/usr/bin/env bash
# The updater at work: installs what is missing, builds it, lays out a demo product (the updater
# with an old version stamp) and a demo update tree (a new stamp and a demo installer), serves the
# tree with nginx on 127.0.0.1:8471 at a limited rate so the progress bar visibly moves, runs the
# updater (a window when a display is present, the console otherwise), then runs it once more to
# show that an up-to-date product ends silently, then replays the previous release (refused:
# its serial is older), then shows a tampered installer refused, then a download cut short and
# continued by the next run with only the missing bytes, and stops the server. The
# releases are made as a vendor makes them: brixa-release makes a throwaway ECDSA P-256 key pair
# in build/demo/keys, the updater is built with its public half, and `brixa-release sign`
# writes each release's signed manifest. The updater's state and log go to build/demo/state.
#
#   BRIXA_DEMO_PORT     the loopback port of the demo server (default 8471)
#   BRIXA_DEMO_RATE     bytes per second the server sends (default 1m)
#   BRIXA_DEMO_PADDING  bytes of padding in the demo installer (default 4194304)
#   BRIXA_DEMO_TLS=1    serve over https with a CA made here (build/demo-tls-pki), and build
#                       the updater (in build/demo-tls) for https://127.0.0.1:PORT, pinned to
#                       that CA alone
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
PORT="${BRIXA_DEMO_PORT:-8471}"
LISTEN="127.0.0.1:$PORT"
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

GEN=()
if command -v ninja >/dev/null; then GEN=(-G Ninja); fi
say "building the release tool (in $BUILD)"
cmake -S "$ROOT" -B "$BUILD" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIXA_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target brixa_release_tool -j "${BRIXA_JOBS:-$(nproc)}"
RELEASE="$BUILD/tools/brixa_release/brixa-release"

say "making a throwaway signing key in $DEMO/keys"
rm -rf "$DEMO"
mkdir -p "$DEMO/keys"
"$RELEASE" keygen "$DEMO/keys/private.pem" "$DEMO/keys/public.pem"

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
cmake -S "$ROOT" -B "$BUILD" "${GEN[@]}" "${CONFIG[@]}" >/dev/null
cmake --build "$BUILD" --target BrixaUpdater -j "${BRIXA_JOBS:-$(nproc)}"
grep -q "\"$SERVER\"" "$BUILD/generated/brixa/build_config.h" || {
  echo "demo: this build's update server is not $SERVER (BRIXA_UPDATE_SERVER); rebuild with the default" >&2
  exit 1
}
if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
  echo "demo: something already listens on $LISTEN; stop it first" >&2
  exit 1
fi

say "laying out the demo product and the signed update tree in $DEMO"
mkdir -p "$DEMO/product" "$DEMO/server/html/brixakit" "$DEMO/server/tmp"
chmod 755 "$DEMO" "$DEMO/server"
cp "$BUILD/app/BrixaUpdater" "$DEMO/product/"
printf '[Updater]\nVersion=%s\n' "$OLD_STAMP" > "$DEMO/product/version.ini"
# Two releases signed with brixa-release: the previous one (serial 100) and the current one.
for release in "$OLD_STAMP:100" "$NEW_STAMP:200"; do
  stamp="${release%%:*}" serial="${release##*:}"
  sed "s/@NEW_STAMP@/$stamp/g" tools/demo/installer.sh > "$DEMO/installer-$stamp.sh"
  head -c "$PADDING" /dev/zero | tr '\0' '#' >> "$DEMO/installer-$stamp.sh"
  "$RELEASE" sign --key "$DEMO/keys/private.pem" --stamp "$stamp" --serial "$serial" \
    "$DEMO/installer-$stamp.sh" "$DEMO/releases/$stamp" >/dev/null
done
"$RELEASE" verify --key "$DEMO/keys/public.pem" "$DEMO/releases/$NEW_STAMP"
publish() { cp "$DEMO/releases/$1/"* "$DEMO/server/html/brixakit/"; }
publish "$NEW_STAMP"
installer="$DEMO/server/html/brixakit/update.exe"
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
  if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then break; fi
  kill -0 "$NGINX_PID" 2>/dev/null || { cat "$DEMO/server/error.log" >&2; exit 1; }
  sleep 0.05
done

cd "$DEMO/product"
export XDG_STATE_HOME="$DEMO/state"
if [[ -n "${DISPLAY:-}" ]]; then
  say "run 1: the update window should appear for a few seconds"
else
  say "run 1: no display, the console stands in for the window"
fi
start=$SECONDS
./BrixaUpdater
echo "updater exited with code $? after $((SECONDS - start)) s"
# The installer runs on after the updater has gone: wait for the stamp it writes last.
for _ in $(seq 1 $((INSTALL_TIMEOUT_S * 10))); do
  grep -q "$NEW_STAMP" version.ini 2>/dev/null && break
  sleep 0.1
done
if grep -q "$NEW_STAMP" version.ini; then
  echo "installer ran: $(cat install.log 2>/dev/null)"
else
  echo "demo: the installer did not run (see $DEMO)" >&2
  exit 1
fi

say "run 2: the product is up to date, so the updater ends silently"
start=$SECONDS
./BrixaUpdater
echo "updater exited with code $? after $((SECONDS - start)) s, showing nothing"

say "run 3: the previous release, replayed exactly as it was published, is refused"
rm -f brixaupdatetemp.exe  # what run 1 started
publish "$OLD_STAMP"
./BrixaUpdater
if grep -q "$NEW_STAMP" version.ini && [[ ! -e brixaupdatetemp.exe ]]; then
  echo "refused: $(tail -n 1 "$DEMO/state/BrixaUpdater/updater.log")"
else
  echo "demo: the replayed release was not refused" >&2
  exit 1
fi

say "run 4: an installer changed after signing is refused"
publish "$NEW_STAMP"
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

say "run 5: a download cut short (the updater ended after 1.5 s) is continued by the next run"
publish "$NEW_STAMP"
printf '[Updater]\nVersion=%s\n' "$OLD_STAMP" > version.ini
timeout 1.5 ./BrixaUpdater || true
echo "kept: $(stat -c %s brixaupdatetemp.exe 2>/dev/null || echo 0) of $(stat -c %s "$installer") bytes," \
  "with $(tr '\n' ' ' < brixaupdatetemp.exe.partial 2>/dev/null)"
./BrixaUpdater
for _ in $(seq 1 $((INSTALL_TIMEOUT_S * 10))); do
  grep -q "$NEW_STAMP" version.ini 2>/dev/null && break
  sleep 0.1
done
if grep -q "$NEW_STAMP" version.ini; then
  echo "continued: $(grep -o '"GET /brixakit/update.exe[^"]*" 206 [0-9]*' "$DEMO/server/access.log" | tail -n 1)"
  echo "logged:    $(tail -n 1 "$DEMO/state/BrixaUpdater/updater.log")"
else
  echo "demo: the continued download did not install (see $DEMO)" >&2
  exit 1
fi

say "requests the server saw"
cut -d'"' -f2 "$DEMO/server/access.log"

say "the updater's run log ($DEMO/state/BrixaUpdater/updater.log)"
cat "$DEMO/state/BrixaUpdater/updater.log"
