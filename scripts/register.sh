#!/usr/bin/env bash
# Registers Kestrel.dll (of the tree the Windows tests run) in the project's Wine prefix.
# Usage: register.sh [/u]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
kestrel_wine_prefix
dll=$("$KESTREL_WINE" winepath -w "$KESTREL_TEST_TREE/Kestrel.dll" 2>/dev/null)
timeout -k 5 120 "$KESTREL_WINE" regsvr32 /s ${1:-} "$dll"
