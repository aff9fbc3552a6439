#!/usr/bin/env python3
"""Writes the pages of the link-extraction benchmark into a folder:
  links5m.html  a real-looking 5 MB page with 50,000 anchors (navigation,
                articles, tables, entities, comments, scripts and styles);
  script5m.html a 5 MB page whose script holds many "<" and no ">", with a
                few anchors after it;
  longline.html 2 MB on one line: script "<" runs, then anchors.
Deterministic: the same pages every time."""
import os
import random
import sys

MB = 1024 * 1024


def links_page(rnd):
    words = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
             "tempor incididunt ut labore et dolore magna aliqua").split()

    def text(n):
        return " ".join(rnd.choice(words) for _ in range(n))

    out = ['<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="iso-8859-1">\n',
           "<title>Catalogue &amp; archive</title>\n",
           "<style>\nbody { font: 14px sans-serif } a > b { color: #333 }\n</style>\n",
           '<script type="text/javascript" language="JavaScript">\n'
           "function show(n) { if (n < 10 && n > 0) { return n; } return 0; }\n"
           "</script>\n</head>\n<body>\n<!-- navigation -->\n<ul class=\"nav\">\n"]
    anchors = 0
    for i in range(40):
        out.append('  <li><a href="/section/%d/" class="nav-link">Section %d</a></li>\n' % (i, i))
        anchors += 1
    out.append("</ul>\n")
    while anchors < 50000:
        kind = anchors % 5
        n = anchors
        if kind == 0:
            out.append('<h2><a href="/articles/%d.html" title="Article %d">%s</a></h2>\n'
                       % (n, n, text(3).capitalize()))
        elif kind == 1:
            out.append('<p>%s <a href="/ref?id=%d&amp;lang=en">ref&nbsp;%d</a> %s.</p>\n'
                       % (text(3).capitalize(), n, n, text(2)))
        elif kind == 2:
            out.append('<tr><td><a HREF=/files/r%d.pdf><img src=/i/pdf.png alt=PDF> Report %d</a>'
                       '<td>%d&nbsp;KB</tr>\n' % (n, n, rnd.randint(10, 900)))
        elif kind == 3:
            out.append("<!-- %d --><p class=\"note\">%s &copy; <a href='/people/%d'\n"
                       "  class=\"person\">%s</a></p>\n" % (n, text(2), n, text(2).title()))
        else:
            out.append('<p><a href="#top">Back to top</a> &middot; <b>%s</b></p>\n' % text(2))
        anchors += 1
    out.append("</body>\n</html>\n")
    page = "".join(out)
    if len(page) < 5 * MB:  # pad with plain paragraphs up to 5 MB
        filler = []
        size = len(page)
        while size < 5 * MB:
            p = "<p>%s</p>\n" % text(20)
            filler.append(p)
            size += len(p)
        page = page.replace("</body>", "".join(filler) + "</body>", 1)
    return page


def script_page(rnd):
    out = ["<html><head><script language=JavaScript>\n"]
    size = 0
    while size < 5 * MB - 2000:
        line = "if (a%d<b || c<d%d) x = y<z<w; // a<<b\n" % (rnd.randint(0, 99), rnd.randint(0, 99))
        out.append(line)
        size += len(line)
    out.append("</script></head><body>\n")
    for i in range(10):
        out.append('<a href="/after/%d.html">after %d</a>\n' % (i, i))
    out.append("</body></html>\n")
    return "".join(out)


def long_line_page():
    unit = "a<b "
    return ("<script>" + unit * (MB // len(unit)) + "</script>" +
            "".join('<a href="/x%d">x%d</a> ' % (i, i) for i in range(20000)) + "\n")


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rnd = random.Random(11)
    pages = {"links5m.html": links_page(rnd), "script5m.html": script_page(rnd),
             "longline.html": long_line_page()}
    for name, page in pages.items():
        with open(os.path.join(folder, name), "w", encoding="latin-1", newline="") as f:
            f.write(page)


if __name__ == "__main__":
    main()
