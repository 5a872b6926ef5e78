#!/usr/bin/env bash
# brixa-http against curl on the same loopback nginx, in one run: a big file, and many small
# requests over one kept-alive connection. Prints the median wall time of each tool per case
# and the ratio brixa-http / curl (below 1: brixa-http is faster).
#
#   bench/compare_curl.sh [BRIXA_HTTP]      (default: build/bench/tools/brixa_http/brixa-http,
#                                            then build/linux/...)
#   BRIXA_BENCH_ROUNDS   runs per case (default 7)
#   BRIXA_BENCH_SMALL    small requests per run (default 200)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ROUNDS="${BRIXA_BENCH_ROUNDS:-7}"
SMALL="${BRIXA_BENCH_SMALL:-200}"
TOOL="${1:-}"
if [[ -z "$TOOL" ]]; then
  for candidate in "$ROOT/build/bench/tools/brixa_http/brixa-http" \
                   "$ROOT/build/linux/tools/brixa_http/brixa-http"; do
    [[ -x "$candidate" ]] && TOOL="$candidate" && break
  done
fi
[[ -x "$TOOL" ]] || { echo "build brixa-http first (scripts/build.sh bench)" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is missing (package curl)" >&2; exit 2; }

ENV_FILE="$(mktemp)"
cleanup() { bash "$ROOT/scripts/peers.sh" stop "$ENV_FILE" >/dev/null 2>&1 || true; }
trap cleanup EXIT
bash "$ROOT/scripts/peers.sh" start "$ENV_FILE" >/dev/null
# shellcheck disable=SC1090
source "$ENV_FILE"
[[ -n "${BRIXA_PEER_NGINX_PORT:-}" ]] || { echo "nginx did not start" >&2; exit 1; }
BASE="http://127.0.0.1:$BRIXA_PEER_NGINX_PORT"
OUT="$(mktemp -d)"

# Median of the wall times (seconds) of ROUNDS runs of "$@".
median_time() {
  local times=() start end
  for _ in $(seq 1 "$ROUNDS"); do
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (ROUNDS + 1) / 2 ))p"
}

small_urls=()
for _ in $(seq 1 "$SMALL"); do small_urls+=("$BASE/index.html"); done

report() {  # name brixa-seconds curl-seconds
  printf '%-34s brixa-http %8.4f s   curl %8.4f s   ratio %5.2f\n' "$1" "$2" "$3" \
    "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.4f", a / b }')"
}

big_size=$(stat -c %s "$BRIXA_PEER_NGINX_DIR/html/big.bin")
b=$(median_time "$TOOL" -o "$OUT/b" "$BASE/big.bin")
c=$(median_time curl -s -o "$OUT/c" "$BASE/big.bin")
report "big file ($big_size bytes)" "$b" "$c"
b=$(median_time "$TOOL" -o "$OUT/b" "$BASE/chunked/big.bin")
c=$(median_time curl -s -o "$OUT/c" "$BASE/chunked/big.bin")
report "big file, chunked" "$b" "$c"
b=$(median_time "$TOOL" -o "$OUT/b" "${small_urls[@]}")
c=$(median_time curl -s -o "$OUT/c" "${small_urls[@]}")
report "$SMALL small keep-alive requests" "$b" "$c"
cmp -s "$OUT/b" <(for _ in $(seq 1 "$SMALL"); do cat "$BRIXA_PEER_NGINX_DIR/html/index.html"; done) \
  || echo "warning: brixa-http output of the small requests differs from the files" >&2
rm -rf "$OUT"
