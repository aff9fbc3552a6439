"""Hostile replies for the storm test: malformed or abusive answers, each kind
varied by a seed so that a run is repeatable.

  GET /hostile/kinds               200, one line per kind: "<name> <weight> <expect>"
  GET /hostile/<kind>/<seed>       that kind of reply, varied by the seed

<expect> is "fail" when no sound client can take the reply for a response (the
call must report an error) and "any" when it may pass for one. <weight> is how
often the storm asks for the kind; the slow kinds (which cost the client its
time-out) are rare. Every reply is bounded: the endless body stops at
ENDLESS_BODY_BOUND and then holds the connection without sending, and every
hold ends by the scenario server's own bounds.
"""

import random

ENDLESS_BODY_BOUND = 8 << 20    # bytes of a "never-ending" body before it stalls
HOLD_MS = 8000                  # how long stalled replies keep the connection (client gives up first)
MAX_HEADER_LINES = 12000        # more than the client's bound of 10000

STATUS = b"HTTP/1.0 200 OK\r\n"


def response(rng, body=None, extra=b""):
    body = body if body is not None else b"<html><a href=/x>x</a></html>\r\n"
    return (STATUS + b"Content-Type: text/html\r\n" + extra
            + b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)


def random_bytes(rng):
    return bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 4096))), {"end": rng.choice(["close", "reset"])}


def empty(rng):
    return b"", {"end": rng.choice(["close", "reset"])}


def truncated_status(rng):
    line = rng.choice([STATUS, b"HTTP/1.1 404 Not Found\r\n", b"HTTP/1.0 301 Moved\r\n"])
    return line[:rng.randint(1, len(line) - 2)], {"end": rng.choice(["close", "reset"])}


def truncated_header(rng):
    head = STATUS + b"Content-Type: text/plain\r\nX-Filler: " + b"a" * rng.randint(0, 300) + b"\r\n"
    line = rng.choice([b"Content-Length: 1234", b"Transfer-Encoding: chunked", b"Server: hostile"])
    return head + line[:rng.randint(0, len(line) - 1)], {"end": rng.choice(["close", "reset"])}


ABSURD_CHUNK_SIZES = [b"ffffffff", b"-1", b"f" * 40, b"1" * 40, b"7fffffff", b"80000000",
                      b"fffffffffffffffff", b"0x10", b"1 2", b"", b"\x00", b"g", b"+5", b"-0",
                      b"10;" + b"x" * 2000, b"00000000000000000000000000000000000000005"]


def absurd_chunk_size(rng):
    out = STATUS + b"Transfer-Encoding: chunked\r\n\r\n"
    for _ in range(rng.randint(0, 3)):
        data = b"y" * rng.randint(1, 64)
        out += b"%x\r\n" % len(data) + data + b"\r\n"
    out += rng.choice(ABSURD_CHUNK_SIZES) + b"\r\n" + b"z" * rng.randint(0, 5000)
    return out, {"end": rng.choice(["close", "reset"])}


def many_chunks(rng):
    count = rng.randint(1000, 20000)
    return STATUS + b"Transfer-Encoding: chunked\r\n\r\n" + b"1\r\nc\r\n" * count + b"0\r\n\r\n", {}


def negative_length(rng):
    value = rng.choice([b"-1", b"-2147483648", b"-99999999999999999999", b"- 5", b"-0"])
    body = b"b" * rng.randint(0, 3000)
    return STATUS + b"Content-Length: " + value + b"\r\n\r\n" + body, {"end": rng.choice(["close", "reset"])}


def huge_length(rng):
    value = rng.choice([b"2147483647", b"2147483648", b"4294967295", b"4294967296",
                        b"99999999999999999999", b"1e9", b"0x7fffffff", b"268435456"])
    body = b"h" * rng.randint(0, 3000)
    end = rng.choice(["close", "reset", "close", "keep-open %d" % HOLD_MS])
    return STATUS + b"Content-Length: " + value + b"\r\n\r\n" + body, {"end": end}


def many_headers(rng):
    count = rng.choice([2000, 5000, 9990, 10001, MAX_HEADER_LINES])
    lines = b"".join(b"X-H%d: %d\r\n" % (i, i) for i in range(count))
    return STATUS + lines + b"Content-Length: 2\r\n\r\nok", {}


def nul_bytes(rng):
    spots = [b"HTTP/1.0\x00200 OK\r\n", b"\x00\x00\x00\r\n", STATUS]
    out = rng.choice(spots) + b"X-Nul: a\x00b\r\n\x00Name: v\r\n"
    body = bytes(rng.choice([0, 0, 65, 10]) for _ in range(rng.randint(0, 2000)))
    return out + b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body, {}


