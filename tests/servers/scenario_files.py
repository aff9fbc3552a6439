"""Scenario files of the loopback scenario server: parsing a file and its
query overrides into a Scenario, and rendering its sections into bytes.
The format is described in scenarios/README.md."""

import re

from scenario_bodies import ScenarioError, transform_body

MAX_REPEAT_BYTES = 256 << 20     # largest expansion of one {{repeat}}


class Scenario:
    """Reply bytes plus how to deliver them."""

    def __init__(self, name):
        self.name = name
        self.directives = {}     # name -> list of argument strings
        self.reply = b""         # the first reply
        self.replies = []        # (action, bytes): one per request on the connection
        self.templated = False   # the replies hold {{conn}} or {{nreq}}
        self.request = None      # expected request bytes, for test runners

    def option(self, key, default=None):
        values = self.directives.get(key)
        return values[-1] if values else default


DIRECTIVES = {"delay", "drip", "pause-at", "cut-at", "end", "line-ends", "escapes",
              "final-newline", "description", "keep-idle", "replies", "body-coding",
              "body-damage", "body-chunks", "body-zeros", "require-cookie"}

# "--- reply ---" may come several times: the Nth answers the Nth request on
# the connection. "--- reply: drop|reset|silent ---" reads that request and
# closes, resets, or never answers.
MARKER = re.compile(rb"^--- (reply|request)(?:: (drop|reset|silent))? ---\r?$")
REPLY_ACTIONS = ("send", "drop", "reset", "silent")


def parse_scenario(name, data, overrides):
    scenario = Scenario(name)
    sections = {}
    replies = []                 # [action, text] in order
    current = None
    head_lines = []
    for line in data.splitlines(keepends=True):
        marker = MARKER.match(line.rstrip(b"\n"))
        if marker:
            current = marker.group(1).decode()
            if current == "reply":
                replies.append([(marker.group(2) or b"send").decode(), b""])
            else:
                sections[current] = b""
            continue
        if current is None:
            head_lines.append(line)
        elif current == "reply":
            replies[-1][1] += line
        else:
            sections[current] += line
    for raw in head_lines:
        text = raw.decode("latin-1").strip()
        if not text or text.startswith("#"):
            continue
        key, sep, value = text.partition(":")
        key = key.strip().lower()
        if not sep or key not in DIRECTIVES:
            raise ScenarioError("%s: unknown directive line %r" % (name, text))
        scenario.directives.setdefault(key, []).append(value.strip())
    for key, value in overrides:
        if key not in DIRECTIVES:
            raise ScenarioError("unknown override %r" % key)
        scenario.directives.setdefault(key, []).append(value.replace(",", " ").replace(":", " "))
    scenario.replies = [(action, render(text, scenario) if action == "send" else b"")
                        for action, text in replies] or [("send", b"")]
    scenario.reply = scenario.replies[0][1]
    scenario.templated = any(b"{{conn}}" in r or b"{{nreq}}" in r for _, r in scenario.replies)
    if "request" in sections:
        scenario.request = render(sections["request"], scenario)
    return scenario


REPEAT = re.compile(rb"\{\{(repeat|numbered) (\d+) (.*?)\}\}", re.S)
ESCAPE = re.compile(rb"\\(x[0-9A-Fa-f]{2}|[rnt0\\])")
ESCAPES = {b"r": b"\r", b"n": b"\n", b"t": b"\t", b"0": b"\0", b"\\": b"\\"}


def expand_repeat(match):
    kind, count, text = match.group(1), int(match.group(2)), match.group(3)
    if count * (len(text) + 8) > MAX_REPEAT_BYTES:
        raise ScenarioError("repeat of %d bytes is too large" % (count * len(text)))
    if kind == b"numbered":
        return b"".join(text.replace(b"#", str(i).encode()) for i in range(count))
    return text * count


def render(body, scenario):
    """Section text to wire bytes: final newline, repeats, line ends, escapes, {{body-length}}."""
    if scenario.option("final-newline", "yes") == "no":
        if body.endswith(b"\r\n"):
            body = body[:-2]
        elif body.endswith(b"\n"):
            body = body[:-1]
    body = REPEAT.sub(expand_repeat, body)
    line_ends = scenario.option("line-ends", "crlf")
    if line_ends == "crlf":
        body = body.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    elif line_ends == "join":
        body = body.replace(b"\r\n", b"").replace(b"\n", b"")
    elif line_ends != "lf":
        raise ScenarioError("line-ends must be crlf, lf or join")
    if scenario.option("escapes", "off") == "on":
        body = ESCAPE.sub(lambda m: ESCAPES.get(m.group(1)) or bytes([int(m.group(1)[1:], 16)]), body)
    body = transform_body(body, scenario)
    if b"{{body-length}}" in body:
        head_end = body.find(b"\r\n\r\n")
        skip = 4
        if head_end < 0:
            head_end, skip = body.find(b"\n\n"), 2
        length = len(body) - head_end - skip if head_end >= 0 else 0
        body = body.replace(b"{{body-length}}", str(length).encode())
    return body
