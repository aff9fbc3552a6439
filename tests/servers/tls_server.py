#!/usr/bin/env python3
"""Loopback TLS test servers, one process, one port per role:

  --scenario-port  the routes of scenario_server.py (/s/<name>, /echo, /corpus,
                   /hostile, SCENARIO lines) over TLS with the good certificate;
                   the scenario's faults act on the encrypted bytes (see below)
  --silent-port    reads the ClientHello and never answers (closes after SILENT_HOLD s
                   or when the client closes)
  --plain-port     answers a plain "HTTP/1.0 200 OK" as soon as bytes arrive, then closes
  --garbage-port   answers random bytes instead of a ServerHello, then closes
  --hsclose-port   closes right after the ClientHello
  --hostile-port   a TLS-level fault per connection, in a fixed order (tls_hostile.py)
  --proxy-auth-port  a proxy that wants Basic credentials (connect_proxy.py)
  --recut-port     the scenario routes over TLS 1.2, the server's handshake records
                   re-cut into records of RECUT_SIZE bytes, all sent at once
  --chain-port NAME=PORT  the scenario routes with the chain NAME.crt of --pki (repeatable)

Faults on the scenario port. The reply is encrypted as it would be sent and
the scenario's directives act on the encrypted stream: drip sends N encrypted
bytes at a time (records split across receives), pause-at OFFSET ends a record
at plaintext OFFSET and pauses there, cut-at cuts the plaintext, end: reset
resets. Query parameters named tls-* are taken by this server (and removed
before routing):

  tls-record=N          at most N plaintext bytes per record (default 16384, the
                        largest); with no drip, small records arrive several per receive
  tls-cut-record=K      send the reply's records up to the middle of record K
                        (1-based), then end as the scenario says (no close_notify)
  tls-close-notify=no   end without the close_notify alert (default: the alert
                        precedes a graceful close)
  tls-key-update=OFFSET a TLS 1.3 KeyUpdate after plaintext OFFSET
  tls-renegotiate=OFFSET  a TLS 1.2 HelloRequest after plaintext OFFSET; the server
                        then serves the client's renegotiation (at most
                        RENEGOTIATION_WAIT s) before it sends the rest

/tls/<name> is a shortcut for one of TLS_ROUTES (its own query is added).
Standard library only (ssl.SSLObject over MemoryBIO, see tls_session.py); one
thread per connection; every wait bounded. One log line per connection.
"""

import argparse
import itertools
import os
import select
import socket
import ssl
import threading
import time
import urllib.parse

import connect_proxy
import scenario_server as scenario
import tls_hostile
from scenario_server import log
from tls_session import MAX_RECORD, TlsError, TlsSession, server_context

SILENT_HOLD = 120.0
RENEGOTIATION_WAIT = 3.0
RECUT_SIZE = 40

TLS_ROUTES = {
    "close-mid-record": "/s/tls-until-close?tls-cut-record=3",
    "reset-mid-record": "/s/tls-until-close?tls-cut-record=3&end=reset",
    "close-notify": "/s/tls-until-close",
    "no-close-notify": "/s/tls-until-close?tls-close-notify=no",
    "max-records": "/s/tls-body",
    "small-records": "/s/tls-body?tls-record=100",
    "key-update": "/s/tls-body?tls-key-update=50000",
    "renegotiate": "/s/tls-body?tls-renegotiate=50000",
}


class TlsOptions:
    def __init__(self, pairs):
        values = dict(pairs)
        self.record = int(values.get("tls-record", MAX_RECORD))
        self.cut_record = int(values["tls-cut-record"]) if "tls-cut-record" in values else None
        self.close_notify = values.get("tls-close-notify", "yes") != "no"
        self.marks = {}   # plaintext offset -> post-handshake action
        for key, action in (("tls-key-update", "key-update"), ("tls-renegotiate", "renegotiate")):
            if key in values:
                self.marks.setdefault(int(values[key]), []).append(action)
        unknown = set(values) - {"tls-record", "tls-cut-record", "tls-close-notify",
                                 "tls-key-update", "tls-renegotiate"}
        if unknown:
            raise scenario.ScenarioError("unknown TLS option %s" % ", ".join(sorted(unknown)))

    def check(self, version):
        """Refuses, before anything is sent, a message the session's version lacks."""
        actions = {action for actions in self.marks.values() for action in actions}
        if "key-update" in actions and version != "TLSv1.3":
            raise scenario.ScenarioError("a key update needs TLS 1.3, not %s" % version)
        if "renegotiate" in actions and version != "TLSv1.2":
            raise scenario.ScenarioError("a renegotiation needs TLS 1.2, not %s" % version)


