# Sourced: starts the loopback test servers on free ports and stops them by
# their own process ids. Exports for the tests (and writes to servers.env):
#   KESTREL_SCENARIO_PORT  scenario server (exact raw replies and faults)
#   KESTREL_NGINX_PORT     nginx over the generated static site
#   KESTREL_PROXY_PORT     tinyproxy, forwarding to loopback only, CONNECT to the TLS ports
# and the TLS servers (certificates by make-pki.sh in $SERVERS_RUN/pki; see README.md):
#   KESTREL_TLS_PORT            nginx, the same site over TLS, good certificate
#   KESTREL_TLS_EXPIRED_PORT    nginx, expired certificate
#   KESTREL_TLS_WRONGNAME_PORT  nginx, certificate for another name
#   KESTREL_TLS_UNTRUSTED_PORT  nginx, certificate of an untrusted issuer
#   KESTREL_TLS_SCENARIO_PORT   the scenario routes over TLS (tls_server.py)
#   KESTREL_TLS_SILENT_PORT, KESTREL_TLS_PLAIN_PORT, KESTREL_TLS_GARBAGE_PORT,
#   KESTREL_TLS_HSCLOSE_PORT, KESTREL_TLS_HOSTILE_PORT   handshake faults (tls_server.py)
#   KESTREL_PROXY_NOCONNECT_PORT  tinyproxy that refuses CONNECT to every test port
#   KESTREL_PROXY_AUTH_PORT       proxy that wants Basic credentials (connect_proxy.py)
#   KESTREL_TLS_RECUT_PORT        the scenario routes over TLS 1.2, handshake in 40-byte records
#   KESTREL_TLS_NAMECONSTRAINED_PORT, KESTREL_TLS_NOTCA_PORT, KESTREL_TLS_PATHLEN_PORT,
#   KESTREL_TLS_CRITICAL_PORT     the scenario routes with a chain to refuse (make-pki.sh)
#   KESTREL_TLS_AIA_PORT          the scenario routes with a certificate whose issuer is
#                                 not sent, to be fetched from the silent port
#   KESTREL_TLS_SELFSIGNED_PORT   the scenario routes with a self-signed certificate
#   KESTREL_TLS_CA                the test CA's certificate (PEM)
#   KESTREL_TLS_SELFSIGNED_SHA256, KESTREL_TLS_UNTRUSTED_SHA256, KESTREL_TLS_EXPIRED_SHA256,
#   KESTREL_TLS_GOOD_SHA256       those servers' certificates' SHA-256 fingerprints
#                                 (the good one: the site's), as openssl prints them
SERVERS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SERVERS_ROOT=$(cd "$SERVERS_DIR/../.." && pwd)
SERVERS_RUN=${SERVERS_RUN:-$SERVERS_ROOT/build/servers}
SERVERS_PIDS=()

