"""A proxy that wants Basic credentials ("kestrel", "s3cret:pw", as the test
site's private area), for the tests of ProxyPassword with tunnels. (tinyproxy's
BasicAuth cannot take a password with a colon.)

  no or wrong Proxy-Authorization   407, Proxy-Authenticate: Basic realm="Kestrel proxy"
  CONNECT host:port HTTP/x          host must be localhost or 127.0.0.1 (403 otherwise,
                                    no lookup is ever made); "HTTP/1.0 200 Connection
                                    established", then bytes relayed both ways
  GET http://host:port/path HTTP/x  the same destinations; the request is forwarded
                                    without its Proxy-* lines and the answer relayed back
  CONNECT host:1 HTTP/x             the connection closed without an answer (a proxy
                                    that hangs up on a tunnel request)

A relay ends when both sides have closed, at a reset, after RELAY_IDLE_LIMIT
seconds without traffic or after RELAY_TIME_LIMIT seconds in all.
"""

import base64
import re
import select
import socket
import time
import urllib.parse

import scenario_server as scenario

USER, PASSWORD = "kestrel", "s3cret:pw"
CREDENTIALS = "Basic " + base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
LOOPBACK = {"localhost": "127.0.0.1", "127.0.0.1": "127.0.0.1"}
RELAY_IDLE_LIMIT = 60.0
RELAY_TIME_LIMIT = 600.0
CONNECT_TIME_LIMIT = 10.0
HANG_UP_PORT = 1


def answer(conn, status, extra=b""):
    body = status.encode() + b"\r\n"
    conn.sendall(b"HTTP/1.0 " + status.encode() + b"\r\n" + extra + b"Content-Type: text/plain\r\n"
                 + b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
    scenario.finish(conn, "close")


def header_value(head, name):
    for line in head.split(b"\n")[1:]:
        key, sep, value = line.partition(b":")
        if sep and key.strip().lower() == name:
            return value.strip().decode("latin-1")
    return None


def relay(a, b):
    """Copies bytes both ways until both directions have ended (bounded)."""
    open_ends = {a: b, b: a}
    deadline = time.monotonic() + RELAY_TIME_LIMIT
    # Bounded by the idle limit per pass and the deadline in all.
    while open_ends and time.monotonic() < deadline:
        readable, _, _ = select.select(list(open_ends), [], [], RELAY_IDLE_LIMIT)
        if not readable:
            break
        for source in readable:
            try:
                data = source.recv(65536)
            except OSError:
                return
            target = open_ends[source]
            if data:
                try:
                    target.sendall(data)
                except OSError:
                    return
            else:
                del open_ends[source]
                try:
                    target.shutdown(socket.SHUT_WR)
                except OSError:
                    pass


def destination(authority):
    """(address, port) of a loopback host:port; None for anything else."""
    host, _, port = authority.rpartition(":")
    host = host.strip("[]").lower()
    if host not in LOOPBACK or not port.isdigit() or not 0 < int(port) < 65536:
        return None
    return LOOPBACK[host], int(port)


def handle(conn):
    try:
        request = scenario.read_request(conn, read_body=False)
        if request.kind != "http":
            return answer(conn, "400 Bad Request")
        head_end = re.search(rb"\r?\n\r?\n", request.raw)
        if not head_end:
            return answer(conn, "400 Bad Request")
        head, rest = request.raw[:head_end.end()], request.raw[head_end.end():]
        if header_value(head, b"proxy-authorization") != CREDENTIALS:
            return answer(conn, "407 Proxy Authentication Required",
                          b'Proxy-Authenticate: Basic realm="Kestrel proxy"\r\n')
        method = request.first_line.split(b" ")[0]
        if method == b"CONNECT":
            target = destination(request.target)
        else:
            parsed = urllib.parse.urlsplit(request.target)
            target = destination(parsed.netloc) if parsed.scheme == "http" else None
        if target is None:
            return answer(conn, "403 Forbidden")
        if method == b"CONNECT" and target[1] == HANG_UP_PORT:
            return scenario.finish(conn, "close")
        try:
            origin = socket.create_connection(target, timeout=CONNECT_TIME_LIMIT)
        except OSError:
            return answer(conn, "502 Bad Gateway")
        origin.settimeout(None)
        conn.settimeout(None)
        if method == b"CONNECT":
            conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
        else:
            rest = b"".join(line for line in head.splitlines(keepends=True)
                            if not line.lower().startswith(b"proxy-")) + rest
        if rest:
            origin.sendall(rest)
        relay(conn, origin)
        origin.close()
        conn.close()
    except (OSError, TimeoutError, scenario.ScenarioError):
        conn.close()
