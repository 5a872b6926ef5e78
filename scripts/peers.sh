#!/usr/bin/env bash
# Real peers on loopback for the tests: nginx, Apache httpd, squid (open and with proxy Basic
# authentication), dante (SOCKS 4 and 5, open and with user name and password), and servers the
# client was not developed with: lighttpd, tinyproxy (an open forward proxy) and python's
# http.server (HTTP/1.0, one request per connection). This file holds the one canonical
# configuration and document tree of each peer; the Linux test support (tests/support/peers/peer_process_unix.cpp) asks it for them and
# runs the server itself, while a Windows test run under Wine uses servers started here.
#
#   scripts/peers.sh config KIND DIR PORT   write KIND's configuration and documents into DIR
#                                           (KIND: nginx apache squid squidauth squidntlm
#                                           squidntlmclose squiddigest squidntlmv2 dante danteauth
#                                           lighttpd tinyproxy pyhttp)
#   scripts/peers.sh command KIND DIR PORT  print the server's command line, one word per line
#   scripts/peers.sh start ENVFILE          start every peer on a free port, wait until each
#                                           answers, write BRIXA_PEER_<KIND>_{PORT,DIR,PID}
#                                           lines to ENVFILE (for `source`); also the update
#                                           server the updater binary is built for (kind
#                                           updateserver, BRIXA_UPDATE_SERVER, default
#                                           127.0.0.1:8471) from tools/demo/nginx.conf.in
#   scripts/peers.sh stop ENVFILE           stop the peers ENVFILE names, remove their folders
#   scripts/peers.sh cleanup KIND PORT      remove what a stopped peer left outside its folder
set -euo pipefail

KINDS=(nginx apache squid squidauth squidntlm squidntlmclose squiddigest squidntlmv2 dante danteauth lighttpd tinyproxy pyhttp)
APACHE_MODULES=/usr/lib/apache2/modules
NCSA_HELPER=/usr/lib/squid/basic_ncsa_auth
# Accepts any user and password but runs the real three-leg NTLM exchange.
NTLM_HELPER=/usr/lib/squid/ntlm_fake_auth
DIGEST_HELPER=/usr/lib/squid/digest_file_auth
# Samba's NTLM server (winbind), checking against one password without a domain controller.
SAMBA_NTLM_HELPER=/usr/bin/ntlm_auth
BIG_FILE_BYTES=4194304

die() { echo "peers: $*" >&2; exit 2; }

binary_of() {
  case "$1" in
    nginx) echo /usr/sbin/nginx ;;
    apache) echo /usr/sbin/apache2 ;;
    squid | squidauth | squidntlm | squidntlmclose | squiddigest | squidntlmv2) echo /usr/sbin/squid ;;
    dante | danteauth) echo /usr/sbin/danted ;;
    lighttpd) echo /usr/sbin/lighttpd ;;
    tinyproxy) echo /usr/bin/tinyproxy ;;
    pyhttp) echo /usr/bin/python3 ;;
    *) die "unknown peer kind: $1" ;;
  esac
}

package_of() {
  case "$1" in
    nginx) echo nginx ;;
    apache) echo apache2 ;;
    squid | squidauth | squidntlm | squidntlmclose | squiddigest | squidntlmv2) echo squid ;;
    dante | danteauth) echo dante-server ;;
    lighttpd) echo lighttpd ;;
    tinyproxy) echo tinyproxy ;;
    pyhttp) echo python3 ;;
  esac
}

# Documents both web servers serve: a small page, a deterministic-size random file, a page two
# folders down for relative redirects.
write_documents() {
  local root="$1"
  mkdir -p "$root/a/b" "$root/basic" "$root/digest"
  printf '<html><body>brixa index page</body></html>\n' > "$root/index.html"
  printf 'second page\n' > "$root/a/index.html"
  printf 'basic secret\n' > "$root/basic/secret.txt"
  printf 'digest secret\n' > "$root/digest/secret.txt"
  head -c "$BIG_FILE_BYTES" /dev/urandom > "$root/big.bin"
  head -c 1000 /dev/urandom > "$root/k1.bin"
}

