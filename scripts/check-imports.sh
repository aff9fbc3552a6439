#!/usr/bin/env bash
# Checks that a built DLL imports only DLLs that every Windows system has, so
# that copying Kestrel.dll alone is a complete installation: no mingw runtime
# (libgcc_s, libstdc++, libwinpthread) or other DLL beside it.
# Usage: check-imports.sh DLL   (prints the imports; exit 1 on a foreign one)
set -euo pipefail
dll=${1:?usage: check-imports.sh DLL}
objdump=i686-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=x86_64-w64-mingw32-objdump

# Lower case. msvcrt.dll is the system's own C runtime, present on every
# Windows since 2000; the api-ms-win-* names are the system's API sets.
system='^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt|ws2_32|wsock32|shell32|gdi32|api-ms-win-[a-z0-9-]+)\.dll$'

imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
if [ -z "$imports" ]; then
  echo "check-imports: no import table read from $dll" >&2
  exit 1
fi
foreign=$(tr 'A-Z' 'a-z' <<<"$imports" | grep -Ev "$system" || true)
echo "$(basename "$dll") imports: $(tr '\n' ' ' <<<"$imports")"
if [ -n "$foreign" ]; then
  echo "check-imports: $(basename "$dll") imports DLLs that are not part of Windows: $(tr '\n' ' ' <<<"$foreign")" >&2
  exit 1
fi
