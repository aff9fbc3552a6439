#!/usr/bin/env python3
"""Keeps the reference's error tables and the DLL in step.

Every text in the Text column of the tables under "## Every error text" of
docs/reference.md must appear in some test source that asserts error texts,
so that a changed message fails a test instead of leaving the docs stale.
A cell lists one text per line (lines joined by <br>); in a text, a word in
capitals from PLACEHOLDERS, or one that ends the text after a colon, stands
for what varies and matches any text on the same line, and a run of N
(0x8009NNNN, Error #NNNNN) matches digits.
Prints "PASS text" or "FAIL text: why" per text ("UNTESTED text: why" for
the few no test can produce), then "DONE".
Usage: check-error-texts.py [REPO-ROOT]
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])
REFERENCE = ROOT / "docs" / "reference.md"
SECTION = "## Every error text"

# Where the tests assert texts: the Windows and native suites, the script
# tests, the examples' checks and the package's script.
SOURCES = [("tests/win32", "*.cpp"), ("tests/win32", "*.h"), ("tests/native", "*.cpp"),
           ("tests/scripts", "*.vbs"), ("tests/scripts", "*.js"),
           ("tests/examples", "*.sh"), ("tests/package", "*.vbs")]

# Texts no test here can produce, with the reason; each is printed as
# "UNTESTED", and a text of this list that a test does assert fails, so that
# the list only shrinks.
UNTESTED = {
    "The TLS handshake made no progress: the security package took none of the server's bytes":
        "a guard against a security package that takes no bytes at all; Wine's always takes some",
    "The server showed another certificate when it renegotiated the TLS session":
        "Wine's security package fails every renegotiation (\"TLS renegotiation failed\"), so no second "
        "handshake reaches the check",
}

PLACEHOLDERS = ["STATUS LINE", "CHARSET", "MEANING", "MEMBER", "REASON", "DOMAIN", "ENTRY",
                "TARGET", "HOST", "NAME", "PATH", "PORT", "TEXT", "WHAT", "why", "F", "M", "N"]


def error_texts(markdown):
    """The texts of the Text columns of the error tables, in order."""
    start = markdown.find("\n" + SECTION + "\n")
    if start < 0:
        raise SystemExit("FAIL reference: no section '%s' in %s\nDONE" % (SECTION, REFERENCE))
    body = markdown[start + len(SECTION) + 2:]
    end = re.search(r"^## ", body, re.M)
    body = body[:end.start()] if end else body
    texts, column = [], None
    for line in body.splitlines():
        if not line.startswith("|"):
            column = None
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if column is None:  # the header row names the columns
            column = cells.index("Text") if "Text" in cells else 0
            continue
        if set(cells[0]) <= set("-: "):
            continue
        for text in re.split(r"<br\s*/?>", cells[column]):
            text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)  # links keep their words
            text = re.sub(r"\s*\(see [^)]*\)$", "", text).strip()  # a pointer, not part of the text
            if text:
                texts.append(text)
    return texts


def pattern(text):
    """A regular expression for the text with its placeholders."""
    words = "|".join(re.escape(p) for p in PLACEHOLDERS)
    out, pos = [], 0
    # Also any word in capitals that ends a text after a colon ("...: URL").
    for m in re.finditer(r"(?<![G-MO-Z])N{2,}(?![G-MO-Z])|\b(?:%s)\b|(?<=: )[A-Z]{2,}$" % words, text):
        out.append(re.escape(text[pos:m.start()]))
        out.append("[0-9A-Fa-f]+" if m.group(0).startswith("NN") else ".+?")
        pos = m.end()
    out.append(re.escape(text[pos:]))
    return re.compile("".join(out))


def test_sources():
    """The test sources as one text: comment lines dropped, string literals
    continued over lines joined, escaped quotes unescaped."""
    parts = []
    for folder, glob in SOURCES:
        for path in sorted((ROOT / folder).rglob(glob)):
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
            kept = [l for l in lines if not re.match(r"\s*(//|'|#|\*|/\*|Rem\s)", l)]
            source = "\n".join(kept)
            source = re.sub(r'"\s*(?:&\s*_|\+)?\s*\n\s*"', "", source)  # "a" "b", "a " & _ "b", "a" + "b"
            source = source.replace('\\"', '"').replace("\\'", "'").replace('""', '"')
            parts.append(source)
    return "\n".join(parts)


def main():
    texts = error_texts(REFERENCE.read_text(encoding="utf-8"))
    sources = test_sources()
    if not texts:
        print("FAIL reference: no texts found in the tables of '%s'" % SECTION)
    seen = set()
    for text in texts:
        if text in seen:
            continue
        seen.add(text)
        found = pattern(text).search(sources)
        if text in UNTESTED:
            if found:
                print("FAIL %s: a test asserts it now: take it off the UNTESTED list" % text)
            else:
                print("UNTESTED %s: %s" % (text, UNTESTED[text]))
        elif found:
            print("PASS %s" % text)
        else:
            print("FAIL %s: no test asserts this text" % text)
    for text in sorted(set(UNTESTED) - seen):
        print("FAIL %s: listed as untested, but the reference has no such text" % text)
    print("DONE")


if __name__ == "__main__":
    main()
