#!/usr/bin/env bash
# make bench: Kestrel side by side with the platform's own HTTP objects
# (WinHttp.WinHttpRequest.5.1, MSXML2.ServerXMLHTTP.6.0) in one Wine prefix,
# against nginx on loopback. Rounds alternate between the engines; the table
# shows medians and the ratios Kestrel/peer. Results are printed, not stored.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
# Inside a private mount namespace where Wine trusts the test CA, for the
# https rows (scripts/tls-trust.sh); the certificates live outside build/bench-run.
TLS_RUN=$ROOT/build/bench-tls
source scripts/tls-trust.sh
[ -n "${KESTREL_TLS_TRUSTED:-}${KESTREL_TLS_TRUST_PROBLEM:-}" ] || tls_trust_exec "$TLS_RUN" bash "$ROOT/bench/run.sh" "$@"
kestrel_wine_prefix
ROUNDS=${ROUNDS:-5}
# SCENARIOS="1 2" runs only those scenarios.
SCENARIOS=${SCENARIOS:-1 2 3 4 5}
want() { [[ " $SCENARIOS " == *" $1 "* ]]; }
RUN=$ROOT/build/bench-run
rm -rf "$RUN"; mkdir -p "$RUN/site" "$RUN/nginx"
CSCRIPT="$WINEPREFIX/drive_c/windows/system32/cscript.exe"
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT

echo "== generating pages"
python3 - "$RUN/site" <<'PY'
import sys, os, random
site = sys.argv[1]
random.seed(7)
with open(os.path.join(site, "1k.html"), "w") as f:
    body = "<html><body>" + "x" * 990 + "</body></html>\n"
    f.write(body[:1024])
words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor".split()
with open(os.path.join(site, "big32.txt"), "w", newline="\n") as f:
    size, target = 0, 32 * 1024 * 1024
    while size < target:
        line = " ".join(random.choice(words) for _ in range(12)) + "\n"
        f.write(line); size += len(line)
parts, size, i = ["<html><head><title>links</title></head><body>\n"], 0, 0
while i < 50000:
    parts.append('<p class="item">Item %d <a href="/page/%d.html" title="t%d">Link <b>%d</b> &amp; more</a> text</p>\n' % (i, i, i, i))
    i += 1
page = "".join(parts)
pad = 5 * 1024 * 1024 - len(page) - 20
if pad > 0:
    page += "<!-- " + "-" * (pad - 10) + " -->\n"
page += "</body></html>\n"
with open(os.path.join(site, "links5m.html"), "w") as f:
    f.write(page)
PY
: > "$RUN/site/redirects.conf"

# nginx as for the tests (its TLS servers included), without access logs.
source tests/servers/servers.sh
bash tests/servers/make-pki.sh "$TLS_RUN" || echo "bench: no test certificates; nginx will not start"
read -r KESTREL_NGINX_PORT KESTREL_TLS_PORT KESTREL_TLS_EXPIRED_PORT KESTREL_TLS_WRONGNAME_PORT \
  KESTREL_TLS_UNTRUSTED_PORT LATE_PORT <<<"$(free_ports 6)"
NGINX_PORT=$KESTREL_NGINX_PORT
servers_nginx_conf "$RUN/site" "$RUN/nginx" "$TLS_RUN/pki"
sed -i 's|access_log .*;|access_log off;|' "$RUN/nginx/nginx.conf"
nginx -p "$RUN/nginx" -c "$RUN/nginx/nginx.conf" -g 'daemon off;' >"$RUN/nginx.log" 2>&1 &
PIDS+=($!)
# A server that answers each request after 5 seconds; it ends by itself.
python3 - "$LATE_PORT" >"$RUN/late.log" 2>&1 <<'PY' &
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(8); s.settimeout(600)
for _ in range(10):
    try:
        c, _ = s.accept()
    except OSError:
        break
    c.settimeout(10)
    try:
        c.recv(65536)
        time.sleep(5)
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nlate")
    except OSError:
        pass
    c.close()
PY
PIDS+=($!)
sleep 1
BASE=http://127.0.0.1:$NGINX_PORT
TLS_BASE=https://localhost:$KESTREL_TLS_PORT
bash scripts/register.sh || { echo "registration failed"; exit 1; }