def split_target(target):
    """(target without tls-* parameters, TlsOptions); /tls/<name> expanded."""
    parsed = urllib.parse.urlsplit(target)
    query = urllib.parse.parse_qsl(parsed.query, keep_blank_values=True)
    if parsed.path.startswith("/tls/"):
        alias = TLS_ROUTES.get(parsed.path[len("/tls/"):])
        if alias is None:
            raise scenario.ScenarioError("no TLS route %s" % parsed.path)
        parsed = urllib.parse.urlsplit(alias)
        query = urllib.parse.parse_qsl(parsed.query) + query
    own = [(k, v) for k, v in query if k.startswith("tls-")]
    rest = [(k, v) for k, v in query if not k.startswith("tls-")]
    rebuilt = urllib.parse.urlunsplit((parsed.scheme, parsed.netloc, parsed.path,
                                       urllib.parse.urlencode(rest), ""))
    return rebuilt, TlsOptions(own)


def drip_only(source):
    """The scenario's drip alone, for sending encrypted pieces with send_all."""
    copy = scenario.Scenario(source.name)
    if "drip" in source.directives:
        copy.directives["drip"] = source.directives["drip"]
    return copy


def await_renegotiation(session):
    """Serves the client's renegotiation handshake, within RENEGOTIATION_WAIT."""
    deadline = time.monotonic() + RENEGOTIATION_WAIT
    # Bounded by the deadline: every pass reads the peer's bytes or waits for them.
    while True:
        try:
            session.tls.read(65536)
        except ssl.SSLWantReadError:
            pass
        except ssl.SSLError:
            return
        session.flush()
        if not session.renegotiation_pending() or session.incoming.eof:
            return
        try:
            session.feed(deadline)
        except TimeoutError:
            return


