#!/usr/bin/env bash
# Builds the release package: build/dist/Kestrel-VERSION.zip holding the
# 32-bit DLL as x86/Kestrel.dll and the 64-bit one as x64/Kestrel.dll, the
# README, docs and examples (text files with Windows line ends), and beside it
# the zip's SHA-256 in the form sha256sum -c reads.
# Refuses a DLL that needs anything but system DLLs, or that is not what its
# folder says (machine, exports, type library, version).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

version=$(sed -n 's/.*VALUE "FileVersion", "\([0-9.]*\)".*/\1/p' src/automation/Kestrel.rc)
name=Kestrel-${version:?no FileVersion in Kestrel.rc}
stage=build/dist/$name
rm -rf build/dist; mkdir -p "$stage"

for pair in x86:win32 x64:win64; do
  arch=${pair%%:*} tree=build/${pair#*:}
  dll=$tree/Kestrel.dll
  [ -f "$dll" ] || { echo "dist: $dll is missing; build it first (make ${pair#*:})" >&2; exit 1; }
  bash scripts/check-imports.sh "$dll"
  python3 scripts/inspect-dll.py "$arch" "$dll" "$tree/src/automation/generated/Kestrel.tlb" src/automation/Kestrel.rc
  mkdir -p "$stage/$arch"
  cp "$dll" "$stage/$arch/"
done
cp -r docs examples "$stage/"
cp README.md "$stage/"
# Notepad and the script hosts of every Windows version read CR LF.
find "$stage" -type f \( -name '*.md' -o -name '*.vbs' -o -name '*.js' \) -exec sed -i 's/\r\?$/\r/' {} +

(cd build/dist && zip -qrX "$name.zip" "$name" && sha256sum "$name.zip" > "$name.zip.sha256" && rm -rf "$name")
echo "dist: $ROOT/build/dist/$name.zip"
cat "build/dist/$name.zip.sha256"