config_nginx() {
  local d="$1" port="$2"
  mkdir -p "$d/tmp" "$d/html"
  write_documents "$d/html"
  cat > "$d/nginx.conf" <<EOF
daemon off; worker_processes 1; user root;
pid $d/nginx.pid; error_log $d/error.log info;
events { worker_connections 256; }
http {
  log_format peer '\$connection \$connection_requests "\$request" \$status';
  access_log $d/access.log peer;
  # What each answer's body cost: the resumed-download tests count the bytes sent again.
  log_format bytes '"\$request" \$status \$body_bytes_sent';
  access_log $d/bytes.log bytes;
  client_body_temp_path $d/tmp/body; proxy_temp_path $d/tmp/proxy;
  fastcgi_temp_path $d/tmp/fcgi; uwsgi_temp_path $d/tmp/uwsgi; scgi_temp_path $d/tmp/scgi;
  default_type application/octet-stream; sendfile on; keepalive_requests 100000;
  server {
    listen 127.0.0.1:$port; server_name localhost;
    root $d/html;
    absolute_redirect off;
    location = /redirect { return 302 /index.html; }
    location = /redirect-abs { return 301 http://127.0.0.1:$port/index.html; }
    location = /a/b/go { return 302 ../index.html; }
    location = /loop { return 302 /loop; }
    location = /created { return 201 "created body\n"; }
    location = /nocontent { return 204; }
    location /close/ { alias $d/html/; keepalive_timeout 0; }
    location /chunked/ { alias $d/html/; sub_filter_types *; sub_filter '@@never@@' 'x'; }
    location /gz/ { alias $d/html/; gzip on; gzip_types *; gzip_min_length 1; }
    location /norange/ { alias $d/html/; max_ranges 0; }
    location = /error500 { return 500; }
  }
}
EOF
}

config_apache() {
  local d="$1" port="$2"
  mkdir -p "$d/htdocs"
  write_documents "$d/htdocs"
  htpasswd -cb "$d/htpasswd" alice secret 2>/dev/null
  printf 'bob:Test Realm:%s\n' "$(printf 'bob:Test Realm:secret' | md5sum | cut -d' ' -f1)" \
    > "$d/htdigest"
  local m="$APACHE_MODULES"
  cat > "$d/httpd.conf" <<EOF
ServerRoot $d
ServerName localhost
Listen 127.0.0.1:$port
PidFile $d/httpd.pid
DefaultRuntimeDir $d
ErrorLog $d/error.log
LoadModule mpm_event_module $m/mod_mpm_event.so
LoadModule authn_core_module $m/mod_authn_core.so
LoadModule authn_file_module $m/mod_authn_file.so
LoadModule authz_core_module $m/mod_authz_core.so
LoadModule authz_user_module $m/mod_authz_user.so
LoadModule auth_basic_module $m/mod_auth_basic.so
LoadModule auth_digest_module $m/mod_auth_digest.so
LoadModule dir_module $m/mod_dir.so
DocumentRoot $d/htdocs
<Location /basic/>
  AuthType Basic
  AuthName "Test Realm"
  AuthUserFile $d/htpasswd
  Require valid-user
</Location>
<Location /digest/>
  AuthType Digest
  AuthName "Test Realm"
  AuthDigestDomain /digest/
  AuthUserFile $d/htdigest
  AuthDigestQop auth
  Require valid-user
</Location>
EOF
}

config_squid() {
  local d="$1" port="$2" auth="$3"
  mkdir -p "$d"
  {
    echo "http_port 127.0.0.1:$port"
    echo "visible_hostname localhost"
    echo "pid_filename $d/squid.pid"
    echo "cache_log $d/cache.log"
    echo "access_log stdio:$d/access.log"
    echo "cache_store_log none"
    echo "cache deny all"
    echo "cache_mem 8 MB"
    echo "coredump_dir $d"
    echo "shutdown_lifetime 0 seconds"
    echo "pinger_enable off"
    echo "dns_nameservers 127.0.0.1"
    if [[ "$auth" == auth ]]; then
      htpasswd -cb "$d/passwd" alice secret 2>/dev/null
      echo "auth_param basic program $NCSA_HELPER $d/passwd"
      echo "auth_param basic children 2 startup=1"
      echo "auth_param basic realm proxy-test"
      echo "acl authed proxy_auth REQUIRED"
      echo "http_access allow localhost authed"
    elif [[ "$auth" == digest ]]; then
      # One "user:password" line; squid asks for Digest (MD5, qop=auth) on requests and CONNECT.
      echo "alice:secret" > "$d/digestpasswd"
      echo "auth_param digest program $DIGEST_HELPER $d/digestpasswd"
      echo "auth_param digest children 2 startup=1"
      echo "auth_param digest realm proxy-digest"
      echo "acl authed proxy_auth REQUIRED"
      echo "http_access allow localhost authed"
    elif [[ "$auth" == ntlmv2 ]]; then
      # Samba's own NTLM server checks the answers against the password "secret"; its challenge
      # carries target information. (Checking one password, ntlm_auth accepts version 1 answers
      # whatever "ntlm auth" says; the setting states the intent for a domain-backed helper.)
      mkdir -p "$d/samba"
      printf '[global]\n  workgroup = CORP\n  ntlm auth = ntlmv2-only\n  lanman auth = no\n' > "$d/smb.conf"
      for dir in lock state cache pid; do printf '  %s directory = %s\n' "$dir" "$d/samba" >> "$d/smb.conf"; done
      printf '  private dir = %s\n' "$d/samba" >> "$d/smb.conf"
      echo "auth_param ntlm program $SAMBA_NTLM_HELPER --configfile=$d/smb.conf --helper-protocol=squid-2.5-ntlmssp --username=alice --password=secret --domain=CORP"
      echo "auth_param ntlm children 2 startup=1"
      echo "acl authed proxy_auth REQUIRED"
      echo "http_access allow localhost authed"
    elif [[ "$auth" == ntlm* ]]; then
      echo "auth_param ntlm program $NTLM_HELPER"
      echo "auth_param ntlm children 2 startup=1"
      # ntlmclose: the connection closes after the first 407, between the legs.
      [[ "$auth" == ntlmclose ]] && echo "auth_param ntlm keep_alive off"
      echo "acl authed proxy_auth REQUIRED"
      echo "http_access allow localhost authed"
    else
      echo "http_access allow localhost"
    fi
    echo "http_access deny all"
  } > "$d/squid.conf"
  chown -R proxy:proxy "$d"
}

# The PAM service a danteauth peer checks user names against (PAM reads only /etc/pam.d).
pam_service_of() { echo "brixa-socks-$1"; }

# SOCKS 4 and 5 on 127.0.0.1, reaching loopback targets only: CONNECT, BIND and UDP ASSOCIATE
# (with their replies). With `auth`, SOCKS 5 asks for user name and password (alice:secret),
# checked by pam_pwdfile against a file in the peer's folder, so no system account is needed.
config_dante() {
  local d="$1" port="$2" auth="$3" rule_extra="" method=none
  mkdir -p "$d"
  if [[ "$auth" == auth ]]; then
    printf 'alice:%s\n' "$(openssl passwd -6 secret)" > "$d/socks.passwd"
    printf 'auth    required pam_pwdfile.so pwdfile=%s nodelay\naccount required pam_permit.so\n' \
      "$d/socks.passwd" > "/etc/pam.d/$(pam_service_of "$port")"
    method=pam.username
    rule_extra="pam.servicename: $(pam_service_of "$port")"
  fi
  cat > "$d/danted.conf" <<EOF
logoutput: $d/danted.log
internal: 127.0.0.1 port = $port
external: 127.0.0.1
clientmethod: none
socksmethod: $method
user.privileged: root
user.unprivileged: root
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass {
  from: 127.0.0.0/8 to: 127.0.0.0/8
  log: connect
  $rule_extra
}
socks pass { from: 0.0.0.0/0 to: 127.0.0.0/8 command: bindreply udpreply }
EOF
}

# lighttpd logs, per request, how many requests its connection carried before it (%k), so a
# test can tell a kept-alive connection from a new one.
config_lighttpd() {
  local d="$1" port="$2"
  mkdir -p "$d/html"
  write_documents "$d/html"
  cat > "$d/lighttpd.conf" <<EOF
server.document-root = "$d/html"
server.bind = "127.0.0.1"
server.port = $port
server.pid-file = "$d/lighttpd.pid"
server.errorlog = "$d/error.log"
server.modules = ("mod_accesslog")
accesslog.filename = "$d/access.log"
accesslog.format = "%k \"%r\" %s"
mimetype.assign = (".html" => "text/html", "" => "application/octet-stream")
EOF
}

config_tinyproxy() {
  local d="$1" port="$2"
  cat > "$d/tinyproxy.conf" <<EOF
Port $port
Listen 127.0.0.1
Timeout 30
LogFile "$d/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.1
EOF
}

config_pyhttp() {
  mkdir -p "$1/html"
  write_documents "$1/html"
}

config() {
  local kind="$1" d="$2" port="$3"
  case "$kind" in
    lighttpd) config_lighttpd "$d" "$port" ;;
    tinyproxy) config_tinyproxy "$d" "$port" ;;
    pyhttp) config_pyhttp "$d" ;;
    nginx) config_nginx "$d" "$port" ;;
    apache) config_apache "$d" "$port" ;;
    squid) config_squid "$d" "$port" open ;;
    squidauth) config_squid "$d" "$port" auth ;;
    squidntlm) config_squid "$d" "$port" ntlm ;;
    squidntlmclose) config_squid "$d" "$port" ntlmclose ;;
    squiddigest) config_squid "$d" "$port" digest ;;
    squidntlmv2) config_squid "$d" "$port" ntlmv2 ;;
    dante) config_dante "$d" "$port" open ;;
    danteauth) config_dante "$d" "$port" auth ;;
    *) die "unknown peer kind: $kind" ;;
  esac
}

