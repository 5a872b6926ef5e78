# Sourced by the scripts that start test servers: free_port GIVEN_FILE prints a port on
# 127.0.0.1 that nothing listens on and that is not yet listed in GIVEN_FILE (then lists it), so
# one run never hands a port out twice; a failure prints nothing and returns 1.
#
# Ports are drawn below the system's range of ephemeral ports: a port in that range can be the
# local end of some client's connection, which a connect does not see but a bind fails on.

read -r BRIXA_EPHEMERAL_LOW _ < /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null ||
  BRIXA_EPHEMERAL_LOW=32768
((BRIXA_EPHEMERAL_LOW > 21000)) || BRIXA_EPHEMERAL_LOW=32768

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local given="$1" port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % (BRIXA_EPHEMERAL_LOW - 20000)))
    grep -qx "$port" "$given" 2>/dev/null && continue
    if port_free "$port"; then
      echo "$port" >> "$given"
      echo "$port"
      return 0
    fi
  done
  return 1
}
