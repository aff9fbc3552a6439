#!/usr/bin/env python3
"""Loopback scenario server for the network tests.

A connection picks what it gets by what it sends first:

  SCENARIO <name>[?k=v&...]            plain line: the scenario's reply follows at once
  <METHOD> /s/<name>[?k=v&...] HTTP/x  the scenario's reply, after the whole request
  <METHOD> /echo[...] HTTP/x           200 whose body is the exact request bytes (the query's
                                       set-cookie and location add Set-Cookie lines and a 302)
  <METHOD> /corpus/<dir>/<file> HTTP/x a file of the response corpus, raw
  <METHOD> /hostile/<kind>/<seed> ...  a malformed or abusive reply (hostile.py)
  <METHOD> /redirect/<scheme>/<host>/<port>/<path>  302 to scheme://host:port/path (loopback hosts)
  anything else naming a curl case's follow-up number (NNNN000K) serves curl-NNNN.dataK.http

Absolute request targets (as sent through a proxy) are routed by their path.
Scenario files, their directives and the query overrides are described in
scenarios/README.md. Standard library only; one thread per connection; every
wait and read is bounded. Logs one line per connection to stderr.
"""

import argparse
import itertools
import os
import re
import select
import socket
import struct
import sys
import threading
import time
import urllib.parse

import hostile
from scenario_bodies import ScenarioError
from scenario_files import DIRECTIVES, Scenario, parse_scenario  # noqa: F401 (Scenario for the TLS server)

MAX_REQUEST_HEAD = 1 << 20       # bytes of request line and headers
MAX_REQUEST_BODY = 64 << 20      # bytes of request body read for /echo
REQUEST_TIME_LIMIT = 30.0        # seconds to receive a whole request
MAX_DELAY_MS = 300_000           # longest delay, pause or keep-open honoured
DRAIN_TIME_LIMIT = 5.0           # seconds to wait for the peer's close after ours
MAX_CACHED_SCENARIOS = 64        # parsed scenarios kept; the cache is emptied beyond
MAX_REPLIES_PER_CONNECTION = 100_000  # answers one connection gets, replies: cycle included
DEFAULT_KEEP_IDLE_MS = 10_000    # how long a kept connection waits for the next request

DEFAULT_CORPUS = "/work/shared/corpus/http-responses"


def log(message):
    sys.stderr.write("%s %s\n" % (time.strftime("%H:%M:%S"), message))
    sys.stderr.flush()


# ---------------------------------------------------------------------------
# Receiving the request

class Request:
    def __init__(self):
        self.raw = b""          # every byte received, as received
        self.first_line = b""
        self.target = ""
        self.kind = ""          # "scenario-line", "http" or "bad"


def recv_some(conn, deadline):
    remaining = deadline - time.monotonic()
    if remaining <= 0:
        raise TimeoutError("request not complete in time")
    conn.settimeout(remaining)
    data = conn.recv(65536)
    return data


def read_request(conn, read_body):
    """Reads the first line and, for HTTP, the header block and a Content-Length body."""
    request = Request()
    deadline = time.monotonic() + REQUEST_TIME_LIMIT
    buffer = b""
    # Bounded by MAX_REQUEST_HEAD and the deadline.
    while b"\n" not in buffer:
        if len(buffer) > MAX_REQUEST_HEAD:
            raise ScenarioError("request line too long")
        data = recv_some(conn, deadline)
        if not data:
            request.raw = buffer
            request.kind = "bad"
            return request
        buffer += data
    first, _, _ = buffer.partition(b"\n")
    request.first_line = first.rstrip(b"\r")
    words = request.first_line.split(b" ")
    if words[0] == b"SCENARIO" and len(words) >= 2:
        request.kind = "scenario-line"
        request.target = words[1].decode("latin-1")
        request.raw = buffer
        return request
    if len(words) != 3 or not words[2].startswith(b"HTTP/"):
        request.kind = "bad"
        request.raw = buffer
        return request
    request.kind = "http"
    request.target = words[1].decode("latin-1")
    # Header block: until the first empty line (CR LF or LF).
    while True:
        match = re.search(rb"\r?\n\r?\n", buffer)
        if match:
            head_end = match.end()
            break
        if len(buffer) > MAX_REQUEST_HEAD:
            raise ScenarioError("request header block too long")
        data = recv_some(conn, deadline)
        if not data:
            request.raw = buffer
            return request
        buffer += data
    length = 0
    for line in buffer[:head_end].split(b"\n")[1:]:
        name, sep, value = line.partition(b":")
        if sep and name.strip().lower() == b"content-length":
            try:
                length = max(0, int(value.strip()))
            except ValueError:
                length = 0
    if read_body:
        length = min(length, MAX_REQUEST_BODY)
        # Bounded by the body length and the deadline.
        while len(buffer) - head_end < length:
            data = recv_some(conn, deadline)
            if not data:
                break
            buffer += data
        buffer = buffer[:head_end + length]
    request.raw = buffer
    return request


