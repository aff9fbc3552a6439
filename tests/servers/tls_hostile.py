"""TLS-level faults for the hostile-server storm, one per connection.

Connection n (counted from 0 since the server started, in the order the
connections are accepted) gets kind SEQUENCE[n % len(SEQUENCE)], varied by
random.Random("tls-hostile/<n>"): any run of len(SEQUENCE) consecutive
connections meets every kind once, and the same n always gets the same bytes.

  garbage-server-hello  random bytes (1..4096) instead of a ServerHello, then close or reset
  truncated-handshake   the first part of the real server flight, then close
  reset-in-handshake    the first part of the real server flight, then reset
  short-silence         nothing for 1 to 3 s after the ClientHello, then close
  plain-http            a plain HTTP/1.0 200 answer instead of a ServerHello, then close
  garbage-records       full handshake and request, then application records of
                        random bytes (or plain HTTP text), then close
  close-mid-record      full handshake and request, a reply cut in the middle of a record, close
  reset-mid-record      the same, then reset
  oversized-record      full handshake and request, then a record header announcing
                        more than 16384 + 2048 bytes and some of them, then close
  valid                 full handshake and a 200 answer: "valid hostile reply <n>" as text/plain

Only "valid" may succeed; every other kind must end in an error within the
client's time-out. Each connection ends within a few seconds.
"""

import functools
import random
import socket
import struct
import time

import scenario_server as scenario
from tls_session import TlsSession, TlsError

SILENCE_RANGE_MS = (1000, 3000)


def read_client_hello(conn, seconds=10.0):
    """The bytes of the client's first record (its ClientHello), read within the bound."""
    deadline = time.monotonic() + seconds
    data = b""
    # Bounded by the deadline and the record's announced length.
    while len(data) < 5 or len(data) < 5 + struct.unpack(">H", data[3:5])[0]:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            break
        conn.settimeout(remaining)
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def reset(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def end(conn, how):
    if how == "reset":
        reset(conn)
    else:
        scenario.finish(conn, "close")


def random_bytes(rng, low, high):
    return bytes(rng.getrandbits(8) for _ in range(rng.randint(low, high)))


def plain_reply(text):
    return scenario.simple_response("200 OK", text.encode())


def garbage_server_hello(conn, context, rng, n):
    read_client_hello(conn)
    conn.sendall(random_bytes(rng, 1, 4096))
    end(conn, rng.choice(["close", "reset"]))


def spoiled_handshake(conn, context, rng, n, how):
    session = TlsSession(conn, context)
    session.handshake(send=False)
    flight = session.take_output()
    conn.sendall(flight[:rng.randint(1, max(1, len(flight) - 1))])
    end(conn, how)


def short_silence(conn, context, rng, n):
    read_client_hello(conn)
    scenario.wait_for_peer_close(conn, rng.randint(*SILENCE_RANGE_MS) / 1000.0)
    conn.close()


def plain_http(conn, context, rng, n):
    read_client_hello(conn)
    conn.sendall(plain_reply("plain HTTP on a TLS port\r\n"))
    scenario.finish(conn, "close")


def open_session(conn, context):
    """A session after the handshake and the whole request."""
    session = TlsSession(conn, context)
    session.handshake()
    scenario.read_request(session, read_body=True)
    return session


def garbage_records(conn, context, rng, n):
    open_session(conn, context)
    if rng.random() < 0.25:
        conn.sendall(plain_reply("plain text after the handshake\r\n"))
    else:
        for _ in range(rng.randint(1, 4)):
            payload = random_bytes(rng, 1, 2000)
            conn.sendall(b"\x17\x03\x03" + struct.pack(">H", len(payload)) + payload)
    end(conn, "close")


def mid_record(conn, context, rng, n, how):
    session = open_session(conn, context)
    body = bytes((i * 7) % 251 for i in range(rng.randint(20000, 60000)))
    head = b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
    if rng.random() < 0.5:
        head += b"Content-Length: " + str(len(body)).encode() + b"\r\n"
    records = session.encrypt(head + b"\r\n" + body)
    last = records[-1]
    conn.sendall(b"".join(records[:-1]) + last[:rng.randint(1, len(last) - 1)])
    end(conn, how)


def oversized_record(conn, context, rng, n):
    open_session(conn, context)
    length = rng.randint(16384 + 2048 + 1, 0xFFFF)
    conn.sendall(b"\x17\x03\x03" + struct.pack(">H", length) + random_bytes(rng, 0, 4096))
    end(conn, rng.choice(["close", "reset"]))


def valid(conn, context, rng, n):
    session = open_session(conn, context)
    conn.sendall(b"".join(session.encrypt(plain_reply("valid hostile reply %d" % n))) + session.close_notify())
    scenario.finish(conn, "close")


SEQUENCE = [
    ("garbage-server-hello", garbage_server_hello),
    ("truncated-handshake", functools.partial(spoiled_handshake, how="close")),
    ("reset-in-handshake", functools.partial(spoiled_handshake, how="reset")),
    ("short-silence", short_silence),
    ("plain-http", plain_http),
    ("garbage-records", garbage_records),
    ("close-mid-record", functools.partial(mid_record, how="close")),
    ("reset-mid-record", functools.partial(mid_record, how="reset")),
    ("oversized-record", oversized_record),
    ("valid", valid),
]


def serve(conn, context, n):
    """Plays connection n's fault; returns the kind's name."""
    name, play = SEQUENCE[n % len(SEQUENCE)]
    try:
        play(conn, context, random.Random("tls-hostile/%d" % n), n)
    except (OSError, TimeoutError, TlsError, scenario.ScenarioError):
        conn.close()
    return name
