#!/usr/bin/env bash
# Runs one Windows executable under the project's Wine prefix, bounded in time.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]   (KESTREL_WINE_TIMEOUT seconds, default 300)
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
kestrel_wine_prefix || exit 1
exec timeout -k 5 "${KESTREL_WINE_TIMEOUT:-300}" "$KESTREL_WINE" "$@"