# Removes what a peer left outside its folder.
cleanup() {
  local kind="$1" port="$2"
  case "$kind" in
    squid | squidauth | squidntlm | squidntlmclose | squiddigest | squidntlmv2) rm -f /dev/shm/sq"$port"-* 2>/dev/null || true ;;
    danteauth) rm -f "/etc/pam.d/$(pam_service_of "$port")" ;;
  esac
}

# The foreground command line of KIND; squid's instance name carries the port so that two
# instances never share their /dev/shm segments.
command_of() {
  local kind="$1" d="$2" port="$3"
  case "$kind" in
    nginx) printf '%s\n' /usr/sbin/nginx -p "$d" -c "$d/nginx.conf" -e "$d/error.log" ;;
    apache) printf '%s\n' /usr/sbin/apache2 -f "$d/httpd.conf" -DFOREGROUND ;;
    squid | squidauth | squidntlm | squidntlmclose | squiddigest | squidntlmv2) printf '%s\n' /usr/sbin/squid -N -n "sq$port" -f "$d/squid.conf" ;;
    dante | danteauth) printf '%s\n' /usr/sbin/danted -f "$d/danted.conf" -p "$d/danted.pid" ;;
    lighttpd) printf '%s\n' /usr/sbin/lighttpd -D -f "$d/lighttpd.conf" ;;
    tinyproxy) printf '%s\n' /usr/bin/tinyproxy -d -c "$d/tinyproxy.conf" ;;
    pyhttp)
      printf '%s\n' /usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$d/html"
      ;;
    *) die "unknown peer kind: $kind" ;;
  esac
}

