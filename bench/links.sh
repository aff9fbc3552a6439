#!/usr/bin/env bash
# Link-extraction throughput, Kestrel's ExtractLinks beside a reference
# extractor (Python's html.parser collecting anchors) on the same pages:
#   links5m.html  a real-looking 5 MB page with 50,000 anchors;
#   script5m.html a 5 MB script full of "<" with no ">" (must stay linear);
#   longline.html 1.5 MB on one line, script "<" runs then 20,000 anchors.
# Builds its own optimised tree without sanitizers ($KESTREL_BENCH_BUILD,
# default build/bench-native). Rounds: $ROUNDS (best of), default 5. Times
# are processor seconds of the extraction alone, on both sides.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD=${KESTREL_BENCH_BUILD:-build/bench-native}
ROUNDS=${ROUNDS:-5}
PAGES=$BUILD/link-pages

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
fi
cmake --build "$BUILD" --target bench_links -j2 -- --no-print-directory -s >/dev/null
python3 bench/make_link_pages.py "$PAGES"

OUT=$BUILD/links-results.txt
: >"$OUT"
for page in links5m.html script5m.html longline.html; do
  timeout -k 5 600 "$BUILD/bench/bench_links" "$ROUNDS" "$PAGES/$page" >>"$OUT"
  timeout -k 5 600 python3 bench/links_reference.py "$(( ROUNDS < 3 ? ROUNDS : 3 ))" "$PAGES/$page" >>"$OUT"
done

python3 - "$OUT" <<'PY'
import os, sys
rows = {}
for line in open(sys.argv[1]):
    f = line.split()
    if len(f) == 5 and f[0] == "RESULT":
        rows.setdefault(f[2], {})[f[1]] = (float(f[3]), int(f[4]))
print("%-14s %7s | %9s %9s %7s | %9s %9s %7s | %s" % (
    "page", "MB", "kestrel s", "MB/s", "links", "python s", "MB/s", "links", "ratio"))
for page, r in rows.items():
    mb = os.path.getsize(page) / 1048576
    k, p = r.get("kestrel"), r.get("reference")
    if not k or not p:
        continue
    km, pm = mb / k[0], mb / p[0]
    print("%-14s %7.2f | %9.4f %9.1f %7d | %9.4f %9.1f %7d | %.2fx" % (
        os.path.basename(page), mb, k[0], km, k[1], p[0], pm, p[1], km / pm))
print("ratio = Kestrel throughput / html.parser throughput; target: >= 20 MB/s on links5m.html")
PY
