#!/usr/bin/env bash
# Registers Kestrel.dll in the project's Wine prefix and runs demo/demo.vbs
# under cscript, bounded in time.
# Usage: demo.sh [URL]   (make demo URL=http://...)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
kestrel_wine_prefix
if [ ! -f "$KESTREL_TEST_TREE/Kestrel.dll" ]; then
  echo "demo: $KESTREL_TEST_TREE/Kestrel.dll is missing; build it first (make testtree)" >&2
  exit 1
fi
bash "$ROOT/scripts/register.sh"
cd "$ROOT/demo"
args=()
[ -n "${1:-}" ] && args+=("$1")
timeout -k 5 180 "$KESTREL_WINE" "$WINEPREFIX/drive_c/windows/system32/cscript.exe" //nologo demo.vbs "${args[@]}"