# ---------------------------------------------------------------------------
# Delivering a reply

def wait_for_peer_close(conn, seconds):
    """Waits up to seconds for the peer to close; returns early when it does."""
    deadline = time.monotonic() + min(seconds, MAX_DELAY_MS / 1000.0)
    # Bounded by the deadline.
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        readable, _, _ = select.select([conn], [], [], remaining)
        if readable:
            try:
                data = conn.recv(65536)
            except OSError:
                return True
            if not data:
                return True


def send_all(conn, data, scenario):
    """Sends data, dripping and pausing as the scenario says; returns bytes sent."""
    drip = scenario.option("drip")
    step, pause = len(data) or 1, 0.0
    if drip:
        parts = drip.split()
        step = max(1, int(parts[0]))
        pause = min(int(parts[1]) if len(parts) > 1 else 0, MAX_DELAY_MS) / 1000.0
    pauses = {}
    for value in scenario.directives.get("pause-at", []):
        offset, _, ms = value.partition(" ")
        pauses[int(offset)] = min(int(ms or "0"), MAX_DELAY_MS) / 1000.0
    sent = 0
    conn.settimeout(REQUEST_TIME_LIMIT)
    # Bounded by len(data): every pass sends at least one byte.
    while sent < len(data):
        if sent in pauses:
            time.sleep(pauses.pop(sent))
        end = min(len(data), sent + step)
        following = [o for o in pauses if sent < o < end]
        if following:
            end = min(following)
        conn.sendall(data[sent:end])
        sent = end
        if drip and sent < len(data):
            time.sleep(pause)
    if sent in pauses:
        time.sleep(pauses.pop(sent))
    return sent


def finish(conn, end):
    """Ends the connection: close (graceful), reset, or keep-open MS then close."""
    parts = (end or "close").split()
    action = parts[0]
    if action == "reset":
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
        return
    if action == "keep-open":
        ms = int(parts[1]) if len(parts) > 1 else 10_000
        if wait_for_peer_close(conn, ms / 1000.0):
            conn.close()
            return
    elif action != "close":
        raise ScenarioError("end must be close, reset or keep-open MS")
    # Graceful: send FIN, then drain what the peer still sends so that the
    # close does not turn into a reset.
    try:
        conn.shutdown(socket.SHUT_WR)
        wait_for_peer_close(conn, DRAIN_TIME_LIMIT)
    except OSError:
        pass
    conn.close()


def reply_after_delay(conn, scenario, peer, reply=None):
    """The reply (the first by default), cut as the scenario says, once its
    delay is over; None (and the connection closed) when the client closed
    during the delay."""
    delay = int(scenario.option("delay", "0"))
    if delay > 0:
        # A client that gives up and closes ends the delay early.
        if wait_for_peer_close(conn, min(delay, MAX_DELAY_MS) / 1000.0):
            log("%s %s: peer closed during the delay" % (peer, scenario.name))
            conn.close()
            return None
    if reply is None:
        reply = scenario.reply
    cut = scenario.option("cut-at")
    if cut is not None:
        reply = reply[:int(cut)]
    return reply


