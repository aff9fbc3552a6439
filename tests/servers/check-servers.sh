#!/usr/bin/env bash
# Pins the test servers of servers.sh before the tests use them. Natively with
# curl: nginx's TLS servers (good certificate and chain, the three that must be
# refused, redirects between the schemes, the private area), tls_server.py's
# routes, handshake faults, re-cut handshake and chains to refuse, one cycle
# of the hostile sequence, the proxies.
# Under Wine with the platform's WinHttpRequest: inside the namespace of
# scripts/tls-trust.sh the good certificate is accepted (32 MiB body, also
# through the proxy's tunnel) and each bad one refused for its own reason;
# with the system's bundle alone the good one is refused as untrusted.
# Needs the servers running (their variables exported) and SERVERS_RUN.
# Prints "PASS name" or "FAIL name: why" per check and "DONE" at the end.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/scripts/wine-env.sh"
SERVERS_RUN=${SERVERS_RUN:-$ROOT/build/servers}
site=$SERVERS_RUN/site
out=$SERVERS_RUN/check
rm -rf "$out"; mkdir -p "$out"
tls=https://localhost:${KESTREL_TLS_PORT:?}
scenario=https://localhost:${KESTREL_TLS_SCENARIO_PORT:?}

pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; }
# expect NAME WANTED GOT
expect() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "got [$3], expected [$2]"; fi; }

# get URL [CURL ARGS...]: the body to $out/body, prints "<curl exit> <HTTP code>".
get() {
  local url=$1 rc; shift
  curl -sS -m 10 --cacert "$KESTREL_TLS_CA" -o "$out/body" -w '%{http_code}' "$@" "$url" >"$out/code" 2>"$out/curl.err"
  rc=$?
  echo "$rc $(tr -d '\0' < "$out/code")"
}
# location URL: the Location line's value, as sent.
location() {
  curl -sS -m 10 --cacert "$KESTREL_TLS_CA" -D - -o /dev/null "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^[Ll]ocation: //p'
}

# --- nginx over TLS --------------------------------------------------------
expect "tls page" "0 200" "$(get "$tls/index.html")"
cmp -s "$out/body" "$site/index.html" || fail "tls page body" "differs from the site's index.html"
expect "tls 32 MiB" "0 200" "$(get "$tls/big32.bin")"
cmp -s "$out/body" "$site/big32.bin" && pass "tls 32 MiB bytes" || fail "tls 32 MiB bytes" "differs from big32.bin"
expect "expired refused" "60 000" "$(get "https://localhost:$KESTREL_TLS_EXPIRED_PORT/index.html")"
grep -q "expired" "$out/curl.err" || fail "expired reason" "$(cat "$out/curl.err")"
expect "wrong name refused" "60 000" "$(get "https://localhost:$KESTREL_TLS_WRONGNAME_PORT/index.html")"
expect "untrusted refused" "60 000" "$(get "https://localhost:$KESTREL_TLS_UNTRUSTED_PORT/index.html")"
expect "redirect to https" "https://localhost:$KESTREL_TLS_PORT/index.html" \
  "$(location "http://localhost:$KESTREL_NGINX_PORT/to-https.html")"
expect "redirect to http" "http://localhost:$KESTREL_NGINX_PORT/index.html" "$(location "$tls/to-http.html")"
expect "relative redirect over tls" "/index.html" "$(location "$tls/old-relative.html")"
expect "tls private without credentials" "0 401" "$(get "$tls/private/secret.txt")"
expect "tls private" "0 200" "$(get "$tls/private/secret.txt" -u 'kestrel:s3cret:pw')"

# --- tls_server.py -------------------------------------------------------------
digits=$(python3 -c 'print("0123456789" * 10000, end="")' | md5sum)
expect "tls scenario" "0 200" "$(get "$scenario/s/hello")"
expect "tls scenario body" "Hello from the scenario server." "$(tr -d '\r\n' < "$out/body")"
for route in "s/tls-body?drip=1000,0" "tls/small-records" "tls/key-update"; do
  expect "tls route $route" "0 200 $digits" "$(get "$scenario/$route") $(md5sum < "$out/body")"
done
expect "tls route renegotiate (TLS 1.2)" "0 200 $digits" "$(get "$scenario/tls/renegotiate" --tls-max 1.2) $(md5sum < "$out/body")"
expect "tls route reset-mid-record" "56" "$(get "$scenario/tls/reset-mid-record" | cut -d' ' -f1)"
# Handshake records re-cut to 40 bytes; chains curl refuses as Kestrel must.
expect "tls handshake in 40-byte records" "0 200 $digits" \
  "$(get "https://localhost:$KESTREL_TLS_RECUT_PORT/s/tls-body" --tls-max 1.2) $(md5sum < "$out/body")"
for chain in NAMECONSTRAINED NOTCA PATHLEN CRITICAL AIA; do
  v=KESTREL_TLS_${chain}_PORT
  expect "chain $chain refused" "60 000" "$(get "https://localhost:${!v}/s/hello")"
done
expect "redirect route" "https://localhost:$KESTREL_TLS_SCENARIO_PORT/echo/x?a=1" \
  "$(location "http://127.0.0.1:$KESTREL_SCENARIO_PORT/redirect/https/localhost/$KESTREL_TLS_SCENARIO_PORT/echo/x?a=1")"
