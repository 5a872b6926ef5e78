#!/usr/bin/env bash
# brixa-http (and the updater) against curl and against a raw TCP read, on one loopback nginx
# started here, in one run; then how the client's cost grows with the work.
#
#   scripts/build.sh bench && bench/compare.sh [SECTION...]
#
# Sections (default: compare growth):
#   compare  every case of the goal table: pairs run alternately (A B raw, A B raw, ...), the
#            first pair a warm-up that is not counted; per case the median wall time, CPU time
#            (user + system) and peak RSS of each side, the ratio A/B per pair as median
#            (min-max), and the raw TCP read of the same bytes with A's share of its speed
#   growth   peak RSS over body sizes; time per request over header lines, stored cookies and
#            10 000 kept-alive requests (bench/growth.cpp)
#   micro    the Google Benchmark programs of the hot units
#   serve    start the server and its files, print where, and wait (for profiling by hand)
#
# Environment:
#   BRIXA_BENCH_QUICK=1    the "1 GiB" cases use 100 MiB (a run of a minute or two)
#   BRIXA_BENCH_PAIRS=N    counted pairs per case (default 5)
#   BRIXA_BENCH_BUILD=DIR  build tree with the programs (default build/bench)
#   BRIXA_BENCH_KEEP=1     keep the temp dir (server files, per-run results, logs)
#
# A case whose program fails prints "n/a (...)" with the exit status and the program's last
# line of error output, and the run goes on. Wall time is measured by bench/measure.cpp
# (monotonic clock around fork and wait4), CPU and peak RSS come from the child's rusage.
# The raw figure (bench/raw_get.cpp) is one connection, hand-written requests, 256 KiB reads,
# every received byte (heads too) written to the same output as the clients': no parsing
# beyond Content-Length, no chunk decoding (the chunked case reads until the server closes).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BRIXA_BENCH_BUILD:-$ROOT/build/bench}"
PAIRS="${BRIXA_BENCH_PAIRS:-5}"
QUICK="${BRIXA_BENCH_QUICK:-0}"
SECTIONS=("$@")
[[ ${#SECTIONS[@]} -gt 0 ]] || SECTIONS=(compare growth)

BRIXA="$BUILD/tools/brixa_http/brixa-http"
UPDATER="$BUILD/app/BrixaUpdater"
MEASURE="$BUILD/bench/measure"
RAW="$BUILD/bench/raw-get"
GROWTH="$BUILD/bench/growth"
for program in "$BRIXA" "$MEASURE" "$RAW" "$GROWTH"; do
  [[ -x "$program" ]] || { echo "missing $program: run scripts/build.sh bench" >&2; exit 2; }
done
for tool in nginx curl openssl python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

MIB=$((1024 * 1024))
if [[ "$QUICK" == 1 ]]; then BIG=$((100 * MIB)) BIG_NAME="100 MiB"; else BIG=$((1024 * MIB)) BIG_NAME="1 GiB"; fi

D="$(mktemp -d /tmp/brixa-bench.XXXXXX)"
NGINX_PIDS=() LAST_NGINX="" UPDATE_PID=""
CLEAN=() EXPECT="" OUTPUT=""
cleanup() {
  for pid in "${NGINX_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  if [[ "${BRIXA_BENCH_KEEP:-0}" == 1 ]]; then echo "kept $D" >&2; else rm -rf "$D"; fi
}
trap cleanup EXIT
# The updater must not meet another copy's single-instance marker, nor open a window.
export XDG_RUNTIME_DIR="$D/run" TMPDIR="$D/run"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$D/run" "$D/html/brixakit" "$D/tmp" "$D/out"
LOG="$D/errors.log"
note() { echo "$*" >&2; }

# ---- documents ------------------------------------------------------------------------------
make_documents() {
  note "making the documents ($BIG_NAME and smaller) ..."
  local h="$D/html"
  head -c "$BIG" /dev/urandom > "$h/big.bin"
  head -c 10000000 /dev/urandom > "$h/10m.bin"
  head -c 100000000 /dev/urandom > "$h/100m.bin"
  head -c $((100 * MIB)) /dev/urandom > "$h/100mi.bin"
  head -c 1024 /dev/urandom > "$h/1k.bin"
  # The installer: a script that exits at once, padded to the big size.
  { printf '#!/bin/sh\nexit 0\n'; head -c $((BIG - 17)) "$h/big.bin"; } > "$h/brixakit/update.exe"
  printf '[Updater]\r\nVersion=2026120701\r\n' > "$h/brixakit/version.ini"
  mkdir -p "$D/app-same" "$D/app-old"
  if [[ -x "$UPDATER" ]]; then
    cp "$UPDATER" "$D/app-same/" && cp "$UPDATER" "$D/app-old/"
  fi
  cp "$h/brixakit/version.ini" "$D/app-same/version.ini"
  printf '[Updater]\r\nVersion=2026010100\r\n' > "$D/app-old/version.ini"
}

make_certificates() {
  (
    cd "$D"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 30 \
      -subj "/CN=Bench CA" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign,cRLSign
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > ext.cnf
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 30 \
      -out server.crt -extfile ext.cnf
  ) >/dev/null 2>&1
}

# ---- nginx ----------------------------------------------------------------------------------
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Locations /h/N answering with exactly N header lines: nginx writes 5 of its own (Server, Date,
# Content-Type, Content-Length, Connection), add_header the rest. The counts are growth.cpp's.
header_locations() {
  local n i
  for n in 10 25 50 100 200 255; do
    printf '    location = /h/%d {\n' "$n"
    for ((i = 1; i <= n - 5; i++)); do printf '      add_header X-Pad-%d "padding value of the header";\n' "$i"; done
    printf '      return 200 "ok\\n";\n    }\n'
  done
}

write_nginx_config() {  # FILE LISTEN-LINES
  cat > "$1" <<EOF
daemon off; worker_processes 1; user root;
pid $1.pid; error_log $1.error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $D/tmp/body; proxy_temp_path $D/tmp/proxy;
  fastcgi_temp_path $D/tmp/fcgi; uwsgi_temp_path $D/tmp/uwsgi; scgi_temp_path $D/tmp/scgi;
  default_type application/octet-stream;
  sendfile on; keepalive_requests 1000000; keepalive_timeout 60s;
  server {
$2
    server_name localhost;
    ssl_certificate $D/server.crt; ssl_certificate_key $D/server.key;
    root $D/html;
    # sub_filter drops the Content-Length, so the file goes out chunked.
    location /chunked/ { alias $D/html/; sub_filter_types *; sub_filter '@@never@@' 'x'; }
$(header_locations)
  }
}
EOF
}

# Starts nginx on FILE; returns 1 unless URL gives the bytes of EXPECTED within 5 s. Comparing
# the bytes tells our server from another one already listening on that port.
start_nginx() {  # FILE URL EXPECTED
  nginx -p "$D" -c "$1" -e "$1.error.log" 2>>"$LOG" &
  local pid=$!
  for _ in $(seq 1 50); do
    if curl -s "$2" 2>/dev/null | cmp -s - "$3"; then
      NGINX_PIDS+=("$pid")
      LAST_NGINX=$pid
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

stop_nginx() {  # PID
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local kept=() pid
  for pid in "${NGINX_PIDS[@]}"; do [[ "$pid" == "$1" ]] || kept+=("$pid"); done
  NGINX_PIDS=("${kept[@]}")
}

# The updater talks to the server it was built for: a second nginx serves the same tree there,
# when that port is free, for the updater's cases only (other checkouts' tests use that port
# too). Sets UPDATE_WHY to the reason when it cannot.
start_update_server() {
  UPDATE_SERVER=$(sed -n 's/.*kUpdateServer = "\(.*\)";/\1/p' "$BUILD/generated/brixa/build_config.h" 2>/dev/null || true)
  UPDATE_WHY="" UPDATE_PID=""
  if [[ ! -x "$UPDATER" ]]; then
    UPDATE_WHY="no BrixaUpdater in $BUILD"
  elif [[ "$UPDATE_SERVER" != 127.0.0.1:* ]]; then
    UPDATE_WHY="the updater is built for ${UPDATE_SERVER:-an unknown server}, not a 127.0.0.1 port"
  else
    write_nginx_config "$D/update.conf" "    listen $UPDATE_SERVER;"
    if start_nginx "$D/update.conf" "http://$UPDATE_SERVER/brixakit/version.ini" "$D/html/brixakit/version.ini"; then
      UPDATE_PID=$LAST_NGINX
    else
      UPDATE_WHY="port ${UPDATE_SERVER#*:} of the built-in update server is busy"
    fi
  fi
  note "updater server ${UPDATE_SERVER:-none}${UPDATE_WHY:+ ($UPDATE_WHY)}"
}

start_servers() {
  local attempt
  for attempt in 1 2 3; do
    PORT=$(free_port) TLSPORT=$(free_port)
    write_nginx_config "$D/nginx.conf" "    listen 127.0.0.1:$PORT; listen 127.0.0.1:$TLSPORT ssl;"
    start_nginx "$D/nginx.conf" "http://127.0.0.1:$PORT/1k.bin" "$D/html/1k.bin" && break
    [[ $attempt == 3 ]] && { echo "nginx did not start:" >&2; cat "$D/nginx.conf.error.log" >&2; exit 1; }
  done
  BASE="http://127.0.0.1:$PORT"
  if curl -sv -o /dev/null "$BASE/chunked/1k.bin" 2>&1 | grep -qi '^< transfer-encoding: chunked'; then
    CHUNKED_NOTE=""
  else
    CHUNKED_NOTE=" (NOT chunked: check the nginx config)"
  fi
  note "nginx on $BASE (https $TLSPORT)"
}

# ---- one case ---------------------------------------------------------------------------------
# Stats of result files (lines: wall user sys rss exit). The first line of each is the warm-up.
stats() {  # FILE -> median-wall median-cpu median-rss-KiB
  awk 'NR > 1 { w[NR-1] = $1; c[NR-1] = $2 + $3; r[NR-1] = $4; n++ }
       function med(a, k, i, j, t) { for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++)
                                       if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                                     return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2 }
       END { printf "%.6f %.6f %.0f\n", med(w, n), med(c, n), med(r, n) }' "$1"
}

ratios() {  # A-FILE B-FILE COLUMN(1 wall, 2 cpu) -> "median (min-max)"
  paste -d' ' "$1" "$2" | awk -v col="$3" '
       NR > 1 { a = col == 1 ? $1 : $2 + $3; b = col == 1 ? $6 : $7 + $8
                q[++n] = b > 0 ? a / b : 0 }
       END { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (q[j] < q[i]) { t = q[i]; q[i] = q[j]; q[j] = t }
             m = n % 2 ? q[(n + 1) / 2] : (q[n / 2] + q[n / 2 + 1]) / 2
             printf "%.2f (%.2f-%.2f)", m, q[1], q[n] }'
}

# Why a side failed: "" when every run exited 0.
failure() {  # RESULT-FILE ERR-FILE
  local code
  code=$(awk '$5 != 0 { print $5; exit }' "$1")
  if [[ -z "$code" ]]; then return 0; fi
  printf 'n/a (exit %s: %s)' "$code" "$(grep -v '^\s*$' "$2" | tail -1 | cut -c1-90)"
}

one_run() {  # RESULT ERR STDOUT COMMAND...
  local result="$1" err="$2" out="$3"
  shift 3
  if [[ ${#CLEAN[@]} -gt 0 ]]; then rm -f "${CLEAN[@]}"; fi
  "$MEASURE" "$result" "$@" > "$out" 2>>"$err" || true
}

fmt_side() {  # median-wall median-cpu rss-KiB
  awk -v w="$1" -v c="$2" -v r="$3" 'BEGIN { printf "%.4f s | %.4f s | %.1f MiB", w, c, r / 1024 }'
}

# One more untimed run of A, its output (stdout, or the file OUTPUT names) compared with the
# file EXPECT names.
output_matches() {
  local got="$D/out/verify.bin"
  if [[ ${#CLEAN[@]} -gt 0 ]]; then rm -f "${CLEAN[@]}"; fi
  if [[ -n "$OUTPUT" ]]; then
    "${A[@]}" > /dev/null 2>&1 || return 1
    got="$OUTPUT"
  else
    "${A[@]}" > "$got" 2>/dev/null || return 1
  fi
  cmp -s "$got" "$EXPECT"
  local same=$?
  rm -f "$D/out/verify.bin"
  return $same
}

# Runs global arrays A, B (and R when set) alternately and prints one table row. A side that
# fails stops being run (it fails at once, so one run shows it); the other side goes on. The
# files in CLEAN are removed before every run, outside the timing: each run writes a new file.
# With EXPECT set, A's output is checked once after the timed runs (see output_matches).
#   compare_case NAME B-LABEL GOAL
compare_case() {
  local name="$1" label="$2" goal="$3" dir round
  dir="$D/case.$(echo "$name" | tr -c 'A-Za-z0-9' '_')"
  mkdir -p "$dir"
  touch "$dir/a" "$dir/b" "$dir/r"
  note "case: $name"
  for ((round = 0; round <= PAIRS; round++)); do
    if [[ -z "$(failure "$dir/a" "$dir/a.err")" ]]; then one_run "$dir/a" "$dir/a.err" /dev/null "${A[@]}"; fi
    if [[ -z "$(failure "$dir/b" "$dir/b.err")" ]]; then one_run "$dir/b" "$dir/b.err" /dev/null "${B[@]}"; fi
    if [[ ${#R[@]} -gt 0 ]]; then one_run "$dir/r" "$dir/r.err" /dev/null "${R[@]}"; fi
  done
  local failA failB failR colsA colsB wa ca ra wb cb rb wr cr
  failA=$(failure "$dir/a" "$dir/a.err")
  if [[ -z "$failA" && -n "$EXPECT" ]] && ! output_matches; then name+=" (A's OUTPUT DIFFERS from the file)"; fi
  failB=$(failure "$dir/b" "$dir/b.err")
  if [[ -z "$failA" ]]; then
    read -r wa ca ra < <(stats "$dir/a")
    colsA=$(fmt_side "$wa" "$ca" "$ra")
  else
    colsA="$failA | | "
  fi
  if [[ -z "$failB" ]]; then
    read -r wb cb rb < <(stats "$dir/b")
    colsB=$(fmt_side "$wb" "$cb" "$rb")
  else
    colsB="$failB | | "
  fi
  local wallRatio="-" cpuRatio="-" raw="-" share="-"
  if [[ -z "$failA" && -z "$failB" ]]; then
    wallRatio=$(ratios "$dir/a" "$dir/b" 1)
    cpuRatio=$(ratios "$dir/a" "$dir/b" 2)
  fi
  if [[ ${#R[@]} -gt 0 ]]; then
    failR=$(failure "$dir/r" "$dir/r.err")
    if [[ -n "$failR" ]]; then
      raw="$failR"
    else
      read -r wr cr _ < <(stats "$dir/r")
      raw=$(printf '%.4f s (cpu %.4f s)' "$wr" "$cr")
      [[ -z "$failA" ]] && share=$(awk -v a="$wa" -v r="$wr" 'BEGIN { printf "%.0f %%", 100 * r / a }')
    fi
  fi
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$colsA" "$label" "$colsB" \
    "$wallRatio" "$cpuRatio" "$raw" "$share" "$goal"
}

table_head() {
  printf '| case | A wall | A cpu | A peak RSS | B | B wall | B cpu | B peak RSS | wall A/B | cpu A/B | raw wall | raw/A | goal |\n'
  printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
}

# ---- the goal table -------------------------------------------------------------------------
section_compare() {
  local big="$BASE/big.bin" small=() i
  echo
  echo "## brixa-http (A) against $(curl --version | head -1 | cut -d' ' -f1-2) or the reference named in B, $PAIRS pairs after a warm-up"
  echo
  table_head
  A=("$BRIXA" -o /dev/null "$big") B=(curl -s -o /dev/null "$big") R=("$RAW" 127.0.0.1 "$PORT" /big.bin)
  EXPECT=""  # nothing to compare: the output is /dev/null
  compare_case "$BIG_NAME to -o /dev/null" curl "wall <= 0.75, cpu <= 0.6, raw/A >= 90 %"
  A=("$BRIXA" "$big") B=(curl -s "$big") EXPECT="$D/html/big.bin"
  compare_case "$BIG_NAME to stdout > /dev/null" curl "(as -o /dev/null)"
  A=("$BRIXA" -o "$D/out/a.bin" "$big") B=(curl -s -o "$D/out/b.bin" "$big")
  R=("$RAW" -o "$D/out/r.bin" 127.0.0.1 "$PORT" /big.bin) CLEAN=("$D/out/a.bin" "$D/out/b.bin" "$D/out/r.bin")
  OUTPUT="$D/out/a.bin"
  compare_case "$BIG_NAME to a file" curl "wall <= 0.9"
  CLEAN=() OUTPUT=""
  for i in $(seq 1 2000); do small+=("$BASE/1k.bin"); done
  for i in $(seq 1 2000); do cat "$D/html/1k.bin"; done > "$D/out/2000k.bin"
  EXPECT="$D/out/2000k.bin"
  A=("$BRIXA" "${small[@]}") B=(curl -s "${small[@]}") R=("$RAW" -n 2000 127.0.0.1 "$PORT" /1k.bin)
  compare_case "2000 x 1 KiB kept alive, stdout > /dev/null" curl "wall <= 0.5"
  A=("$BRIXA" "$BASE/chunked/100mi.bin") B=(curl -s "$BASE/chunked/100mi.bin")
  R=("$RAW" --close 127.0.0.1 "$PORT" /chunked/100mi.bin) EXPECT="$D/html/100mi.bin"
  compare_case "100 MiB chunked$CHUNKED_NOTE, stdout > /dev/null" curl "cpu <= 0.7"
  # The test CA: by option when brixa-http has one, else through OpenSSL's default-path variable.
  if "$BRIXA" --help 2>/dev/null | grep -q -- '--cacert'; then
    A=("$BRIXA" --cacert "$D/ca.crt" -o /dev/null "https://127.0.0.1:$TLSPORT/big.bin")
  else
    A=(env SSL_CERT_FILE="$D/ca.crt" "$BRIXA" -o /dev/null "https://127.0.0.1:$TLSPORT/big.bin")
  fi
  B=(curl -s --cacert "$D/ca.crt" -o /dev/null "https://127.0.0.1:$TLSPORT/big.bin") R=() EXPECT=""
  compare_case "$BIG_NAME over https to -o /dev/null" curl "wall <= 1.0, RSS <= 6 MiB"
  A=("$BRIXA" -I "$BASE/1k.bin") B=(curl -s -I "$BASE/1k.bin") R=("$RAW" -m HEAD 127.0.0.1 "$PORT" /1k.bin)
  compare_case "-I of a 1 KiB file" curl "wall <= 2"
  start_update_server
  if [[ -z "$UPDATE_WHY" ]]; then
    local version="http://$UPDATE_SERVER/brixakit/version.ini"
    A=("$D/app-same/BrixaUpdater") B=(curl -s -I "$version" --next -s -o "$D/out/version.ini" "$version") R=()
    compare_case "updater, up to date (HEAD + GET version.ini)" "curl HEAD+GET" "A wall <= 15 ms"
    A=("$D/app-old/BrixaUpdater") B=("$BRIXA" -o "$D/out/update.exe" "http://$UPDATE_SERVER/brixakit/update.exe")
    CLEAN=("$D/out/update.exe" "$D/app-old/brixaupdatetemp.exe")
    compare_case "updater, downloads a $BIG_NAME installer" "brixa-http -o file" "wall <= 1.1, RSS as brixa-http"
    CLEAN=()
  else
    printf '| updater, up to date | n/a (%s) | | | | | | | | | | | A wall <= 15 ms |\n' "$UPDATE_WHY"
    printf '| updater, downloads a %s installer | n/a (%s) | | | | | | | | | | | wall <= 1.1 |\n' "$BIG_NAME" "$UPDATE_WHY"
  fi
  if [[ -n "$UPDATE_PID" ]]; then stop_nginx "$UPDATE_PID"; fi
  if command -v ab >/dev/null; then
    local abtime
    abtime=$(ab -k -c1 -n 2000 "$BASE/1k.bin" 2>/dev/null | awk '/Time taken for tests/ { print $5 }')
    echo
    echo "What the server can do: ab -k -c1 -n 2000 of the 1 KiB file took ${abtime:-?} s (one run)."
  fi
  echo
  cat <<EOF
wall, cpu (user + system) and peak RSS are medians; A/B ratios are the median of the per-pair
ratios with their min-max; raw/A is the raw TCP read's wall time over A's (A's share of the raw
speed), and the raw read's CPU is the floor for CPU. Ratios in the goal column are A/B. Files:
$BIG_NAME = $BIG bytes. The raw reader speaks no TLS: the https case has no raw figure (openssl
s_client, tried as one, ran at half curl's speed, so it is no floor).
EOF
}

# ---- cost as the work grows -----------------------------------------------------------------
rss_over_sizes() {
  echo
  echo "### Peak RSS over body sizes (stdout > /dev/null, median of 3 runs)"
  echo
  echo "| body | brixa-http peak RSS | curl peak RSS | brixa-http wall |"
  echo "|---|---|---|---|"
  local file label dir wa ra rb first=0 last=0
  for file in 10m.bin:10MB 100m.bin:100MB big.bin:"$BIG_NAME"; do
    label="${file#*:}" file="${file%%:*}" dir="$D/rss.$file"
    mkdir -p "$dir"
    for _ in 1 2 3 4; do  # the first is a warm-up
      one_run "$dir/a" "$dir/a.err" /dev/null "$BRIXA" "$BASE/$file"
      one_run "$dir/b" "$dir/b.err" /dev/null curl -s "$BASE/$file"
    done
    read -r wa _ ra < <(stats "$dir/a")
    read -r _ _ rb < <(stats "$dir/b")
    awk -v l="$label" -v a="$ra" -v b="$rb" -v w="$wa" \
      'BEGIN { printf "| %s | %.2f MiB | %.2f MiB | %.3f s |\n", l, a / 1024, b / 1024, w }'
    [[ "$file" == 10m.bin ]] && first=$ra
    last=$ra
  done
  echo
  awk -v a="$first" -v b="$last" -v l="$BIG_NAME" \
    'BEGIN { printf "brixa-http peak RSS, %s over 10 MB: %+.1f %% (goal: within 5 %%, at most 4 MiB)\n", l, 100 * (b - a) / a }'
}

section_growth() {
  echo
  echo "## Cost as the work grows"
  rss_over_sizes
  echo
  echo "### Time per request over header lines (GET /h/N, one kept-alive connection)"
  echo
  echo '```'
  "$GROWTH" headers "$BASE" 2>&1 || true
  echo '```'
  echo
  echo "### Time per request with unrelated cookies stored (GET /1k.bin)"
  echo
  echo '```'
  "$GROWTH" cookies "$BASE/1k.bin" 2>&1 || true
  echo '```'
  echo
  echo "### Drift over 10 000 kept-alive requests (GET /1k.bin, buckets of 1000)"
  echo
  echo '```'
  "$GROWTH" drift "$BASE/1k.bin" 10000 2>&1 || true
  echo '```'
}

section_micro() {
  echo
  echo "## Hot units (Google Benchmark)"
  local program
  for program in "$BUILD"/bench/bench_*; do
    [[ -x "$program" ]] || continue
    echo
    echo "### $(basename "$program")"
    echo
    echo '```'
    "$program" --benchmark_min_time=0.2 2>&1 | grep -v '^\*\*\*' || true
    echo '```'
  done
}

# ---- main -------------------------------------------------------------------------------------
echo "# bench/compare.sh, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "brixa-http: $BRIXA"
echo "curl: $(curl --version | head -1 | cut -d' ' -f1-2), nginx: $(nginx -v 2>&1 | cut -d/ -f2)"
needs_server=0
for s in "${SECTIONS[@]}"; do [[ "$s" != micro ]] && needs_server=1; done
if [[ $needs_server == 1 ]]; then
  make_documents
  make_certificates
  start_servers
fi
for s in "${SECTIONS[@]}"; do
  case "$s" in
    compare) section_compare ;;
    growth) section_growth ;;
    micro) section_micro ;;
    serve)
      echo "serving $D/html on $BASE and https://127.0.0.1:$TLSPORT (CA $D/ca.crt)"
      echo "stop with Ctrl-C or kill -TERM $$"
      trap 'exit 0' TERM INT
      while true; do sleep 1; done ;;
    *) echo "unknown section: $s" >&2; exit 2 ;;
  esac
done