def no_lf(rng):
    choice = rng.randint(0, 2)
    if choice == 0:    # lines ended by CR alone
        return STATUS.replace(b"\n", b"") + b"Content-Length: 2\r\r\rok", {"end": rng.choice(["close", "reset"])}
    if choice == 1:    # a status line that never ends, longer than any line the client takes
        return b"HTTP/1.0 200 " + b"O" * rng.randint(60000, 70000), {"end": rng.choice(["close", "reset"])}
    head = STATUS + b"X-Long: " + b"L" * rng.randint(60000, 70000) + b"\r\n\r\n"  # one huge header line
    return head, {}


def reset_at(rng):
    whole = response(rng, b"r" * rng.randint(0, 20000))
    head = whole.find(b"\r\n\r\n") + 4
    # Half the resets fall inside the status and header lines, half in the body.
    cut = rng.randint(0, head) if rng.random() < 0.5 else rng.randint(head, len(whole))
    return whole, {"cut-at": str(cut), "end": "reset"}


def garbage_status(rng):
    status = rng.choice([b"HTTP/1.0\r\n", b"HTTP/1.0 abc def\r\n", b"HTTP/1.0 99999999999999999999 X\r\n",
                         b"HTTP/9.9 -1 \r\n", b" \r\n", b"\r\n", b"200\r\n", b"HTTP/1.0 200 " + b"O" * 3000 + b"\r\n",
                         b"\xff\xfe\xfd\r\n", b"SSH-2.0-OpenSSH\r\n"])
    return status + b"Content-Length: 4\r\n\r\nbody", {"end": rng.choice(["close", "reset"])}


def garbage_headers(rng):
    lines = [b"NoColon", b":", b": value", b"Content-Length:", b"Content-Length: 4 4",
             b"Transfer-Encoding: chunked, gzip", b"Content-Type: text/html; charset=\xff\xfe",
             b" leading: space", b"X: " + b"\xe9" * 500, b"Set-Cookie: " + b"=" * 1000]
    head = STATUS + b"".join(rng.choice(lines) + b"\r\n" for _ in range(rng.randint(1, 30)))
    return head + b"\r\n" + b"body bytes" * rng.randint(0, 50), {"end": rng.choice(["close", "reset"])}


def redirect_loop(rng):
    # Relative targets only: a redirect must never lead off this machine.
    target = rng.choice([b"/hostile/redirect-loop/%d" % rng.randint(0, 9999), b"hostile/redirect-loop/1",
                         b"/hostile/redirect-loop/" + b"p" * rng.randint(1000, 60000)])
    return b"HTTP/1.0 302 Found\r\nLocation: " + target + b"\r\nContent-Length: 0\r\n\r\n", {}


def endless_body(rng):
    head = STATUS + rng.choice([b"", b"Content-Length: 2147483647\r\n", b"Transfer-Encoding: chunked\r\n"]) + b"\r\n"
    size = rng.randint(1 << 20, ENDLESS_BODY_BOUND)
    if b"chunked" in head:
        body = (b"%x\r\n" % 65536 + b"c" * 65536 + b"\r\n") * (size // 65536)
    else:
        body = b"e" * size
    return head + body, {"end": "keep-open %d" % HOLD_MS}


def slow_drip(rng):
    body = b"drip" * rng.randint(1, 5)
    # A byte every few milliseconds, each line well inside a one-second time-out.
    return STATUS + b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body, \
        {"drip": "1 %d" % rng.randint(5, 15)}


def stall(rng):
    reply = rng.choice([b"", STATUS, STATUS + b"Content-Length: 100\r\n\r\npartial", STATUS + b"X-Half: "])
    return reply, {"end": "keep-open %d" % HOLD_MS}


# name: (generator, weight, expect)
KINDS = {
    "random-bytes": (random_bytes, 10, "any"),
    "empty": (empty, 4, "fail"),
    "truncated-status": (truncated_status, 8, "fail"),
    "truncated-header": (truncated_header, 8, "any"),
    "absurd-chunk-size": (absurd_chunk_size, 10, "any"),
    "many-chunks": (many_chunks, 2, "any"),
    "negative-length": (negative_length, 6, "any"),
    "huge-length": (huge_length, 6, "any"),
    "many-headers": (many_headers, 3, "any"),
    "nul-bytes": (nul_bytes, 8, "any"),
    "no-lf": (no_lf, 6, "any"),
    "reset-at": (reset_at, 10, "any"),
    "garbage-status": (garbage_status, 8, "any"),
    "garbage-headers": (garbage_headers, 8, "any"),
    "redirect-loop": (redirect_loop, 2, "fail"),
    "endless-body": (endless_body, 1, "fail"),
    "slow-drip": (slow_drip, 1, "any"),
    "stall": (stall, 1, "fail"),
}


def kinds_listing():
    return b"".join(b"%s %d %s\r\n" % (name.encode(), weight, expect.encode())
                    for name, (_, weight, expect) in KINDS.items())


def reply(kind, seed):
    """(reply bytes, directives) for a kind and seed; None for an unknown kind."""
    entry = KINDS.get(kind)
    if entry is None:
        return None
    return entry[0](random.Random("%s/%s" % (kind, seed)))
