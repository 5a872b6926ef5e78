#!/usr/bin/env bash
# A throw-away Kerberos realm on loopback for the Negotiate tests: an MIT KDC, Apache httpd with
# mod_auth_gssapi and squid with negotiate_kerberos_auth, both accepting HTTP/127.0.0.1 from one
# keytab, and a user alice (password "secret"). Everything lives in DIR; nothing in /etc changes.
#
#   scripts/kerberos_realm.sh start DIR   make the realm, start the three servers, write DIR/env
#                                         (KRB5_CONFIG, KDC_PORT, APACHE_PORT, APACHE_TLS_PORT,
#                                         SQUID_PORT and the servers' PIDs, for `source`; DIR/ca.crt
#                                         signs Apache's certificate); exit 3 when a package is
#                                         missing (the message names it)
#   scripts/kerberos_realm.sh kinit DIR   get alice's ticket into DIR/alice.ccache
#   scripts/kerberos_realm.sh stop DIR    stop the servers DIR/env names
#
# Apache serves /negotiate/secret.txt behind Negotiate and /open.txt to anyone, over http and
# https (for the tunnel through the proxy); squid wants
# Negotiate for every request, CONNECT included. Every wait is bounded (see WAIT_TENTHS).
set -euo pipefail

REALM=BRIXA.TEST
USER_PASSWORD=secret
APACHE_MODULES=/usr/lib/apache2/modules
NEGOTIATE_HELPER=/usr/lib/squid/negotiate_kerberos_auth
# A server that is not answering after this many tenths of a second has failed to start.
WAIT_TENTHS=100

die() { echo "kerberos_realm: $*" >&2; exit 2; }
missing() { echo "kerberos_realm: $1 is missing (Debian package $2)" >&2; exit 3; }

need_binaries() {
  [[ -x /usr/sbin/krb5kdc ]] || missing krb5kdc krb5-kdc
  [[ -x /usr/sbin/kdb5_util ]] || missing kdb5_util krb5-kdc
  [[ -x /usr/sbin/kadmin.local ]] || missing kadmin.local krb5-admin-server
  [[ -x /usr/bin/kinit ]] || missing kinit krb5-user
  [[ -x /usr/sbin/apache2 ]] || missing apache2 apache2
  [[ -f $APACHE_MODULES/mod_auth_gssapi.so ]] || missing mod_auth_gssapi libapache2-mod-auth-gssapi
  [[ -x /usr/sbin/squid ]] || missing squid squid
  [[ -x $NEGOTIATE_HELPER ]] || missing negotiate_kerberos_auth squid
}

# shellcheck source=free_port.sh
source "$(dirname "${BASH_SOURCE[0]}")/free_port.sh"

wait_port() {
  local port="$1" pid="$2" name="$3"
  for _ in $(seq 1 "$WAIT_TENTHS"); do
    if ! port_free "$port"; then return 0; fi
    kill -0 "$pid" 2>/dev/null || die "$name exited while starting (see $D)"
    sleep 0.1
  done
  die "$name did not start within $((WAIT_TENTHS / 10)) s"
}

write_krb5_conf() {
  cat > "$D/krb5.conf" <<EOF
[libdefaults]
  default_realm = $REALM
  dns_lookup_kdc = false
  dns_lookup_realm = false
  dns_canonicalize_hostname = false
  rdns = false
  udp_preference_limit = 1
[realms]
  $REALM = {
    kdc = 127.0.0.1:$KDC_PORT
  }
[domain_realm]
  127.0.0.1 = $REALM
EOF
  cat > "$D/kdc.conf" <<EOF
[kdcdefaults]
  kdc_ports = $KDC_PORT
  kdc_tcp_ports = $KDC_PORT
[realms]
  $REALM = {
    database_name = $D/kdc/principal
    key_stash_file = $D/kdc/stash
    acl_file = $D/kdc/kadm5.acl
    max_life = 1h
    supported_enctypes = aes256-cts-hmac-sha1-96:normal aes128-cts-hmac-sha1-96:normal
  }
[logging]
  kdc = FILE:$D/kdc.log
EOF
}

