#!/usr/bin/env bash
# The two DLLs that make dist ships, x86 (build/win32) and x64 (build/win64):
#   1. each one's imports (system DLLs only, no socket library at load time)
#      and the file read as such: machine, exports, type library, version;
#   2. registration with regsvr32 for each width that Wine can run here, in a
#      64-bit prefix of its own (build/wineprefix-sxs) where the two DLLs lie
#      side by side as an administrator installs them, C:\Kestrel\x86 and
#      C:\Kestrel\x64: each lands in its own registry view, both work at
#      once, and removing one leaves the other working.
# A width that cannot run here (32-bit Wine needs a kernel that executes
# 32-bit programs) is tested by step 1 alone.
# Prints "PASS ..." or "FAIL ...: why" per check and "DONE" at the end; every
# Wine run is bounded in time. Needs KESTREL_SCENARIO_PORT (tests/servers).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"

check() {
  local name=$1 actual=$2 expected=$3
  if [ "$actual" = "$expected" ]; then echo "PASS $name"; else echo "FAIL $name: got [$actual], expected [$expected]"; fi
}

for pair in x86:win32 x64:win64; do
  arch=${pair%%:*} tree=build/${pair#*:}
  dll=$tree/Kestrel.dll
  if [ ! -f "$dll" ]; then echo "FAIL $arch DLL: $dll is missing"; continue; fi
  if out=$(bash scripts/check-imports.sh "$dll" 2>&1); then echo "PASS $arch imports: ${out#*imports: }"
  else echo "FAIL $arch imports: $(tr '\n' ' ' <<<"$out")"; fi
  python3 scripts/inspect-dll.py "$arch" "$dll" "$tree/src/automation/generated/Kestrel.tlb" src/automation/Kestrel.rc
done

# Which widths run: the same test as scripts/wine-env.sh's.
runs() { [ -x "/usr/lib/wine/wineserver$1" ] && "/usr/lib/wine/wineserver$1" --version >/dev/null 2>&1; }
x64=no x86=no
runs 64 && [ -x /usr/lib/wine/wine64 ] && x64=yes
runs 32 && [ -x /usr/lib/wine/wine ] && x86=yes
echo "registration: x64 runs here: $x64; x86 runs here: $x86"
if [ $x64 = no ]; then
  # The x86 DLL's registration is then the Windows and script layers' own.
  echo DONE
  exit 0
fi

export KESTREL_WINE_ARCH=win64 WINEPREFIX=$ROOT/build/wineprefix-sxs
unset WINEARCH
source scripts/wine-env.sh
if ! kestrel_wine_prefix; then
  echo "FAIL registration: the prefix $WINEPREFIX could not be created"
  echo DONE
  exit 0
fi
W=$WINEPREFIX/drive_c/windows
mkdir -p "$WINEPREFIX/drive_c/Kestrel/x86" "$WINEPREFIX/drive_c/Kestrel/x64"
cp build/win32/Kestrel.dll "$WINEPREFIX/drive_c/Kestrel/x86/"
cp build/win64/Kestrel.dll "$WINEPREFIX/drive_c/Kestrel/x64/"
cp tests/package/conn.vbs "$WINEPREFIX/drive_c/Kestrel/"
url="http://127.0.0.1:${KESTREL_SCENARIO_PORT:-1}/s/hello"
fetched="created: HTTP/1.0 200 OK, 33 characters"
class='HKCR\CLSID\{F9EA2EB7-5262-11D2-A2E1-080009AB4447}'
typelib='HKCR\TypeLib\{F9EA2EB4-5262-11D2-A2E1-080009AB4447}\1.1\0'

# run 32|64 PROGRAM ARGS...: a program of that width from the prefix's own
# folder for it (SysWOW64 holds the 32-bit ones).
run() {
  local width=$1 program=$2; shift 2
  if [ "$width" = 64 ]; then timeout -k 5 120 /usr/lib/wine/wine64 "$W/system32/$program" "$@"
  else timeout -k 5 120 /usr/lib/wine/wine "$W/syswow64/$program" "$@"; fi
}
regsvr() { run "$1" regsvr32.exe /s "${@:3}" "C:\\Kestrel\\$2\\Kestrel.dll" >/dev/null 2>&1; echo $?; }
# The default value of a key as a process of that width reads it; empty when missing.
value() { run "$1" reg.exe query "$2" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'; }
# What conn.vbs prints in the script host of that width.
conn() { run "$1" cscript.exe //nologo 'C:\Kestrel\conn.vbs' "$url" 2>&1 | tr -d '\r' | grep -E '^(not )?created' | head -1; }
views() { echo "64-bit view: [$(value 64 "$class\\InprocServer32")], 32-bit view: [$(value 32 "$class\\InprocServer32")]"; }

# A run that ended half-way may have left registrations behind.
[ $x86 = yes ] && regsvr 32 x86 /u >/dev/null
regsvr 64 x64 /u >/dev/null

check "x64 registers with the 64-bit regsvr32" "$(regsvr 64 x64)" 0
check "x64 lands in the 64-bit view, type library under win64" \
  "$(value 64 "$class\\InprocServer32") $(value 64 "$typelib\\win64")" 'C:\Kestrel\x64\Kestrel.dll C:\Kestrel\x64\Kestrel.dll'
check "x64 works in the 64-bit script host" "$(conn 64)" "$fetched"

if [ $x86 = yes ]; then
  check "x86 registers beside it with SysWOW64's regsvr32" "$(regsvr 32 x86)" 0
  check "each width in its own registry view" "$(views)" \
    '64-bit view: [C:\Kestrel\x64\Kestrel.dll], 32-bit view: [C:\Kestrel\x86\Kestrel.dll]'
  check "one type library, both widths' keys" "$(value 64 "$typelib\\win32") $(value 64 "$typelib\\win64")" \
    'C:\Kestrel\x86\Kestrel.dll C:\Kestrel\x64\Kestrel.dll'
  check "both work side by side" "$(conn 32) / $(conn 64)" "$fetched / $fetched"

  # Removing one width leaves the other (and the ProgID both share) working.
  check "x86 unregisters" "$(regsvr 32 x86 /u)" 0
  check "x86 gone, x64 kept" "$(views) win32 [$(value 64 "$typelib\\win32")]" \
    '64-bit view: [C:\Kestrel\x64\Kestrel.dll], 32-bit view: [] win32 []'
  check "x64 still works without x86" "$(conn 32 | cut -c1-11) / $(conn 64)" "not created / $fetched"
  regsvr 32 x86 >/dev/null
  check "x64 unregisters" "$(regsvr 64 x64 /u)" 0
  check "x86 still works without x64" "$(conn 32) / $(conn 64 | cut -c1-11)" "$fetched / not created"
  check "x86 unregisters last" "$(regsvr 32 x86 /u)" 0
else
  check "x64 unregisters" "$(regsvr 64 x64 /u)" 0
fi
progid=$(run 64 reg.exe query 'HKCR\Kestrel.Conn' >/dev/null 2>&1 && echo present || echo gone)
check "nothing left once both are removed" "$(views) ProgID $progid, type library [$(value 64 "$typelib\\win64")]" \
  '64-bit view: [], 32-bit view: [] ProgID gone, type library []'
echo DONE
