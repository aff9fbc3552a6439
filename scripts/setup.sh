#!/usr/bin/env bash
# Installs what the build and the tests need, only when something is missing.
# Quiet when everything is already there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# libgnutls30 is Schannel's engine under Wine (only a Recommends of wine, so
# named here: --no-install-recommends skips it); libwine-dev brings the IDL
# headers, the same in every architecture's package; openssl and curl make
# and check the TLS test servers' certificates; zlib decodes compressed
# bodies (the system's natively, Debian's static mingw-w64 build in the DLLs);
# publicsuffix is the list of public suffixes the cookie store builds in.
for p in cmake make g++ clang python3 g++-mingw-w64-i686 mingw-w64-tools zlib1g-dev libz-mingw-w64-dev \
         wine wine32:i386 libwine-dev libgnutls30:i386 wine64 libgnutls30 g++-mingw-w64-x86-64 \
         googletest nginx-light tinyproxy openssl curl libclang-rt-14-dev zip \
         publicsuffix; do
  have_pkg "$p" || need+=("$p")
done

# After the 32-bit packages could not be installed, setup does not try again
# for an hour when they are all that is missing: every make would wait on it.
STAMP=$(cd "$(dirname "$0")/.." && pwd)/build/.setup-no-i386
only_i386=1
for p in "${need[@]}"; do [[ $p == *:i386 ]] || only_i386=0; done
if [ ${#need[@]} -gt 0 ] && [ $only_i386 = 1 ] && [ -n "$(find "$STAMP" -mmin -60 2>/dev/null)" ]; then
  exit 0
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails an index now and then: try again, and in
  # the end install from the indices that did arrive.
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && break
    echo "setup: package index update failed (attempt $attempt of 3)"
    [ "$attempt" -lt 3 ] && sleep $((attempt * 15))
  done
  if $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    rm -f "$STAMP"
    exit 0
  fi
  # A stale 32-bit index can leave the i386 packages uninstallable. Everything
  # else still goes in: the Windows tests then run under 64-bit Wine.
  native_only=()
  for p in "${need[@]}"; do [[ $p == *:i386 ]] || native_only+=("$p"); done
  [ ${#native_only[@]} -lt ${#need[@]} ] || exit 1
  if [ ${#native_only[@]} -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${native_only[@]}" >/dev/null || exit 1
  fi
  echo "setup: the 32-bit Wine packages could not be installed now; 64-bit Wine runs the Windows tests"
  mkdir -p "$(dirname "$STAMP")" && touch "$STAMP"
fi
