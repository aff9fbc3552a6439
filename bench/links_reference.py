#!/usr/bin/env python3
"""Reference link extractor for the benchmark: Python's html.parser collecting
every anchor's href and text. Prints one line per page:
  RESULT reference <page> <best seconds> <anchors with href>
Seconds are processor time, as for the native side."""
import sys
import time
from html.parser import HTMLParser


class Anchors(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []
        self.text = None
        self.href = None

    def handle_starttag(self, tag, attrs):
        if tag == "a" and self.text is None:
            self.href = dict(attrs).get("href")
            self.text = []

    def handle_endtag(self, tag):
        if tag == "a" and self.text is not None:
            if self.href:
                self.links.append((self.href, " ".join("".join(self.text).split())))
            self.text = None

    def handle_data(self, data):
        if self.text is not None:
            self.text.append(data)


def main():
    rounds = int(sys.argv[1])
    for page in sys.argv[2:]:
        data = open(page, encoding="latin-1").read()
        best, count = None, 0
        for _ in range(rounds):
            t0 = time.process_time()
            parser = Anchors()
            parser.feed(data)
            parser.close()
            elapsed = time.process_time() - t0
            best = elapsed if best is None or elapsed < best else best
            count = len(parser.links)
        print("RESULT reference %s %.4f %d" % (page, best, count), flush=True)


if __name__ == "__main__":
    main()