run_js() { (cd bench/scripts && timeout -k 5 1800 "$KESTREL_WINE" "$CSCRIPT" //nologo "$@") 2>&1 | tr -d '\r'; }

if want 1; then
echo "== 1. 500 requests of a 1 KB page"
run_js compare.js text "$BASE/1k.html" "$ROUNDS" 500 | tee "$RUN/s1.txt" | grep -v '^RESULT' || true
# The floor: the same exchanges by plain blocking socket calls, no script engine.
for i in 1 2 3; do
  timeout -k 5 120 "$KESTREL_WINE" "$KESTREL_TEST_TREE/bench/benchhost.exe" raw - 127.0.0.1 "$NGINX_PORT" /1k.html 500 | tr -d '\r'
  for engine in Kestrel.Conn WinHttp.WinHttpRequest.5.1; do
    echo -n "$engine without a script engine: "
    timeout -k 5 120 "$KESTREL_WINE" "$KESTREL_TEST_TREE/bench/benchhost.exe" repeat "$engine" "$BASE/1k.html" 500 | tr -d '\r'
  done
done | tee "$RUN/s1raw.txt"
fi
if want 2; then
echo "== 2. one 32 MB text body"
run_js compare.js text "$BASE/big32.txt" "$ROUNDS" 1 | tee "$RUN/s2.txt" | grep -v '^RESULT' || true
run_js compare.js bytes "$BASE/big32.txt" "$ROUNDS" 1 | tee "$RUN/s2b.txt" | grep -v '^RESULT' || true
SAVE=$("$KESTREL_WINE" winepath -w "$RUN/saved.txt" 2>/dev/null)
run_js compare.js save "$BASE/big32.txt" "$ROUNDS" 1 "$SAVE" | tee "$RUN/s2s.txt" | grep -v '^RESULT' || true
fi
if want 3; then
echo "== 3. peak memory of the host process, 32 MB body as text"
HOST="$KESTREL_TEST_TREE/bench/benchhost.exe"
for engine in Kestrel.Conn WinHttp.WinHttpRequest.5.1; do
  echo -n "$engine: "; timeout -k 5 300 "$KESTREL_WINE" "$HOST" mem "$engine" "$BASE/big32.txt" | tr -d '\r'
done | tee "$RUN/s3.txt"
fi
if want 4; then
echo "== 4. GetHREFs on a 5 MB page with 50,000 anchors"
run_js links.js "$BASE/links5m.html" "$ROUNDS" | tee "$RUN/s4.txt" | grep -v '^RESULT' || true
python3 - "$RUN/site/links5m.html" "$ROUNDS" >> "$RUN/s4.txt" <<'PY'
import sys, time
from html.parser import HTMLParser
class Anchors(HTMLParser):
    def __init__(self):
        super().__init__(); self.links = []
    def handle_starttag(self, tag, attrs):
        if tag == "a":
            self.links.append(dict(attrs).get("href"))
data = open(sys.argv[1], encoding="latin-1").read()
for _ in range(int(sys.argv[2])):
    t0 = time.perf_counter(); p = Anchors(); p.feed(data); p.close()
    print("RESULT links python-html.parser %.4f %d" % (time.perf_counter() - t0, len(p.links)))
PY
fi
if want 5; then
echo "== 5. processor time while waiting 5 s for a late answer"
timeout -k 5 120 "$KESTREL_WINE" "$HOST" idle Kestrel.Conn "http://127.0.0.1:$LATE_PORT/late" | tr -d '\r' | tee "$RUN/s5.txt"
fi

echo
python3 - "$RUN" <<'PY'
import sys, os, statistics, re
run = sys.argv[1]
res = {}
for name in ["s1.txt", "s2.txt", "s2b.txt", "s2s.txt", "s4.txt"]:
    p = os.path.join(run, name)
    if not os.path.exists(p): continue
    for line in open(p):
        f = line.split()
        if len(f) >= 4 and f[0] == "RESULT":
            res.setdefault((f[1] if name != "s1.txt" else "requests", f[2]), []).append(float(f[3]))
def med(k): return statistics.median(res[k]) if k in res else None
size_mb = os.path.getsize(os.path.join(run, "site", "big32.txt")) / 1048576
links_mb = os.path.getsize(os.path.join(run, "site", "links5m.html")) / 1048576
rows = []
def row(label, k, unit, work):
    t = med(k)
    if t is None: return
    rows.append((label, t, work / t if t > 0 else float("inf"), unit))
row("1. 500 x 1 KB, Kestrel", ("requests", "kestrel"), "req/s", 500)
row("1. 500 x 1 KB, WinHttpRequest", ("requests", "winhttp"), "req/s", 500)
row("1. 500 x 1 KB, ServerXMLHTTP", ("requests", "serverxmlhttp"), "req/s", 500)
row("1. same, WinHttp with Connection: close", ("requests", "winhttp-close"), "req/s", 500)
row("2. 32 MB text, Kestrel GetURL", ("text", "kestrel"), "MB/s", size_mb)
row("2. 32 MB text, WinHttp ResponseText", ("text", "winhttp"), "MB/s", size_mb)
row("2. 32 MB text, ServerXMLHTTP responseText", ("text", "serverxmlhttp"), "MB/s", size_mb)
row("2. 32 MB bytes, Kestrel BinaryData", ("bytes", "kestrel"), "MB/s", size_mb)
row("2. 32 MB bytes, WinHttp ResponseBody", ("bytes", "winhttp"), "MB/s", size_mb)
row("2. 32 MB bytes, ServerXMLHTTP responseBody", ("bytes", "serverxmlhttp"), "MB/s", size_mb)
row("2. 32 MB saved, Kestrel SaveFileTo", ("save", "kestrel"), "MB/s", size_mb)
row("4. GetHREFs 5 MB page, Kestrel", ("links", "kestrel"), "MB/s", links_mb)
row("4. same page, python html.parser", ("links", "python-html.parser"), "MB/s", links_mb)
print("%-45s %10s %12s" % ("scenario (median of rounds)", "seconds", "rate"))
for label, t, rate, unit in rows:
    print("%-45s %10.3f %8.1f %s" % (label, t, rate, unit))
print()
for kind, label in [("requests", "1. requests"), ("text", "2. text"), ("bytes", "2. bytes")]:
    k = med((kind, "kestrel"))
    for peer in ["winhttp", "winhttp-close", "serverxmlhttp"]:
        p = med((kind, peer))
        if k and p:
            print("ratio %-12s Kestrel/%-14s throughput %.2fx" % (label, peer, p / k))
k, p = med(("links", "kestrel")), med(("links", "python-html.parser"))
if k and p: print("ratio 4. links   Kestrel/html.parser   throughput %.2fx" % (p / k))
for name in ["s3.txt", "s5.txt"]:
    p = os.path.join(run, name)
    if os.path.exists(p):
        print(open(p).read().strip())
PY
if [ "$SCENARIOS" = "1 2 3 4 5" ]; then
  for extra in bench/links.sh bench/tcp.sh; do
    [ -f "$extra" ] && { echo "== $extra"; bash "$extra"; }
  done
fi
exit 0