# Ports handed out by this run: listeners picked before their server starts are all free when
# checked, so a port drawn twice would give one server two listeners on it, and one of them
# would answer with the other's certificate.
GIVEN_PORTS="$(mktemp /tmp/brixa-peer-ports.XXXXXX)"
trap 'rm -f "$GIVEN_PORTS"' EXIT

# shellcheck source=free_port.sh
source "$(dirname "${BASH_SOURCE[0]}")/free_port.sh"

wait_ready() {
  local port="$1" pid="$2"
  for _ in $(seq 1 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

start_all() {
  local envfile="$1" kind d port pid upper
  : > "$envfile"
  for kind in "${KINDS[@]}"; do
    if [[ ! -x "$(binary_of "$kind")" ]]; then
      echo "peers: $(binary_of "$kind") missing (package $(package_of "$kind")); skipped" >&2
      continue
    fi
    d="$(mktemp -d /tmp/brixa-peer-"$kind".XXXXXX)"
    chmod 755 "$d"
    port="$(free_port "$GIVEN_PORTS")" || die "no free port found"
    config "$kind" "$d" "$port"
    mapfile -t cmd < <(command_of "$kind" "$d" "$port")
    setsid "${cmd[@]}" > "$d/stdout.log" 2>&1 < /dev/null &
    pid=$!
    if ! wait_ready "$port" "$pid"; then
      echo "peers: $kind did not start on port $port (see $d)" >&2
      kill -TERM "$pid" 2>/dev/null || true
      cleanup "$kind" "$port"
      continue
    fi
    upper="$(echo "$kind" | tr '[:lower:]' '[:upper:]')"
    {
      echo "export BRIXA_PEER_${upper}_PORT=$port"
      echo "export BRIXA_PEER_${upper}_DIR=$d"
      echo "export BRIXA_PEER_${upper}_PID=$pid"
    } >> "$envfile"
  done
}

# The update server sits on the fixed address the updater was built for, serving an empty
# /brixakit/ tree that the updater's end-to-end tests fill. Skipped when that port is taken.
start_update_server() {
  local envfile="$1" server="${BRIXA_UPDATE_SERVER:-127.0.0.1:8471}" d pid port
  local root template
  root="$(cd "$(dirname "$0")/.." && pwd)"
  template="$root/tools/demo/nginx.conf.in"
  port="${server##*:}"
  [[ "${server%:*}" == 127.0.0.1 && -x /usr/sbin/nginx && -f "$template" ]] || return 0
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "peers: port $port of the update server is taken; updateserver skipped" >&2
    return 0
  fi
  d="$(mktemp -d /tmp/brixa-peer-updateserver.XXXXXX)"
  chmod 755 "$d"
  mkdir -p "$d/html/brixakit" "$d/tmp"
  sed -e "s#@ROOT@#$d#g" -e "s#@LISTEN@#127.0.0.1:$port#g" -e "s#@RATE@#0#g" \
    -e "s#@LOCATIONS@##g" "$template" > "$d/nginx.conf"
  setsid /usr/sbin/nginx -p "$d/" -c "$d/nginx.conf" -e "$d/error.log" > "$d/stdout.log" 2>&1 \
    < /dev/null &
  pid=$!
  if ! wait_ready "$port" "$pid"; then
    echo "peers: updateserver did not start on port $port (see $d)" >&2
    kill -TERM "$pid" 2>/dev/null || true
    return 0
  fi
  {
    echo "export BRIXA_PEER_UPDATESERVER_PORT=$port"
    echo "export BRIXA_PEER_UPDATESERVER_DIR=$d"
    echo "export BRIXA_PEER_UPDATESERVER_PID=$pid"
  } >> "$envfile"
}

# TLS peers for a Windows test run (the Linux tests start their own): one folder with the test
# certificates (tests/support/make_test_pki.sh) and a docs/ folder the tests fill, served by one
# nginx with a listener per certificate (BRIXA_PEER_TLS_PORT_<NAME>, "server@1.2" as SERVER12),
# and tests/support/tls_odd_server.py in each of its modes (BRIXA_PEER_TLS<MODE>_PORT, the mode
# without its dash: TLSSTALLHANDSHAKE). Skipped when openssl or nginx is missing.
TLS_LISTENERS=(server server@1.2 wronghost unknownca expired wildcard ca)
start_tls_peers() {
  local envfile="$1" root d conf pid entry name protocols port upper mode ports=()
  root="$(cd "$(dirname "$0")/.." && pwd)"
  [[ -x /usr/bin/openssl && -x /usr/sbin/nginx ]] || return 0
  d="$(mktemp -d /tmp/brixa-peer-tls.XXXXXX)"
  chmod 755 "$d"
  if ! bash "$root/tests/support/make_test_pki.sh" "$d" > /dev/null; then
    echo "peers: making the TLS test certificates failed; TLS peers skipped" >&2
    rm -rf "$d"
    return 0
  fi
  mkdir -p "$d/docs" "$d/tmp"
  conf="$d/nginx.conf"
  cat > "$conf" <<EOF
daemon off; worker_processes 1; user root; pid $d/nginx.pid;
error_log $d/error.log info; events { worker_connections 64; }
http { access_log $d/access.log; client_body_temp_path $d/tmp/body;
  proxy_temp_path $d/tmp/proxy; fastcgi_temp_path $d/tmp/fcgi;
  uwsgi_temp_path $d/tmp/uwsgi; scgi_temp_path $d/tmp/scgi;
  default_type application/octet-stream; sendfile on; keepalive_requests 100000;
  log_format conn '\$connection \$request \$ssl_protocol pa=\$http_proxy_authorization';
EOF
  for entry in "${TLS_LISTENERS[@]}"; do
    name="${entry%@*}"
    protocols="TLSv1.2 TLSv1.3"
    [[ "$entry" == *@1.2 ]] && protocols="TLSv1.2"
    port="$(free_port "$GIVEN_PORTS")" || die "no free port found"
    ports+=("$port")
    upper="$(echo "${entry//[@.]/}" | tr '[:lower:]' '[:upper:]')"
    echo "export BRIXA_PEER_TLS_PORT_$upper=$port" >> "$d/ports.env"
    cat >> "$conf" <<EOF
  server { listen 127.0.0.1:$port ssl; server_name localhost; access_log $d/access.log conn;
    ssl_protocols $protocols; ssl_certificate $d/$name.crt; ssl_certificate_key $d/$name.key;
    root $d/docs; location /tls12/ { alias $d/docs/; }
    location = /cookie { add_header Set-Cookie "plain=1; Path=/";
      add_header Set-Cookie "hidden=2; Path=/; Secure"; return 200 ok; }
    location = /redirect-http { return 302 \$arg_to; } }
EOF
  done
  echo "}" >> "$conf"
  setsid /usr/sbin/nginx -p "$d/" -c "$conf" -e "$d/error.log" > "$d/stdout.log" 2>&1 < /dev/null &
  pid=$!
  for port in "${ports[@]}"; do
    if ! wait_ready "$port" "$pid"; then
      echo "peers: the TLS nginx did not start (see $d)" >&2
      kill -TERM "$pid" 2>/dev/null || true
      return 0
    fi
  done
  { cat "$d/ports.env"; echo "export BRIXA_PEER_TLS_DIR=$d"; echo "export BRIXA_PEER_TLS_PID=$pid"; } \
    >> "$envfile"
  [[ -x /usr/bin/python3 ]] || return 0
  for mode in reset truncate stall-handshake stall-record; do
    port="$(free_port "$GIVEN_PORTS")" || die "no free port found"
    setsid /usr/bin/python3 "$root/tests/support/tls_odd_server.py" "$mode" "$port" \
      "$d/server.crt" "$d/server.key" > "$d/odd-$mode.log" 2>&1 < /dev/null &
    pid=$!
    wait_ready "$port" "$pid" || { kill -TERM "$pid" 2>/dev/null || true; continue; }
    upper="$(echo "${mode//-/}" | tr '[:lower:]' '[:upper:]')"
    echo "export BRIXA_PEER_TLS${upper}_PORT=$port BRIXA_PEER_TLS${upper}_PID=$pid" >> "$envfile"
  done
}

# The https update server of the Windows end-to-end tests, when BRIXA_UPDATE_TLS_DIR names the
# certificates the build made for its https test updaters (test-update-tls): the same tree on
# BRIXA_TLS_UPDATE_PORT (default 8473) with TLS.
start_tls_update_server() {
  local envfile="$1" certs="${BRIXA_UPDATE_TLS_DIR:-}" port="${BRIXA_TLS_UPDATE_PORT:-8473}" d pid
  local template
  template="$(cd "$(dirname "$0")/.." && pwd)/tools/demo/nginx.conf.in"
  [[ -n "$certs" && -f "$certs/server.crt" && -x /usr/sbin/nginx ]] || return 0
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "peers: port $port of the https update server is taken; skipped" >&2
    return 0
  fi
  d="$(mktemp -d /tmp/brixa-peer-updateservertls.XXXXXX)"
  chmod 755 "$d"
  mkdir -p "$d/html/brixakit" "$d/tmp"
  sed -e "s#@ROOT@#$d#g" -e "s#@RATE@#0#g" -e "s#@LOCATIONS@##g" \
    -e "s#@LISTEN@#127.0.0.1:$port ssl; ssl_certificate $certs/server.crt; ssl_certificate_key $certs/server.key#g" \
    "$template" > "$d/nginx.conf"
  setsid /usr/sbin/nginx -p "$d/" -c "$d/nginx.conf" -e "$d/error.log" > "$d/stdout.log" 2>&1 \
    < /dev/null &
  pid=$!
  if ! wait_ready "$port" "$pid"; then
    echo "peers: the https update server did not start on port $port (see $d)" >&2
    kill -TERM "$pid" 2>/dev/null || true
    return 0
  fi
  {
    echo "export BRIXA_PEER_UPDATESERVERTLS_PORT=$port"
    echo "export BRIXA_PEER_UPDATESERVERTLS_DIR=$d"
    echo "export BRIXA_PEER_UPDATESERVERTLS_PID=$pid"
  } >> "$envfile"
}

stop_all() {
  local envfile="$1" kind upper pid d port
  [[ -f "$envfile" ]] || return 0
  # shellcheck disable=SC1090
  source "$envfile"
  for kind in "${KINDS[@]}" updateserver updateservertls tlsreset tlstruncate tlsstallhandshake tlsstallrecord tls; do
    upper="$(echo "$kind" | tr '[:lower:]' '[:upper:]')"
    pid="$(eval echo "\${BRIXA_PEER_${upper}_PID:-}")"
    d="$(eval echo "\${BRIXA_PEER_${upper}_DIR:-}")"
    port="$(eval echo "\${BRIXA_PEER_${upper}_PORT:-}")"
    [[ -n "$pid" ]] || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    cleanup "$kind" "$port"
    [[ "$d" == /tmp/brixa-peer-* ]] && rm -rf "$d"
  done
  rm -f "$envfile"
}

case "${1:-}" in
  config) [[ $# -eq 4 ]] || die "usage: peers.sh config KIND DIR PORT"; config "$2" "$3" "$4" ;;
  command) [[ $# -eq 4 ]] || die "usage: peers.sh command KIND DIR PORT"; command_of "$2" "$3" "$4" ;;
  start) [[ $# -eq 2 ]] || die "usage: peers.sh start ENVFILE"; start_all "$2"; start_update_server "$2"; start_tls_update_server "$2"
    start_tls_peers "$2" ;;
  stop) [[ $# -eq 2 ]] || die "usage: peers.sh stop ENVFILE"; stop_all "$2" ;;
  cleanup) [[ $# -eq 3 ]] || die "usage: peers.sh cleanup KIND PORT"; cleanup "$2" "$3" ;;
  *) die "usage: peers.sh config|command KIND DIR PORT | start|stop ENVFILE" ;;
esac
