#!/usr/bin/env bash
# TCP receive benchmark under Wine: 1,000 line reads and a 32 MiB block read
# over loopback from the scenario server. Builds its own tree
# (build/bench-tcp-<arch>) and prints the RESULT lines of bench_tcp.exe.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
if [ "$KESTREL_WINE_ARCH" = win64 ]; then TOOLCHAIN=cmake/toolchain-mingw-x86_64.cmake
else TOOLCHAIN=cmake/toolchain-mingw-i686.cmake; fi
TREE=build/bench-tcp-$KESTREL_WINE_ARCH
cmake -S bench/tcp -B "$TREE" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/$TOOLCHAIN" >/dev/null
cmake --build "$TREE" --target bench_tcp -j2 -- -s >/dev/null
kestrel_wine_prefix
source tests/servers/servers.sh
servers_start
trap servers_stop EXIT
KESTREL_WINE_TIMEOUT=600 scripts/wine-run.sh "$TREE/bench_tcp.exe" "$KESTREL_SCENARIO_PORT" "${ROUNDS:-5}"