def fill_in(reply, connection, number):
    """{{conn}} and {{nreq}} (8 characters each, so that {{body-length}} holds)
    become the connection's number and the request's number on it, 8 digits each."""
    return (reply.replace(b"{{conn}}", b"%08d" % connection)
            .replace(b"{{nreq}}", b"%08d" % number))


def await_next_request(conn, scenario, read):
    """The next request on a kept connection, or None when the client closed
    it or sent nothing for keep-idle ms (the server then closes it)."""
    idle = min(int(scenario.option("keep-idle", str(DEFAULT_KEEP_IDLE_MS))), MAX_DELAY_MS) / 1000.0
    readable, _, _ = select.select([conn], [], [], idle)
    if not readable:
        return None
    request = read()
    return None if request.kind == "bad" and not request.raw else request


def serve_replies(conn, scenario, peer, connection, send, read):
    """Answers the requests of one connection with the scenario's replies in
    turn (from the first again with replies: cycle); True when the last reply
    went out and the connection is to end as the scenario says."""
    cycle = scenario.option("replies", "once") == "cycle"
    # Bounded by the replies (or MAX_REPLIES_PER_CONNECTION when cycling).
    for number in range(MAX_REPLIES_PER_CONNECTION):
        action, reply = scenario.replies[number % len(scenario.replies)]
        if action == "drop":
            log("%s %s: request %d dropped unanswered" % (peer, scenario.name, number + 1))
            conn.close()
            return False
        if action in ("reset", "silent"):
            log("%s %s: request %d answered by a %s" % (peer, scenario.name, number + 1, action))
            if action == "silent":
                wait_for_peer_close(conn, MAX_DELAY_MS / 1000.0)
                conn.close()
            else:
                finish(conn, "reset")
            return False
        reply = reply_after_delay(conn, scenario, peer, reply)
        if reply is None:
            return False
        sent = send(fill_in(reply, connection, number + 1) if scenario.templated else reply)
        log("%s %s: request %d, sent %d bytes" % (peer, scenario.name, number + 1, sent))
        if number + 1 >= len(scenario.replies) and not cycle:
            return True
        if await_next_request(conn, scenario, read) is None:
            log("%s %s: the kept connection ends after %d requests" % (peer, scenario.name, number + 1))
            finish(conn, "close")
            return False
    return True


def deliver(conn, scenario, peer, connection=0):
    send = lambda data: send_all(conn, data, scenario)
    read = lambda: read_request(conn, read_body=True)
    if serve_replies(conn, scenario, peer, connection, send, read):
        end = scenario.option("end", "close")
        log("%s %s: end %s" % (peer, scenario.name, end))
        finish(conn, end)


def simple_response(status, body, content_type="text/plain", extra_lines=()):
    return (b"HTTP/1.0 " + status.encode() + b"\r\nContent-Type: " + content_type.encode()
            + b"\r\nContent-Length: " + str(len(body)).encode() + b"\r\nConnection: close\r\n"
            + b"".join(line.encode("latin-1") + b"\r\n" for line in extra_lines) + b"\r\n" + body)


def echo_reply(request, query):
    """The echo route's reply: the request bytes, with a Set-Cookie line for
    each set-cookie in the query and, for a location, a 302 to it."""
    lines = ["Set-Cookie: " + v for k, v in query if k == "set-cookie"]
    locations = [v for k, v in query if k == "location"]
    lines += ["Location: " + v for v in locations[-1:]]
    status = "302 Found" if locations else "200 OK"
    return simple_response(status, request.raw, "application/octet-stream", lines)


def request_cookies(request):
    """The name=value pairs of the request's Cookie lines."""
    head = request.raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    pairs = set()
    for line in head.split("\r\n")[1:]:
        name, sep, value = line.partition(":")
        if sep and name.strip().lower() == "cookie":
            pairs.update(pair.strip() for pair in value.split(";"))
    return pairs


def refuse_without_cookie(request, scenario):
    """A scenario that names a required cookie answers 403 to a request without it."""
    needed = scenario.option("require-cookie")
    if needed is None or needed in request_cookies(request):
        return scenario
    return raw_scenario("no-cookie", simple_response("403 Forbidden", b"This page needs the cookie "
                                                     + needed.encode("latin-1") + b"\r\n"), [])