make_realm() {
  mkdir -p "$D/kdc"
  : > "$D/kdc/kadm5.acl"
  kdb5_util create -s -r "$REALM" -P "master-$RANDOM$RANDOM" > "$D/kdb5_util.log" 2>&1
  kadmin.local -r "$REALM" -q "addprinc -pw $USER_PASSWORD alice" > "$D/kadmin.log" 2>&1
  kadmin.local -r "$REALM" -q "addprinc -randkey HTTP/127.0.0.1" >> "$D/kadmin.log" 2>&1
  kadmin.local -r "$REALM" -q "ktadd -k $D/http.keytab HTTP/127.0.0.1" >> "$D/kadmin.log" 2>&1
  [[ -s $D/http.keytab ]] || die "no keytab (see $D/kadmin.log)"
}

make_certificate() {
  local ext="subjectAltName=DNS:localhost,IP:127.0.0.1"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$D/ca.key" -out "$D/ca.crt" -days 2 \
    -subj "/CN=Kerberos Test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign > "$D/openssl.log" 2>&1
  openssl req -newkey rsa:2048 -nodes -keyout "$D/server.key" -out "$D/server.csr" \
    -subj /CN=localhost >> "$D/openssl.log" 2>&1
  openssl x509 -req -in "$D/server.csr" -CA "$D/ca.crt" -CAkey "$D/ca.key" -CAcreateserial \
    -days 2 -out "$D/server.crt" -extfile <(printf '%s\n' "$ext") >> "$D/openssl.log" 2>&1
}

write_apache_conf() {
  make_certificate
  mkdir -p "$D/htdocs/negotiate" "$D/rcache"
  printf 'negotiate secret\n' > "$D/htdocs/negotiate/secret.txt"
  printf 'open page\n' > "$D/htdocs/open.txt"
  cat > "$D/httpd.conf" <<EOF
ServerRoot $D
ServerName localhost
Listen 127.0.0.1:$APACHE_PORT
Listen 127.0.0.1:$APACHE_TLS_PORT
PidFile $D/httpd.pid
DefaultRuntimeDir $D
ErrorLog $D/apache_error.log
LogLevel info
LoadModule mpm_event_module $APACHE_MODULES/mod_mpm_event.so
LoadModule authn_core_module $APACHE_MODULES/mod_authn_core.so
LoadModule authz_core_module $APACHE_MODULES/mod_authz_core.so
LoadModule authz_user_module $APACHE_MODULES/mod_authz_user.so
LoadModule auth_gssapi_module $APACHE_MODULES/mod_auth_gssapi.so
LoadModule socache_shmcb_module $APACHE_MODULES/mod_socache_shmcb.so
LoadModule ssl_module $APACHE_MODULES/mod_ssl.so
DocumentRoot $D/htdocs
<VirtualHost 127.0.0.1:$APACHE_TLS_PORT>
  SSLEngine on
  SSLCertificateFile $D/server.crt
  SSLCertificateKeyFile $D/server.key
</VirtualHost>
<Location /negotiate/>
  AuthType GSSAPI
  AuthName "Kerberos"
  GssapiCredStore keytab:$D/http.keytab
  GssapiAllowedMech krb5
  Require valid-user
</Location>
EOF
}

