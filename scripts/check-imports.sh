#!/usr/bin/env bash
# Checks that a built DLL (32- or 64-bit) imports only DLLs that every Windows
# system has, so that copying Kestrel.dll alone is a complete installation: no
# mingw runtime (libgcc_s, libstdc++, libwinpthread) or other DLL beside it.
# The socket library must not be among them either: it is loaded at run time,
# so that a missing or broken one shows as an error text, not as a DLL that
# fails to load.
# Usage: check-imports.sh DLL   (prints the imports; exit 1 on a foreign one)
set -euo pipefail
dll=${1:?usage: check-imports.sh DLL}

# Lower case. msvcrt.dll is the system's own C runtime, present on every
# Windows since 2000; the api-ms-win-* names are the system's API sets.
system='^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt|shell32|gdi32|api-ms-win-[a-z0-9-]+)\.dll$'
sockets='^(ws2_32|wsock32)\.dll$'

# The 64-bit objdump reads both widths; the 32-bit one only its own.
imports=""
for objdump in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump; do
  command -v "$objdump" >/dev/null || continue
  imports=$("$objdump" -p "$dll" 2>/dev/null | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r') || true
  [ -n "$imports" ] && break
done
if [ -z "$imports" ]; then
  echo "check-imports: no import table read from $dll" >&2
  exit 1
fi
lower=$(tr 'A-Z' 'a-z' <<<"$imports")
foreign=$(grep -Ev "$system" <<<"$lower" | grep -Ev "$sockets" || true)
linked_sockets=$(grep -E "$sockets" <<<"$lower" || true)
echo "$dll imports: $(tr '\n' ' ' <<<"$imports")"
if [ -n "$foreign" ]; then
  echo "check-imports: $dll imports DLLs that are not part of Windows: $(tr '\n' ' ' <<<"$foreign")" >&2
  exit 1
fi
if [ -n "$linked_sockets" ]; then
  echo "check-imports: $dll links the socket library at load time: $(tr '\n' ' ' <<<"$linked_sockets")" >&2
  exit 1
fi
