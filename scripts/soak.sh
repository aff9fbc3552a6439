#!/usr/bin/env bash
# The long soak: many requests on one object, then many objects created and
# released, for KESTREL_SOAK_SECONDS (600 by default), against the loopback
# test servers. Prints what the process held before and after each phase.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
kestrel_wine_prefix
export SERVERS_RUN=$ROOT/build/soak-servers
source tests/servers/servers.sh
servers_start >/dev/null || { echo "soak: servers failed to start" >&2; exit 1; }
trap servers_stop EXIT
export KESTREL_SOAK_SECONDS=${KESTREL_SOAK_SECONDS:-600}
# Bounded: the soak's own time, plus room for its minimum counts, which
# alone took 11 minutes under Wine on a machine of two slow processors.
(cd "$KESTREL_TEST_TREE/tests" && KESTREL_WINE_TIMEOUT=$((KESTREL_SOAK_SECONDS * 3 + 1500)) \
  "$ROOT/scripts/wine-run.sh" ./test_soak.exe)