# free_ports N: N distinct free loopback ports on one line.
free_ports() {
  python3 - "${1:-1}" <<'PY'
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

free_port() { free_ports 1; }

# wait_port PORT...: bounded wait until something listens on each 127.0.0.1:PORT.
wait_port() {
  python3 - "$@" <<'PY'
import socket, sys, time
deadline = time.time() + 15
for port in sys.argv[1:]:
    while True:
        try:
            socket.create_connection(("127.0.0.1", int(port)), timeout=1).close()
            break
        except OSError:
            if time.time() > deadline:
                sys.exit(1)
            time.sleep(0.05)
PY
}

# The response corpus lies in shared/ beside the checkout.
if [ -z "${KESTREL_CORPUS_DIR:-}" ]; then
  for c in "$SERVERS_ROOT/../shared/corpus/http-responses" /work/shared/corpus/http-responses; do
    [ -d "$c" ] && { KESTREL_CORPUS_DIR=$(cd "$c" && pwd); break; }
  done
fi
export KESTREL_CORPUS_DIR

# servers_nginx_conf SITE NGINX_RUN PKI: writes NGINX_RUN/nginx.conf and the
# site.conf it includes, for the ports in KESTREL_NGINX_PORT and KESTREL_TLS_*.
servers_nginx_conf() {
  local site=$1 run=$2 pki=$3 template
  mkdir -p "$run"
  for template in nginx site; do
    sed -e "s|@PORT@|$KESTREL_NGINX_PORT|g" -e "s|@SITE@|$site|g" -e "s|@RUN@|$run|g" \
      -e "s|@CONF@|$SERVERS_DIR|g" -e "s|@PKI@|$pki|g" \
      -e "s|@TLS_PORT@|$KESTREL_TLS_PORT|g" -e "s|@TLS_EXPIRED_PORT@|$KESTREL_TLS_EXPIRED_PORT|g" \
      -e "s|@TLS_WRONGNAME_PORT@|$KESTREL_TLS_WRONGNAME_PORT|g" \
      -e "s|@TLS_UNTRUSTED_PORT@|$KESTREL_TLS_UNTRUSTED_PORT|g" \
      "$SERVERS_DIR/$template.conf.in" > "$run/$template.conf"
  done
}

# tinyproxy_start NAME PORT CONNECT_PORTS...: a tinyproxy with its own
# configuration, allowing CONNECT to the given ports only.
tinyproxy_start() {
  local name=$1 port=$2 conf=$SERVERS_RUN/$1.conf p; shift 2
  sed -e "s|@PORT@|$port|g" -e "s|@RUN@|$SERVERS_RUN|g" -e "s|@NAME@|$name|g" \
    -e "s|@CONF@|$SERVERS_DIR|g" "$SERVERS_DIR/tinyproxy.conf.in" > "$conf"
  for p in "$@"; do echo "ConnectPort $p" >> "$conf"; done
  tinyproxy -d -c "$conf" >"$SERVERS_RUN/$name.log" 2>&1 &
  SERVERS_PIDS+=($!)
}

SERVERS_PORT_NAMES="KESTREL_SCENARIO_PORT KESTREL_NGINX_PORT KESTREL_PROXY_PORT
  KESTREL_TLS_PORT KESTREL_TLS_EXPIRED_PORT KESTREL_TLS_WRONGNAME_PORT KESTREL_TLS_UNTRUSTED_PORT
  KESTREL_TLS_SCENARIO_PORT KESTREL_TLS_SILENT_PORT KESTREL_TLS_PLAIN_PORT KESTREL_TLS_GARBAGE_PORT
  KESTREL_TLS_HSCLOSE_PORT KESTREL_TLS_HOSTILE_PORT KESTREL_PROXY_NOCONNECT_PORT KESTREL_PROXY_AUTH_PORT
  KESTREL_TLS_RECUT_PORT KESTREL_TLS_NAMECONSTRAINED_PORT KESTREL_TLS_NOTCA_PORT KESTREL_TLS_PATHLEN_PORT
  KESTREL_TLS_CRITICAL_PORT KESTREL_TLS_AIA_PORT KESTREL_TLS_SELFSIGNED_PORT"

# The SHA-256 fingerprint of a certificate file's first certificate, as
# openssl prints it (capitals and colons).
servers_fingerprint() { openssl x509 -in "$1" -noout -fingerprint -sha256 2>/dev/null | sed 's/^.*=//'; }
SERVERS_FINGERPRINT_NAMES="KESTREL_TLS_SELFSIGNED_SHA256 KESTREL_TLS_UNTRUSTED_SHA256 KESTREL_TLS_EXPIRED_SHA256
  KESTREL_TLS_GOOD_SHA256"

servers_start() {
  local ok=0 name ports=() waits=() pki=$SERVERS_RUN/pki tls=1
  mkdir -p "$SERVERS_RUN"
  : > "$SERVERS_RUN/servers.env"
  read -r -a ports <<<"$(free_ports 22)"
  local i=0
  for name in $SERVERS_PORT_NAMES; do
    export "$name=${ports[$i]}"; i=$((i + 1))
  done
  if ! bash "$SERVERS_DIR/make-pki.sh" "$SERVERS_RUN" >"$SERVERS_RUN/pki.log" 2>&1 ||
    ! bash "$SERVERS_DIR/make-pki.sh" "$SERVERS_RUN" --aia "http://127.0.0.1:$KESTREL_TLS_SILENT_PORT/issuer.crt" \
      >>"$SERVERS_RUN/pki.log" 2>&1; then
    echo "test certificates could not be made (see $SERVERS_RUN/pki.log)" >&2; ok=1; tls=0
  fi
  export KESTREL_TLS_CA=$pki/ca.crt
  KESTREL_TLS_SELFSIGNED_SHA256=$(servers_fingerprint "$pki/selfsigned.crt")
  KESTREL_TLS_UNTRUSTED_SHA256=$(servers_fingerprint "$pki/untrusted.crt")
  KESTREL_TLS_EXPIRED_SHA256=$(servers_fingerprint "$pki/expired.crt")
  KESTREL_TLS_GOOD_SHA256=$(servers_fingerprint "$pki/localhost.crt")
  export KESTREL_TLS_SELFSIGNED_SHA256 KESTREL_TLS_UNTRUSTED_SHA256 KESTREL_TLS_EXPIRED_SHA256 KESTREL_TLS_GOOD_SHA256
  local tls_ports="$KESTREL_TLS_PORT $KESTREL_TLS_EXPIRED_PORT $KESTREL_TLS_WRONGNAME_PORT
    $KESTREL_TLS_UNTRUSTED_PORT $KESTREL_TLS_SCENARIO_PORT $KESTREL_TLS_SILENT_PORT $KESTREL_TLS_PLAIN_PORT
    $KESTREL_TLS_GARBAGE_PORT $KESTREL_TLS_HSCLOSE_PORT $KESTREL_TLS_HOSTILE_PORT"
  if [ -f "$SERVERS_DIR/scenario_server.py" ]; then
    python3 "$SERVERS_DIR/scenario_server.py" --port "$KESTREL_SCENARIO_PORT" \
      --scenarios "$SERVERS_DIR/scenarios" \
      ${KESTREL_CORPUS_DIR:+--corpus "$KESTREL_CORPUS_DIR"} >"$SERVERS_RUN/scenario.log" 2>&1 &
    SERVERS_PIDS+=($!); waits+=("$KESTREL_SCENARIO_PORT")
  fi
  if [ $tls = 1 ] && [ -f "$SERVERS_DIR/tls_server.py" ]; then
    python3 "$SERVERS_DIR/tls_server.py" --pki "$pki" --scenarios "$SERVERS_DIR/scenarios" \
      ${KESTREL_CORPUS_DIR:+--corpus "$KESTREL_CORPUS_DIR"} \
      --scenario-port "$KESTREL_TLS_SCENARIO_PORT" --silent-port "$KESTREL_TLS_SILENT_PORT" \
      --plain-port "$KESTREL_TLS_PLAIN_PORT" --garbage-port "$KESTREL_TLS_GARBAGE_PORT" \
      --hsclose-port "$KESTREL_TLS_HSCLOSE_PORT" --hostile-port "$KESTREL_TLS_HOSTILE_PORT" \
      --proxy-auth-port "$KESTREL_PROXY_AUTH_PORT" --recut-port "$KESTREL_TLS_RECUT_PORT" \
      --chain-port "nameconstrained=$KESTREL_TLS_NAMECONSTRAINED_PORT" --chain-port "notca=$KESTREL_TLS_NOTCA_PORT" \
      --chain-port "pathlen=$KESTREL_TLS_PATHLEN_PORT" --chain-port "critical=$KESTREL_TLS_CRITICAL_PORT" \
      --chain-port "aia=$KESTREL_TLS_AIA_PORT" --chain-port "selfsigned=$KESTREL_TLS_SELFSIGNED_PORT" \
      >"$SERVERS_RUN/tls.log" 2>&1 &
    SERVERS_PIDS+=($!)
    # The proxy port is bound last; a probe of the hostile port would use up a connection.
    waits+=("$KESTREL_PROXY_AUTH_PORT")
  fi
  if [ -f "$SERVERS_DIR/nginx.conf.in" ] && command -v nginx >/dev/null; then
    local site=$SERVERS_RUN/site
    if [ -x "$SERVERS_DIR/make-site.sh" ]; then bash "$SERVERS_DIR/make-site.sh" "$site"; fi
    servers_nginx_conf "$site" "$SERVERS_RUN/nginx" "$pki"
    nginx -p "$SERVERS_RUN/nginx" -c "$SERVERS_RUN/nginx/nginx.conf" -g 'daemon off;' \
      >"$SERVERS_RUN/nginx.log" 2>&1 &
    SERVERS_PIDS+=($!); waits+=("$KESTREL_NGINX_PORT" "$KESTREL_TLS_PORT")
  fi
  if [ -f "$SERVERS_DIR/tinyproxy.conf.in" ] && command -v tinyproxy >/dev/null; then
    # shellcheck disable=SC2086
    tinyproxy_start tinyproxy "$KESTREL_PROXY_PORT" $tls_ports
    # Only the usual https port: CONNECT to any test port is refused.
    tinyproxy_start tinyproxy-noconnect "$KESTREL_PROXY_NOCONNECT_PORT" 443
    waits+=("$KESTREL_PROXY_PORT" "$KESTREL_PROXY_NOCONNECT_PORT")
  fi
  wait_port "${waits[@]}" || { echo "a test server did not start (see $SERVERS_RUN/*.log)" >&2; ok=1; }
  for name in $SERVERS_PORT_NAMES KESTREL_TLS_CA $SERVERS_FINGERPRINT_NAMES; do
    echo "export $name=${!name}" >> "$SERVERS_RUN/servers.env"
  done
  return $ok
}

servers_stop() {
  local pid
  for pid in "${SERVERS_PIDS[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${SERVERS_PIDS[@]}"; do
    timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null
  done
  SERVERS_PIDS=()
}
