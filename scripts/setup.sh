#!/usr/bin/env bash
# Installs what the build and the tests need, only when something is missing.
# Quiet when everything is already there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# libgnutls30 is Schannel's engine under Wine (only a Recommends of wine, so
# named here: --no-install-recommends skips it); openssl and curl make and
# check the TLS test servers' certificates.
for p in cmake make g++ clang python3 g++-mingw-w64-i686 mingw-w64-tools \
         wine wine32:i386 libwine-dev:i386 libgnutls30:i386 wine64 libgnutls30 g++-mingw-w64-x86-64 \
         googletest nginx-light tinyproxy openssl curl libclang-rt-14-dev zip; do
  have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