write_squid_conf() {
  mkdir -p "$D/squid"
  cat > "$D/squid/squid.conf" <<EOF
http_port 127.0.0.1:$SQUID_PORT
visible_hostname localhost
pid_filename $D/squid/squid.pid
cache_log $D/squid/cache.log
access_log stdio:$D/squid/access.log
cache_store_log none
cache deny all
cache_mem 8 MB
coredump_dir $D/squid
shutdown_lifetime 0 seconds
pinger_enable off
dns_nameservers 127.0.0.1
auth_param negotiate program $NEGOTIATE_HELPER -s GSS_C_NO_NAME -k $D/squid/http.keytab -t none
auth_param negotiate children 2 startup=1
acl authed proxy_auth REQUIRED
http_access allow localhost authed
http_access deny all
EOF
  cp "$D/http.keytab" "$D/krb5.conf" "$D/squid/"
  chown -R proxy:proxy "$D/squid"
  # squid drops to the proxy user, which must reach its folder through DIR.
  chmod 0711 "$D"
}

start() {
  D="$1"
  need_binaries
  mkdir -p "$D"
  D="$(cd "$D" && pwd)"
  KDC_PORT="$(free_port "$D/ports")" || die "no free port"
  APACHE_PORT="$(free_port "$D/ports")" || die "no free port"
  APACHE_TLS_PORT="$(free_port "$D/ports")" || die "no free port"
  SQUID_PORT="$(free_port "$D/ports")" || die "no free port"
  write_krb5_conf
  export KRB5_CONFIG="$D/krb5.conf" KRB5_KDC_PROFILE="$D/kdc.conf"
  make_realm
  krb5kdc -n > "$D/krb5kdc.out" 2>&1 &
  local kdc=$!
  wait_port "$KDC_PORT" "$kdc" krb5kdc
  write_apache_conf
  KRB5RCACHEDIR="$D/rcache" apache2 -f "$D/httpd.conf" -DFOREGROUND > "$D/apache.out" 2>&1 &
  local apache=$!
  write_squid_conf
  KRB5_CONFIG="$D/squid/krb5.conf" squid -N -n "sqk$SQUID_PORT" -f "$D/squid/squid.conf" \
    > "$D/squid.out" 2>&1 &
  local squid=$!
  cat > "$D/env" <<EOF
KRB5_CONFIG=$D/krb5.conf
KDC_PORT=$KDC_PORT
APACHE_PORT=$APACHE_PORT
APACHE_TLS_PORT=$APACHE_TLS_PORT
SQUID_PORT=$SQUID_PORT
KDC_PID=$kdc
APACHE_PID=$apache
SQUID_PID=$squid
EOF
  wait_port "$APACHE_PORT" "$apache" apache2
  wait_port "$APACHE_TLS_PORT" "$apache" apache2
  wait_port "$SQUID_PORT" "$squid" squid
}

get_ticket() {
  D="$1"
  # shellcheck disable=SC1091
  source "$D/env"
  printf '%s\n' "$USER_PASSWORD" |
    KRB5_CONFIG="$D/krb5.conf" KRB5CCNAME="FILE:$D/alice.ccache" kinit "alice@$REALM" > /dev/null
}

stop() {
  D="$1"
  [[ -f $D/env ]] || return 0
  # shellcheck disable=SC1091
  source "$D/env"
  local pid
  for pid in "$SQUID_PID" "$APACHE_PID" "$KDC_PID"; do kill -TERM "$pid" 2>/dev/null || true; done
  # squid takes about two seconds to stop; anything still there after five is killed.
  for _ in $(seq 1 50); do
    kill -0 "$SQUID_PID" 2>/dev/null || kill -0 "$APACHE_PID" 2>/dev/null ||
      kill -0 "$KDC_PID" 2>/dev/null || break
    sleep 0.1
  done
  for pid in "$SQUID_PID" "$APACHE_PID" "$KDC_PID"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -f /dev/shm/sqk"$SQUID_PORT"-* 2>/dev/null || true
}

case "${1:-}" in
  start) [[ $# -eq 2 ]] || die "usage: start DIR"; start "$2" ;;
  kinit) [[ $# -eq 2 ]] || die "usage: kinit DIR"; get_ticket "$2" ;;
  stop) [[ $# -eq 2 ]] || die "usage: stop DIR"; stop "$2" ;;
  *) die "usage: $0 start|kinit|stop DIR" ;;
esac