def raw_scenario(name, reply, overrides):
    scenario = Scenario(name)
    scenario.reply = reply
    scenario.replies = [("send", reply)]
    for key, value in overrides:
        if key not in DIRECTIVES:
            raise ScenarioError("unknown override %r" % key)
        scenario.directives.setdefault(key, []).append(value.replace(",", " ").replace(":", " "))
    return scenario


def hostile_scenario(rest):
    """/hostile/kinds lists the kinds; /hostile/<kind>/<seed> is one hostile reply (hostile.py)."""
    if rest == "kinds":
        return raw_scenario("hostile-kinds", simple_response("200 OK", hostile.kinds_listing()), [])
    kind, _, seed = rest.partition("/")
    made = hostile.reply(kind, seed)
    if made is None:
        return raw_scenario("not-found", simple_response("404 Not Found", b"No such hostile kind\r\n"), [])
    reply, directives = made
    return raw_scenario("hostile:%s/%s" % (kind, seed), reply, list(directives.items()))


def redirect_scenario(rest, query):
    """/redirect/<scheme>/<host>/<port>/<path>: a 302 to scheme://host:port/path
    (with the query), for redirects across origins; loopback hosts only, so
    that a redirect never leads off this machine."""
    parts = rest.split("/", 3)
    if len(parts) < 3 or parts[0] not in ("http", "https") or parts[1].lower() not in ("127.0.0.1", "localhost") \
            or not parts[2].isdigit():
        return raw_scenario("not-found", simple_response("404 Not Found", b"No such redirect\r\n"), [])
    target = "%s://%s:%s/%s%s" % (parts[0], parts[1], parts[2], parts[3] if len(parts) > 3 else "",
                                  "?" + query if query else "")
    reply = ("HTTP/1.0 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n\r\n" % target).encode("latin-1")
    return raw_scenario("redirect", reply, [])


# ---------------------------------------------------------------------------
# Routing

CURL_FOLLOW_UP = re.compile(r"(\d+)(\d{4})")
SCENARIO_NAME = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*$")