expect "silent handshake" "28" "$(get "https://localhost:$KESTREL_TLS_SILENT_PORT/" -m 1 | cut -d' ' -f1)"
for port in PLAIN GARBAGE HSCLOSE; do
  v=KESTREL_TLS_${port}_PORT
  expect "handshake fault $port" "35" "$(get "https://localhost:${!v}/" | cut -d' ' -f1)"
done
# One whole cycle, so that the next user of the port starts at the sequence's start.
# Kinds 6 and 7 (cut inside a record) are left out: curl takes a cut
# until-close body for a whole one.
results=""
for i in $(seq 0 9); do
  outcome=$(get "https://localhost:$KESTREL_TLS_HOSTILE_PORT/" -m 8)
  if [ "$i" = 6 ] || [ "$i" = 7 ]; then results+="-|"
  elif [ "$outcome" != "0 200" ]; then results+="x|"
  elif grep -qE '^valid hostile reply [0-9]*9$' "$out/body"; then results+="valid|"
  else results+="other body|"; fi
done
expect "hostile cycle (only the last succeeds)" "x|x|x|x|x|x|-|-|x|valid|" "$results"

# --- proxies -------------------------------------------------------------------
expect "CONNECT through tinyproxy" "0 200" "$(get "$tls/index.html" -p -x "127.0.0.1:$KESTREL_PROXY_PORT")"
get "$tls/index.html" -p -x "127.0.0.1:$KESTREL_PROXY_NOCONNECT_PORT" >/dev/null
grep -q "response 403" "$out/curl.err" && pass "CONNECT refused" || fail "CONNECT refused" "$(cat "$out/curl.err")"
get "$tls/index.html" -p -x "127.0.0.1:$KESTREL_PROXY_AUTH_PORT" >/dev/null
grep -q "response 407" "$out/curl.err" && pass "proxy wants credentials" || fail "proxy wants credentials" "$(cat "$out/curl.err")"
expect "CONNECT with credentials" "0 200" \
  "$(get "$tls/index.html" -p -x "127.0.0.1:$KESTREL_PROXY_AUTH_PORT" -U 'kestrel:s3cret:pw')"

# --- WinHttpRequest under Wine -------------------------------------------------
CSCRIPT="$WINEPREFIX/drive_c/windows/system32/cscript.exe"
# winhttp LOG ITEM...: runs winhttp-check.js with Wine's certificate warnings.
winhttp() {
  local log=$1; shift
  (cd "$ROOT/tests/servers" && WINEDEBUG=warn+winhttp timeout -k 5 180 "$KESTREL_WINE" "$CSCRIPT" //nologo \
    winhttp-check.js "$@") 2>&1 | tr -d '\r' | grep -E '^(BEGIN|RESULT|DONE)|cert verify failed' >"$log"
}
# outcome LOG NAME: the result and the certificate complaint of one request.
outcome() {
  awk -v name="$2" '$1 == "BEGIN" { on = ($2 == name) } on && /cert verify failed/ { why = " " $NF }
    $1 == "RESULT" && $2 == name { r = $0; sub(/^RESULT [^ ]+ /, "", r) } END { print r why }' "$1"
}
if [ "${KESTREL_TLS_TRUSTED:-}" != 1 ]; then
  echo "(WinHttpRequest checks left out: the test CA is not trusted here)"
elif [ ! -f "$CSCRIPT" ]; then
  fail "winhttp" "no cscript in $WINEPREFIX"
else
  winhttp "$out/winhttp.log" "good|$tls/big32.bin" "expired|https://localhost:$KESTREL_TLS_EXPIRED_PORT/" \
    "wrongname|https://localhost:$KESTREL_TLS_WRONGNAME_PORT/" "untrusted|https://localhost:$KESTREL_TLS_UNTRUSTED_PORT/" \
    "tunnel|$tls/index.html|127.0.0.1:$KESTREL_PROXY_PORT" "scenario|$scenario/s/hello"
  expect "winhttp 32 MiB over tls" "STATUS 200 LENGTH 33554432" "$(outcome "$out/winhttp.log" good)"
  # 12037 date invalid, 12038 name invalid, 12045 unknown issuer; Wine then fails the
  # request with 12157 (secure channel error).
  expect "winhttp refuses expired" "ERROR 12157 12037" "$(outcome "$out/winhttp.log" expired)"
  expect "winhttp refuses wrong name" "ERROR 12157 12038" "$(outcome "$out/winhttp.log" wrongname)"
  expect "winhttp refuses untrusted" "ERROR 12157 12045" "$(outcome "$out/winhttp.log" untrusted)"
  expect "winhttp through CONNECT" "STATUS 200 LENGTH $(stat -c %s "$site/index.html")" \
    "$(outcome "$out/winhttp.log" tunnel)"
  expect "winhttp tls scenario" "STATUS 200 LENGTH 33" "$(outcome "$out/winhttp.log" scenario)"
  # The system's bundle alone: the mount undone in a namespace of its own.
  export -f winhttp
  export ROOT CSCRIPT tls
  unshare -m --propagation private -- bash -c 'umount /etc/ssl/certs/ca-certificates.crt &&
    winhttp "$1" "good|$tls/index.html"' - "$out/untrusted.log"
  expect "winhttp without the test CA" "ERROR 12157 12045" "$(outcome "$out/untrusted.log" good)"
fi
echo DONE
