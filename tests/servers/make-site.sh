#!/usr/bin/env bash
# Generates the static site that nginx serves to the real-server tests.
# Usage: make-site.sh SITE_DIR
#   index.html          a page with links (absolute, relative, with entities)
#   big.bin             4 MiB of deterministic bytes (every byte value occurs)
#   big32.bin           32 MiB of the same pattern (big.bin is its first 4 MiB)
#   private/            protected by basic auth; user "kestrel", password "s3cret:pw"
#   .htpasswd           the password file for private/ (apr1: salted MD5)
#   redirects.conf      301 redirects, included by nginx.conf
set -euo pipefail
site=${1:?usage: make-site.sh SITE_DIR}
mkdir -p "$site/private" "$site/dir.d"

cat > "$site/index.html" <<'HTML'
<html><head><title>Kestrel test site</title></head>
<body>
<h1>Kestrel test site</h1>
<ul>
<li><a href="/big.bin">Large file</a></li>
<li><a href="private/secret.txt">Protected &amp; private</a></li>
<li><a href="http://127.0.0.1/elsewhere.html">Absolute link</a></li>
</ul>
</body></html>
HTML

printf 'The secret is kestrel.\n' > "$site/private/secret.txt"
printf 'dir.d index\n' > "$site/dir.d/index.html"

# The large file: 4 MiB, byte i of each 256-byte block is (i + block) mod 256,
# so a shifted or dropped block shows up in a byte comparison.
python3 - "$site/big.bin" <<'PY'
import sys
blocks = 4 * 1024 * 1024 // 256
with open(sys.argv[1], "wb") as f:
    f.write(b"".join(bytes((i + b) % 256 for i in range(256)) for b in range(blocks)))
PY

# big32.bin continues the pattern: block b is the 256 bytes from b on of
# 0..255,0..255, so 256 blocks make a 64 KiB unit that repeats. Written once.
if [ "$(stat -c %s "$site/big32.bin" 2>/dev/null)" != 33554432 ]; then
  python3 - "$site/big32.bin" <<'PY'
import sys
twice = bytes(range(256)) * 2
unit = b"".join(twice[b:b + 256] for b in range(256))
with open(sys.argv[1] + ".part", "wb") as f:
    f.write(unit * (32 * 1024 * 1024 // len(unit)))
PY
  mv "$site/big32.bin.part" "$site/big32.bin"
fi

# text.txt: 64 KiB of text lines, which nginx sends gzip-compressed to a
# client that asks.
python3 - "$site/text.txt" <<'PY'
import sys
with open(sys.argv[1], "w", newline="\n") as f:
    f.write("".join("Line %05d of the kestrel text, compressed on the way.\n" % i for i in range(1200))[:65536])
PY

# Basic-auth password file in the apr1 (salted MD5) form nginx reads.
hash=$(openssl passwd -apr1 -salt kestrel1 's3cret:pw')
printf 'kestrel:%s\n' "$hash" > "$site/.htpasswd"

cat > "$site/redirects.conf" <<'CONF'
# Absolute 301 (nginx completes the target with the request's host and port).
location = /old.html { return 301 /index.html; }
# Relative 301: the Location line carries the path only.
location = /old-relative.html { absolute_redirect off; return 301 /index.html; }
# Two names that redirect to each other for ever.
location = /loop-a.html { return 301 /loop-b.html; }
location = /loop-b.html { return 301 /loop-a.html; }
CONF

# conn-many-links.html: 25 anchors, more than a link array holds at first.
{
  printf '<html><head><title>Many links</title></head><body>\n'
  for i in $(seq 1 25); do printf '<p><a href="page%d.html">Page %d</a></p>\n' "$i" "$i"; done
  printf '</body></html>\n'
} > "$site/conn-many-links.html"