class Server:
    def __init__(self, port, scenarios, corpus, lifetime, host="127.0.0.1"):
        self.port = port
        self.lifetime = lifetime
        self.scenarios = scenarios
        self.corpus = os.path.realpath(corpus)
        self.host = host
        self.no_listen_port = self.closed_port()
        self.cache = {}
        self.cache_lock = threading.Lock()
        self.connections = itertools.count(1)   # numbers for {{conn}}

    def closed_port(self):
        probe = socket.socket()
        probe.bind((self.host, 0))
        port = probe.getsockname()[1]
        probe.close()
        return port

    def load_scenario(self, name, overrides):
        """The parsed scenario; parsed once per file version and overrides."""
        if not SCENARIO_NAME.match(name):
            return None
        path = os.path.join(self.scenarios, name)
        if not os.path.isfile(path):
            return None
        key = (name, tuple(overrides), os.stat(path).st_mtime_ns)
        with self.cache_lock:
            cached = self.cache.get(key)
        if cached is not None:
            return cached
        with open(path, "rb") as handle:
            scenario = parse_scenario(name, handle.read(), overrides)
        with self.cache_lock:
            if len(self.cache) >= MAX_CACHED_SCENARIOS:
                self.cache.clear()
            self.cache[key] = scenario
        return scenario

    def corpus_file(self, relative):
        path = os.path.realpath(os.path.join(self.corpus, relative))
        if not path.startswith(self.corpus + os.sep) or not os.path.isfile(path):
            return None
        return path

    def corpus_reply(self, path):
        with open(path, "rb") as handle:
            data = handle.read()
        return (data.replace(b"%HOSTIP", self.host.encode())
                .replace(b"%HTTPPORT", str(self.port).encode())
                .replace(b"%NOLISTENPORT", str(self.no_listen_port).encode()))

    def curl_follow_up(self, target):
        for match in reversed(list(CURL_FOLLOW_UP.finditer(target))):
            case, part = int(match.group(1)), int(match.group(2))
            if case <= 9999 and part > 0:
                path = self.corpus_file("curl/curl-%04d.data%d.http" % (case, part))
                if path:
                    return path
        return None

    def route(self, request):
        """The scenario a request gets."""
        target = request.target
        if request.kind == "scenario-line":
            name, _, query = target.partition("?")
            overrides = urllib.parse.parse_qsl(query)
            scenario = self.load_scenario(name, overrides)
            if scenario is None:
                return raw_scenario("unknown", b"ERROR unknown scenario " + name.encode() + b"\r\n", [])
            return scenario
        if request.kind != "http":
            return raw_scenario("bad-request", simple_response("400 Bad Request", b"Bad request\r\n"), [])
        parsed = urllib.parse.urlsplit(target)
        path = urllib.parse.unquote(parsed.path)
        overrides = urllib.parse.parse_qsl(parsed.query)
        if path.startswith("/s/"):
            scenario = self.load_scenario(path[3:], overrides)
            if scenario is not None:
                return refuse_without_cookie(request, scenario)
        elif path == "/echo" or path.startswith("/echo/"):
            known = [(k, v) for k, v in overrides if k in DIRECTIVES]
            return raw_scenario("echo", echo_reply(request, overrides), known)
        elif path.startswith("/redirect/"):
            return redirect_scenario(path[len("/redirect/"):], parsed.query)
        elif path.startswith("/hostile/"):
            return hostile_scenario(path[len("/hostile/"):])
        elif path.startswith("/corpus/"):
            file_path = self.corpus_file(path[len("/corpus/"):])
            if file_path:
                known = [(k, v) for k, v in overrides if k in DIRECTIVES]
                return raw_scenario("corpus:" + path[len("/corpus/"):], self.corpus_reply(file_path), known)
        follow_up = self.curl_follow_up(target)
        if follow_up:
            return raw_scenario("corpus:" + os.path.basename(follow_up), self.corpus_reply(follow_up), [])
        return raw_scenario("not-found", simple_response("404 Not Found", b"No such scenario: "
                                                         + target.encode("latin-1") + b"\r\n"), [])

    def handle(self, conn, address):
        peer = "%s:%d" % address
        try:
            # The scenario's own request-reading choice is known only after
            # routing; /echo and HTTP scenarios need the body first.
            request = read_request(conn, read_body=True)
            scenario = self.route(request)
            log("%s %r -> %s" % (peer, request.first_line[:200], scenario.name))
            deliver(conn, scenario, peer, next(self.connections))
        except (ScenarioError, ValueError) as error:
            log("%s scenario error: %s" % (peer, error))
            try:
                conn.sendall(simple_response("500 Scenario Error", str(error).encode() + b"\r\n"))
            except OSError:
                pass
            conn.close()
        except (OSError, TimeoutError) as error:
            log("%s connection error: %s" % (peer, error))
            conn.close()

    def serve(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.host, self.port))
        listener.listen(128)
        log("scenario server on %s:%d, scenarios %s, corpus %s"
            % (self.host, self.port, self.scenarios, self.corpus))
        # Runs until its starter stops it (servers_stop), at most for lifetime seconds.
        deadline = time.monotonic() + self.lifetime
        listener.settimeout(1.0)
        while time.monotonic() < deadline:
            try:
                conn, address = listener.accept()
            except socket.timeout:
                continue
            conn.settimeout(None)
            threading.Thread(target=self.handle, args=(conn, address), daemon=True).start()
        log("lifetime of %d s over: stopping" % self.lifetime)


def main():
    parser = argparse.ArgumentParser(description="Loopback scenario server for network tests")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--corpus", default=DEFAULT_CORPUS)
    parser.add_argument("--lifetime", type=int, default=6 * 3600, help="seconds before the server stops")
    args = parser.parse_args()
    try:
        Server(args.port, os.path.realpath(args.scenarios), args.corpus, args.lifetime).serve()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
