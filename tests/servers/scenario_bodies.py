"""Body transforms of scenario files: body-zeros, body-coding, body-damage and
body-chunks turn the bytes after a reply's empty line into compressed,
damaged or chunked bodies (see scenarios/README.md). Standard library only."""

import zlib

MAX_ZERO_BYTES = 1 << 31         # largest body-zeros (compressed as it is made)


class ScenarioError(Exception):
    pass


def split_head(reply):
    """(head with its empty line, body) of a reply; no body without an empty line."""
    end = reply.find(b"\r\n\r\n")
    skip = 4
    if end < 0:
        end, skip = reply.find(b"\n\n"), 2
    if end < 0:
        return reply, b""
    return reply[:end + skip], reply[end + skip:]


def compress(data, coding, zeros):
    """The body in a content coding: gzip, zlib (deflate as RFC 9110 means it) or raw-deflate."""
    bits = {"gzip": 16 + 15, "zlib": 15, "raw-deflate": -15}.get(coding)
    if bits is None:
        raise ScenarioError("body-coding must be gzip, zlib or raw-deflate")
    packer = zlib.compressobj(6, zlib.DEFLATED, bits)
    if zeros:
        if zeros > MAX_ZERO_BYTES:
            raise ScenarioError("body-zeros of %d bytes is too large" % zeros)
        piece = bytes(1 << 20)
        out = []
        for start in range(0, zeros, len(piece)):   # bounded by zeros
            out.append(packer.compress(piece[:min(len(piece), zeros - start)]))
        return b"".join(out) + packer.flush()
    return packer.compress(data) + packer.flush()


def damage(body, how):
    """truncate N (drop the last N bytes), flip OFFSET (invert a byte; negative from
    the end), trail TEXT (append bytes after the compressed data)."""
    kind, _, value = how.partition(" ")
    if kind == "truncate":
        return body[:max(0, len(body) - int(value))]
    if kind == "flip":
        offset = int(value) % len(body)
        return body[:offset] + bytes([body[offset] ^ 0xFF]) + body[offset + 1:]
    if kind == "trail":
        return body + value.encode("latin-1")
    raise ScenarioError("body-damage must be truncate N, flip OFFSET or trail TEXT")


def chunked(body, size):
    """The body in chunked coding, size bytes a chunk, with the last chunk."""
    out = []
    for start in range(0, len(body), size):   # bounded by the body's length
        piece = body[start:start + size]
        out.append(b"%x\r\n%s\r\n" % (len(piece), piece))
    return b"".join(out) + b"0\r\n\r\n"


def transform_body(reply, scenario):
    """body-zeros, body-coding, body-damage and body-chunks, in that order, on the
    bytes after the reply's empty line."""
    coding = scenario.option("body-coding")
    zeros = int(scenario.option("body-zeros", "0"))
    chunk_size = int(scenario.option("body-chunks", "0"))
    how = scenario.option("body-damage")
    if not (coding or zeros or chunk_size or how):
        return reply
    head, body = split_head(reply)
    if coding:
        body = compress(body, coding, zeros)
    elif zeros:
        raise ScenarioError("body-zeros needs a body-coding")
    if how:
        body = damage(body, how)
    if chunk_size > 0:
        body = chunked(body, chunk_size)
    return head + body
