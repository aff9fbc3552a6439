#!/usr/bin/env bash
# Registers Kestrel.dll in the project's Wine prefix and runs demo/demo.vbs
# under cscript, bounded in time: a report of one fetched page. Without a URL
# the demo fetches the index page of the local test site, served by nginx on
# 127.0.0.1 for the length of the demo (started through
# tests/servers/servers.sh, stopped by its PID).
# Usage: demo.sh [URL]   (make demo URL=http://...)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
kestrel_wine_prefix
if [ ! -f "$KESTREL_TEST_TREE/Kestrel.dll" ]; then
  echo "demo: $KESTREL_TEST_TREE/Kestrel.dll is missing; build it first (make dll-$KESTREL_WINE_ARCH)" >&2
  exit 1
fi
bash "$ROOT/scripts/register.sh"

url=${1:-}
if [ -z "$url" ]; then
  # A run directory of its own, so that a test run's servers are left alone.
  export SERVERS_RUN=$ROOT/build/demo-servers
  source "$ROOT/tests/servers/servers.sh"
  trap servers_stop EXIT
  servers_start >/dev/null || true
  if [ -z "${KESTREL_NGINX_PORT:-}" ]; then
    echo "demo: nginx did not start (see $SERVERS_RUN/nginx.log)" >&2
    exit 1
  fi
  url="http://127.0.0.1:$KESTREL_NGINX_PORT/index.html"
  echo "demo: nginx serves the local test site on 127.0.0.1:$KESTREL_NGINX_PORT for the length of the demo"
fi

cd "$ROOT/demo"
timeout -k 5 180 "$KESTREL_WINE" "$WINEPREFIX/drive_c/windows/system32/cscript.exe" //nologo demo.vbs "$url"
