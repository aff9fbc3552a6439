"""A server-side TLS session over a plain socket, through ssl.SSLObject and two
MemoryBIOs: the library makes and reads the records, the caller decides which
encrypted bytes go on the wire, in what pieces and when (drip, cut, reset in
the middle of a record).

recv() and settimeout() let scenario_server.read_request read a request
through the session as if from a socket. Every wait is bounded by a deadline.
"""

import ctypes
import ssl
import sys
import time

MAX_RECORD = 16384           # largest plaintext of one record
HANDSHAKE_TIME_LIMIT = 30.0  # seconds for the client's part of a handshake
DEFAULT_READ_TIME = 30.0     # seconds recv() waits when no time-out was set


class TlsError(Exception):
    pass


def loaded_libssl():
    """The libssl the ssl module itself uses (the one mapped into this process)."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if "/libssl.so" in path:
                return ctypes.CDLL(path)
    raise TlsError("the ssl module uses no shared libssl")


def server_context(cert_chain, key, maximum_version=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_chain, key)
    if maximum_version is not None:
        context.maximum_version = maximum_version
    return context


def recut_handshake(data, size, state):
    """The records of data with every clear-text handshake record (type 22,
    before the ChangeCipherSpec) cut into records of at most size bytes of
    payload, which TLS allows; state["clear"] and state["pending"] carry over
    between calls. Records after the ChangeCipherSpec are left as they are."""
    data = state["pending"] + data
    out = b""
    # Bounded by len(data): every pass takes one whole record or stops.
    while len(data) >= 5:
        length = int.from_bytes(data[3:5], "big")
        if len(data) < 5 + length:
            break
        kind, header, payload = data[0], data[:3], data[5:5 + length]
        data = data[5 + length:]
        if kind == 20:
            state["clear"] = False
        if kind == 22 and state["clear"]:
            for start in range(0, len(payload), size):
                piece = payload[start:start + size]
                out += header + len(piece).to_bytes(2, "big") + piece
        else:
            out += header + length.to_bytes(2, "big") + payload
    state["pending"] = data
    return out


class TlsSession:
    def __init__(self, conn, context, recut=None):
        """recut: cut the handshake's clear-text records into records of at
        most this many bytes as they are sent."""
        self.conn = conn
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.timeout = None
        self._native_handle = None
        self._recut = recut
        self._recut_state = {"clear": True, "pending": b""}

    # --- the wire --------------------------------------------------------

    def take_output(self):
        """The encrypted bytes the library produced and nobody sent yet."""
        return self.outgoing.read()

    def flush(self):
        data = self.outgoing.read()
        if data and self._recut:
            data = recut_handshake(data, self._recut, self._recut_state)
        if data:
            self.conn.sendall(data)

    def feed(self, deadline):
        """Receives once from the peer within the deadline; False at its close."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("the peer sent nothing in time")
        self.conn.settimeout(remaining)
        data = self.conn.recv(65536)
        if not data:
            self.incoming.write_eof()
            return False
        self.incoming.write(data)
        return True

    # --- handshake ---------------------------------------------------------

    def handshake(self, deadline=None, send=True):
        """Completes the handshake. With send False the server's flight is
        left in the output for the caller (take_output) and only the first
        flight is made: the caller means to spoil it."""
        deadline = deadline or time.monotonic() + HANDSHAKE_TIME_LIMIT
        # Bounded by the deadline: every pass waits for more of the peer's bytes.
        while True:
            try:
                self.tls.do_handshake()
                if send:
                    self.flush()
                return
            except ssl.SSLWantReadError:
                if not send and self.outgoing.pending:
                    return
                if send:
                    self.flush()
                if not self.feed(deadline):
                    raise TlsError("the peer closed during the handshake")

    # --- socket-like reading, for scenario_server.read_request ---------------

    def settimeout(self, seconds):
        self.timeout = seconds

    def recv(self, size):
        """Plaintext from the peer; b"" at its close_notify or its close."""
        deadline = time.monotonic() + (self.timeout if self.timeout is not None else DEFAULT_READ_TIME)
        # Bounded by the deadline: every pass consumes bytes of the peer or waits for them.
        while True:
            try:
                data = self.tls.read(size)
                self.flush()
                return data
            except ssl.SSLWantReadError:
                self.flush()
                if self.incoming.eof:
                    return b""
                self.feed(deadline)
            except (ssl.SSLZeroReturnError, ssl.SSLEOFError):
                return b""

    # --- writing -----------------------------------------------------------

    def encrypt(self, data, record_size=MAX_RECORD):
        """The encrypted records of data, one list item per record of at most
        record_size plaintext bytes (and anything pending before them)."""
        record_size = max(1, min(record_size, MAX_RECORD))
        records = []
        for start in range(0, len(data), record_size):
            self.tls.write(data[start:start + record_size])
            records.append(self.outgoing.read())
        return records

    def close_notify(self):
        """The encrypted close_notify alert."""
        try:
            self.tls.unwrap()
        except ssl.SSLError:
            pass  # unwrap waits for the peer's alert, which is not needed here
        return self.outgoing.read()

    def version(self):
        return self.tls.version() or "?"

    # --- post-handshake messages -------------------------------------------
    # Python's ssl module has no call for a key update or a renegotiation;
    # libssl has. The session's SSL pointer is read from CPython's object
    # layout and checked against what the module itself reports before use,
    # through the very libssl the module is linked with.

    def _native(self):
        if self._native_handle is None:
            self._native_handle = self._find_native()
        return self._native_handle

    def _find_native(self):
        """libssl and this session's SSL pointer, checked while the handshake is done."""
        if sys.implementation.name != "cpython" or ctypes.sizeof(ctypes.c_void_p) != 8:
            raise TlsError("post-handshake messages need 64-bit CPython")
        libssl = loaded_libssl()
        libssl.SSL_get_version.restype = ctypes.c_char_p
        libssl.SSL_get_version.argtypes = [ctypes.c_void_p]
        libssl.SSL_is_server.argtypes = [ctypes.c_void_p]
        libssl.SSL_key_update.argtypes = [ctypes.c_void_p, ctypes.c_int]
        libssl.SSL_renegotiate.argtypes = [ctypes.c_void_p]
        libssl.SSL_renegotiate_pending.argtypes = [ctypes.c_void_p]
        libssl.SSL_do_handshake.argtypes = [ctypes.c_void_p]
        # PySSLSocket: PyObject_HEAD (16 bytes), PyObject *Socket, SSL *ssl.
        pointer = ctypes.c_void_p.from_address(id(self.tls._sslobj) + 24).value
        if not pointer or libssl.SSL_is_server(pointer) != 1 or \
                (libssl.SSL_get_version(pointer) or b"").decode() != self.version():
            raise TlsError("cannot reach the session inside the ssl module")
        return libssl, pointer

    def key_update(self):
        """Encrypted TLS 1.3 KeyUpdate (asking the peer to update too)."""
        libssl, pointer = self._native()
        if libssl.SSL_key_update(pointer, 1) != 1:
            raise TlsError("key update refused (TLS 1.3 only)")
        libssl.SSL_do_handshake(pointer)
        return self.outgoing.read()

    def hello_request(self):
        """Encrypted TLS 1.2 HelloRequest: asks the client to renegotiate."""
        libssl, pointer = self._native()
        if libssl.SSL_renegotiate(pointer) != 1:
            raise TlsError("renegotiation refused (TLS 1.2 only)")
        libssl.SSL_do_handshake(pointer)
        return self.outgoing.read()

    def renegotiation_pending(self):
        libssl, pointer = self._native()
        return libssl.SSL_renegotiate_pending(pointer) == 1
