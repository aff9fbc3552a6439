# Sourced: the project's own Wine prefix, created on first use.
#
# The product is 32-bit and is tested under 32-bit Wine. Some kernels refuse to
# execute 32-bit Linux programs (32-bit Wine then cannot start at all); there the
# same sources are built for 64-bit Windows (build/win64) and the Windows tests
# run under 64-bit Wine instead. KESTREL_WINE_ARCH tells which (win32 or win64).
KESTREL_ROOT=${KESTREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

if [ -z "${KESTREL_WINE_ARCH:-}" ]; then
  if [ -x /usr/lib/wine/wineserver32 ] && /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
    KESTREL_WINE_ARCH=win32
  else
    KESTREL_WINE_ARCH=win64
  fi
fi
export KESTREL_WINE_ARCH
if [ "$KESTREL_WINE_ARCH" = win32 ]; then
  export WINEARCH=win32 KESTREL_WINE=/usr/lib/wine/wine
else
  export WINEARCH=win64 KESTREL_WINE=/usr/lib/wine/wine64
fi
export KESTREL_TEST_TREE=$KESTREL_ROOT/build/$KESTREL_WINE_ARCH
export WINEPREFIX=${WINEPREFIX:-$KESTREL_ROOT/build/wineprefix-$KESTREL_WINE_ARCH}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY

kwine() { "$KESTREL_WINE" "$@"; }

kestrel_wine_prefix() {
  [ -f "$WINEPREFIX/.kestrel-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  # A lock keeps two builds from creating the prefix at once.
  (
    flock 9
    [ -f "$WINEPREFIX/.kestrel-ready" ] && exit 0
    echo "wine: creating $KESTREL_WINE_ARCH prefix $WINEPREFIX" >&2
    timeout 300 "$KESTREL_WINE" wineboot -i >/dev/null 2>&1 || true
    # Null graphics driver: hidden windows, socket notices and timers need it.
    "$KESTREL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # A crash ends the process instead of waiting in the debugger.
    "$KESTREL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'cmd.exe /c rem %ld %ld' /f >/dev/null 2>&1
    "$KESTREL_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    timeout 60 wineserver -w || true
    [ -f "$WINEPREFIX/drive_c/windows/system32/cscript.exe" ] || { echo "wine: prefix creation failed" >&2; exit 1; }
    touch "$WINEPREFIX/.kestrel-ready"
  ) 9>"$(dirname "$WINEPREFIX")/.wineprefix-$KESTREL_WINE_ARCH.lock"
}
