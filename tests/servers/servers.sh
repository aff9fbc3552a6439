# Sourced: starts the loopback test servers on free ports and stops them by
# their own process ids. Exports for the tests:
#   KESTREL_SCENARIO_PORT  scenario server (exact raw replies and faults)
#   KESTREL_NGINX_PORT     nginx over the generated static site
#   KESTREL_PROXY_PORT     tinyproxy, forwarding to loopback only
SERVERS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SERVERS_ROOT=$(cd "$SERVERS_DIR/../.." && pwd)
SERVERS_RUN=${SERVERS_RUN:-$SERVERS_ROOT/build/servers}
SERVERS_PIDS=()

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# wait_port PORT: bounded wait until something listens on 127.0.0.1:PORT.
wait_port() {
  python3 - "$1" <<'PY'
import socket, sys, time
deadline = time.time() + 15
while time.time() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PY
}

# The response corpus lies in shared/ beside the checkout.
if [ -z "${KESTREL_CORPUS_DIR:-}" ]; then
  for c in "$SERVERS_ROOT/../shared/corpus/http-responses" /work/shared/corpus/http-responses; do
    [ -d "$c" ] && { KESTREL_CORPUS_DIR=$(cd "$c" && pwd); break; }
  done
fi
export KESTREL_CORPUS_DIR

servers_start() {
  local ok=0
  mkdir -p "$SERVERS_RUN"
  : > "$SERVERS_RUN/servers.env"
  if [ -f "$SERVERS_DIR/scenario_server.py" ]; then
    KESTREL_SCENARIO_PORT=$(free_port); export KESTREL_SCENARIO_PORT
    python3 "$SERVERS_DIR/scenario_server.py" --port "$KESTREL_SCENARIO_PORT" \
      --scenarios "$SERVERS_DIR/scenarios" \
      ${KESTREL_CORPUS_DIR:+--corpus "$KESTREL_CORPUS_DIR"} >"$SERVERS_RUN/scenario.log" 2>&1 &
    SERVERS_PIDS+=($!)
    wait_port "$KESTREL_SCENARIO_PORT" || { echo "scenario server did not start" >&2; ok=1; }
    echo "export KESTREL_SCENARIO_PORT=$KESTREL_SCENARIO_PORT" >> "$SERVERS_RUN/servers.env"
  fi
  if [ -f "$SERVERS_DIR/nginx.conf.in" ] && command -v nginx >/dev/null; then
    KESTREL_NGINX_PORT=$(free_port); export KESTREL_NGINX_PORT
    local site=$SERVERS_RUN/site
    if [ -x "$SERVERS_DIR/make-site.sh" ]; then bash "$SERVERS_DIR/make-site.sh" "$site"; fi
    mkdir -p "$SERVERS_RUN/nginx"
    sed -e "s|@PORT@|$KESTREL_NGINX_PORT|g" -e "s|@SITE@|$site|g" -e "s|@RUN@|$SERVERS_RUN/nginx|g" \
      -e "s|@CONF@|$SERVERS_DIR|g" "$SERVERS_DIR/nginx.conf.in" > "$SERVERS_RUN/nginx/nginx.conf"
    nginx -p "$SERVERS_RUN/nginx" -c "$SERVERS_RUN/nginx/nginx.conf" -g 'daemon off;' \
      >"$SERVERS_RUN/nginx.log" 2>&1 &
    SERVERS_PIDS+=($!)
    wait_port "$KESTREL_NGINX_PORT" || { echo "nginx did not start" >&2; ok=1; }
    echo "export KESTREL_NGINX_PORT=$KESTREL_NGINX_PORT" >> "$SERVERS_RUN/servers.env"
  fi
  if [ -f "$SERVERS_DIR/tinyproxy.conf.in" ] && command -v tinyproxy >/dev/null; then
    KESTREL_PROXY_PORT=$(free_port); export KESTREL_PROXY_PORT
    sed -e "s|@PORT@|$KESTREL_PROXY_PORT|g" -e "s|@RUN@|$SERVERS_RUN|g" \
      -e "s|@CONF@|$SERVERS_DIR|g" "$SERVERS_DIR/tinyproxy.conf.in" > "$SERVERS_RUN/tinyproxy.conf"
    tinyproxy -d -c "$SERVERS_RUN/tinyproxy.conf" >"$SERVERS_RUN/tinyproxy.log" 2>&1 &
    SERVERS_PIDS+=($!)
    wait_port "$KESTREL_PROXY_PORT" || { echo "tinyproxy did not start" >&2; ok=1; }
    echo "export KESTREL_PROXY_PORT=$KESTREL_PROXY_PORT" >> "$SERVERS_RUN/servers.env"
  fi
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
