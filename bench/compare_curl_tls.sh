#!/usr/bin/env bash
# brixa-http against curl over https on the same loopback nginx (TLS 1.3, sendfile off as TLS
# needs), 1 GiB to /dev/null, the two tools alternating run by run. Prints each run's wall
# time and peak RSS (GNU time). Both verify the server against a CA made for the run.
#
#   bench/compare_curl_tls.sh [BRIXA_HTTP]   (default: build/bench/..., then build/linux/...)
#   BRIXA_BENCH_ROUNDS   runs per tool (default 3)
#   BRIXA_BENCH_BYTES    body size (default 1073741824)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ROUNDS="${BRIXA_BENCH_ROUNDS:-3}"
BYTES="${BRIXA_BENCH_BYTES:-1073741824}"
TOOL="${1:-}"
if [[ -z "$TOOL" ]]; then
  for candidate in "$ROOT/build/bench/tools/brixa_http/brixa-http" \
                   "$ROOT/build/linux/tools/brixa_http/brixa-http"; do
    [[ -x "$candidate" ]] && TOOL="$candidate" && break
  done
fi
[[ -x "$TOOL" ]] || { echo "build brixa-http first (scripts/build.sh bench)" >&2; exit 2; }
for need in curl nginx openssl /usr/bin/time; do
  command -v "$need" >/dev/null || { echo "$need is missing" >&2; exit 2; }
done

D="$(mktemp -d /tmp/brixa-bench-tls.XXXXXX)"
chmod 755 "$D"
mkdir -p "$D/html" "$D/tmp" "$D/pki"
bash "$ROOT/tests/support/make_test_pki.sh" "$D/pki" >/dev/null
head -c "$BYTES" /dev/zero >"$D/html/big.bin"
PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$D/nginx.conf" <<CONF
daemon off; worker_processes 1; user root; pid $D/nginx.pid; error_log $D/error.log;
events { worker_connections 64; }
http {
  access_log off; default_type application/octet-stream;
  client_body_temp_path $D/tmp/b; proxy_temp_path $D/tmp/p; fastcgi_temp_path $D/tmp/f;
  uwsgi_temp_path $D/tmp/u; scgi_temp_path $D/tmp/s;
  server {
    listen 127.0.0.1:$PORT ssl; ssl_protocols TLSv1.3;
    ssl_certificate $D/pki/server.crt; ssl_certificate_key $D/pki/server.key;
    root $D/html;
  }
}
CONF
nginx -p "$D" -c "$D/nginx.conf" -e "$D/error.log" &
NGINX=$!
cleanup() {
  kill "$NGINX" 2>/dev/null || true
  wait "$NGINX" 2>/dev/null || true
  rm -rf "$D"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break
  sleep 0.05
done

URL="https://localhost:$PORT/big.bin"
for round in $(seq 1 "$ROUNDS"); do
  /usr/bin/time -f "brixa-http run $round: wall %e s, peak RSS %M KiB, exit %x" \
    "$TOOL" --cacert "$D/pki/ca.crt" -o /dev/null "$URL"
  /usr/bin/time -f "curl       run $round: wall %e s, peak RSS %M KiB, exit %x" \
    curl -s --cacert "$D/pki/ca.crt" -o /dev/null "$URL"
done
