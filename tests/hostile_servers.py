"""Loopback HTTP servers that misbehave on purpose: they trickle, flood or bomb.

`hostile(behaviour)` serves on 127.0.0.1 until the block ends; every connection
is answered by the behaviour, a function of the connected socket, on its own
thread. Each behaviour ends by itself (a bounded number of bytes or seconds),
so a client that never gives up does not keep a test alive for ever.
"""

from __future__ import annotations

import contextlib
import socket
import threading
import time
import zlib

TRICKLE_SECONDS = 30  # how long a trickle lasts at most: far beyond any time-out the tests use
BIG_BODY = 200 * 1000 * 1000  # bytes of the flood


def _read_request(conn: socket.socket) -> None:
    data = b""
    while b"\r\n\r\n" not in data:
        got = conn.recv(65536)
        if not got:
            return
        data += got


def _trickle(conn: socket.socket, head: bytes, stop: threading.Event) -> None:
    conn.sendall(head)
    for _ in range(TRICKLE_SECONDS):
        if stop.wait(1.0):
            return
        conn.sendall(b"a")


def trickle_headers(conn, stop):
    """A status line, then a header one byte a second."""
    _read_request(conn)
    _trickle(conn, b"HTTP/1.1 200 OK\r\nX-Slow: ", stop)


def trickle_body(conn, stop):
    """Headers at once, then a JSON body one byte a second."""
    _read_request(conn)
    _trickle(conn, b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n"
                   b'{"razao_social": "', stop)


def flood(conn, stop):
    """A 200 MB JSON text, sent as fast as the client reads; the count sent is kept on the socket's server."""
    _read_request(conn)
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                 b"Content-Length: %d\r\n\r\n" % BIG_BODY)
    chunk = b'{"razao_social": "'.ljust(1 << 20, b"x")
    sent = 0
    while sent < BIG_BODY and not stop.is_set():
        piece = chunk[: BIG_BODY - sent]
        conn.sendall(piece)
        sent += len(piece)
        chunk = b"x" * (1 << 20)


_BOMB: list[bytes] = []


def gzip_bomb_bytes() -> bytes:
    """A gzip text of 1 GiB of spaces in about a megabyte (made once)."""
    if not _BOMB:
        packer = zlib.compressobj(9, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
        block = b" " * (1 << 20)
        parts = [packer.compress(b'{"razao_social": "')]
        parts += [packer.compress(block) for _ in range(1024)]
        parts.append(packer.flush())
        _BOMB.append(b"".join(parts))
    return _BOMB[0]


def gzip_bomb(conn, stop):
    """A 200 answer of about a megabyte that is a gigabyte once decompressed."""
    _read_request(conn)
    bomb = gzip_bomb_bytes()
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
                 b"Content-Length: %d\r\n\r\n" % len(bomb))
    conn.sendall(bomb)


def status(code: int, headers: bytes = b""):
    """An answer with this status and a small body (503, 429 ...)."""
    def answer(conn, stop):
        _read_request(conn)
        body = b'{"message": "indisponivel"}'
        conn.sendall(b"HTTP/1.1 %d X\r\nContent-Type: application/json\r\n%sContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n%s" % (code, headers, len(body), body))
    return answer


@contextlib.contextmanager
def hostile(behaviour):
    """The base URL ("http://127.0.0.1:PORT") of a server answering every connection with `behaviour`."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.settimeout(0.2)
    stop = threading.Event()
    threads = []

    def serve_one(conn):
        with conn:
            try:
                behaviour(conn, stop)
                time.sleep(0.05)
            except OSError:
                pass  # the client hung up: what a bounded client does

    def accept():
        while not stop.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                continue
            conn.settimeout(TRICKLE_SECONDS + 5)
            t = threading.Thread(target=serve_one, args=(conn,), daemon=True)
            t.start()
            threads.append(t)

    acceptor = threading.Thread(target=accept, daemon=True)
    acceptor.start()
    try:
        yield f"http://127.0.0.1:{listener.getsockname()[1]}"
    finally:
        stop.set()
        acceptor.join()
        listener.close()
        for t in threads:
            t.join(timeout=5)