def send_reply(session, reply, chosen, options):
    """Sends the encrypted reply; False when it was cut inside a record."""
    conn = session.conn
    dripping = drip_only(chosen)
    marks = {offset: list(actions) for offset, actions in options.marks.items()}
    for value in chosen.directives.get("pause-at", []):
        offset, _, ms = value.partition(" ")
        marks.setdefault(int(offset), []).append(min(int(ms or "0"), scenario.MAX_DELAY_MS) / 1000.0)
    records_sent, start = 0, 0
    for offset in sorted({o for o in marks if 0 <= o < len(reply)} | {len(reply)}):
        records = session.encrypt(reply[start:offset], options.record)
        start = offset
        if options.cut_record is not None and records_sent + len(records) >= options.cut_record:
            keep = options.cut_record - records_sent - 1
            cut = records[keep]
            scenario.send_all(conn, b"".join(records[:keep]) + cut[:len(cut) // 2], dripping)
            return False
        records_sent += len(records)
        scenario.send_all(conn, b"".join(records), dripping)
        for action in marks.get(offset, []):
            if action == "key-update":
                scenario.send_all(conn, session.key_update(), dripping)
            elif action == "renegotiate":
                scenario.send_all(conn, session.hello_request(), dripping)
                await_renegotiation(session)
            else:
                time.sleep(action)
    return True


def deliver(session, chosen, options, peer, connection):
    conn = session.conn
    if len(chosen.replies) > 1 or chosen.option("replies") == "cycle":
        # Several answers on one connection: each request read through the session.
        def send(data):
            send_reply(session, data, chosen, options)
            return len(data)
        read = lambda: scenario.read_request(session, read_body=True)
        if not scenario.serve_replies(conn, chosen, peer, connection, send, read):
            return
        whole, reply = True, chosen.replies[-1][1]
    else:
        reply = scenario.reply_after_delay(conn, chosen, peer)
        if reply is None:
            return
        whole = send_reply(session, reply, chosen, options)
    end = chosen.option("end", "close")
    action = end.split()[0]
    log("%s %s: %s %d bytes, end %s%s" % (peer, chosen.name, session.version(), len(reply), end,
                                          "" if whole else ", cut inside a record"))
    if not whole or not options.close_notify or action == "reset":
        scenario.finish(conn, end)
        return
    if action == "keep-open":
        parts = end.split()
        ms = int(parts[1]) if len(parts) > 1 else 10_000
        if scenario.wait_for_peer_close(conn, ms / 1000.0):
            conn.close()
            return
    conn.sendall(session.close_notify())
    scenario.finish(conn, "close")


class TlsServers:
    def __init__(self, args):
        pki = args.pki
        key = os.path.join(pki, "server.key")
        self.context = server_context(os.path.join(pki, "localhost.crt"), key)
        self.tls12_context = server_context(os.path.join(pki, "localhost.crt"), key, ssl.TLSVersion.TLSv1_2)
        # Roles of their own: a port per chain, each served like the scenario port.
        self.chains = {}   # name -> (port, context)
        for value in args.chain_port:
            name, _, port = value.partition("=")
            self.chains[name] = (int(port), server_context(os.path.join(pki, name + ".crt"), key))
        self.routes = scenario.Server(args.scenario_port, os.path.realpath(args.scenarios), args.corpus,
                                      args.lifetime)
        self.hostile_count = itertools.count()
        self.lifetime = args.lifetime
        self.roles = {}
        for role in ("scenario", "silent", "plain", "garbage", "hsclose", "hostile", "recut"):
            port = getattr(args, role + "_port")
            if port:
                self.roles[role] = port
        for name, (port, _) in self.chains.items():
            self.roles["chain " + name] = port
        # Bound last: servers.sh waits for this port to know that all are.
        if args.proxy_auth_port:
            self.roles["proxy_auth"] = args.proxy_auth_port

    # --- the roles -----------------------------------------------------------

    def scenario(self, conn, peer, context=None, recut=None):
        session = TlsSession(conn, context or self.context, recut)
        session.handshake()
        request = scenario.read_request(session, read_body=True)
        try:
            request.target, options = split_target(request.target)
            options.check(session.version())
            chosen = self.routes.route(request)
        except (scenario.ScenarioError, ValueError) as error:
            log("%s TLS scenario error: %s" % (peer, error))
            reply = scenario.simple_response("500 Scenario Error", str(error).encode() + b"\r\n")
            conn.sendall(b"".join(session.encrypt(reply)) + session.close_notify())
            scenario.finish(conn, "close")
            return
        log("%s %r -> %s over %s" % (peer, request.first_line[:200], chosen.name, session.version()))
        deliver(session, chosen, options, peer, next(self.routes.connections))

    def silent(self, conn, peer):
        tls_hostile.read_client_hello(conn)
        scenario.wait_for_peer_close(conn, SILENT_HOLD)
        conn.close()

    def plain(self, conn, peer):
        conn.settimeout(30)
        conn.recv(65536)
        conn.sendall(tls_hostile.plain_reply("plain HTTP on a TLS port\r\n"))
        scenario.finish(conn, "close")

    def garbage(self, conn, peer):
        tls_hostile.read_client_hello(conn)
        conn.sendall(bytes((i * 151 + 7) % 256 for i in range(512)))
        scenario.finish(conn, "close")

    def hsclose(self, conn, peer):
        tls_hostile.read_client_hello(conn)
        scenario.finish(conn, "close")

    def hostile(self, conn, peer):
        n = next(self.hostile_count)
        log("%s hostile connection %d: %s" % (peer, n, tls_hostile.serve(conn, self.context, n)))

    def proxy_auth(self, conn, peer):
        connect_proxy.handle(conn)

    def recut(self, conn, peer):
        self.scenario(conn, peer, self.tls12_context, RECUT_SIZE)

    def chain(self, name, conn, peer):
        self.scenario(conn, peer, self.chains[name][1])

    # --- plumbing --------------------------------------------------------------

    def handle(self, role, conn, address):
        peer = "%s:%d %s" % (address[0], address[1], role)
        try:
            if role.startswith("chain "):
                self.chain(role[len("chain "):], conn, peer)
            else:
                getattr(self, role)(conn, peer)
        except (OSError, TimeoutError, TlsError, scenario.ScenarioError) as error:
            log("%s connection error: %s" % (peer, error))
            conn.close()

    def serve(self):
        listeners = {}
        for role, port in self.roles.items():
            listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind(("127.0.0.1", port))
            listener.listen(128)
            listeners[listener] = role
            log("%s on 127.0.0.1:%d" % (role, port))
        # Runs until its starter stops it (servers_stop), at most for lifetime seconds.
        deadline = time.monotonic() + self.lifetime
        while time.monotonic() < deadline:
            readable, _, _ = select.select(list(listeners), [], [], 1.0)
            for listener in readable:
                try:
                    conn, address = listener.accept()
                except OSError:
                    continue
                conn.settimeout(None)
                threading.Thread(target=self.handle, args=(listeners[listener], conn, address),
                                 daemon=True).start()
        log("lifetime of %d s over: stopping" % self.lifetime)


def main():
    parser = argparse.ArgumentParser(description="Loopback TLS test servers")
    parser.add_argument("--pki", required=True, help="folder of make-pki.sh's certificates")
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--corpus", default=scenario.DEFAULT_CORPUS)
    parser.add_argument("--lifetime", type=int, default=6 * 3600, help="seconds before the server stops")
    for role in ("scenario", "silent", "plain", "garbage", "hsclose", "hostile", "proxy-auth", "recut"):
        parser.add_argument("--%s-port" % role, type=int, default=0)
    parser.add_argument("--chain-port", action="append", default=[], metavar="NAME=PORT")
    args = parser.parse_args()
    try:
        TlsServers(args).serve()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
