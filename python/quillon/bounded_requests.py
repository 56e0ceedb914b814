"""HTTP requests through ``requests``, bounded in time and in size.

``requests`` applies its ``timeout`` to connecting and to each read of the
socket: a server that sends one byte a second keeps a call busy for as long as
it likes.  And without ``stream`` it reads the whole body, decompressed,
however large: a megabyte of gzip can stand for a gigabyte.  The registry
lookups need both bounds, so here:

- ``timeout`` bounds the whole exchange: connecting, sending, the status line
  and headers, and the body.  Each connection attempt and each socket read is
  given at most the time left, and a watchdog shuts the connection's socket
  down when the time is up, which ends a read that is trickling along.  The
  call then raises ``DeadlineExceeded`` (a ``requests.Timeout``).
- the body is read as it arrives and decompressed here (gzip, deflate) with a
  cap on every step's output: at most ``max_bytes`` (5 MiB by default) are
  ever held.  A longer answer raises ``AnswerTooLarge`` (a
  ``requests.RequestException``).  Only gzip and deflate are asked for.

``get`` and ``post`` take the arguments of ``requests.get`` and
``requests.post`` and return a ``requests.Response`` whose content is already
read (``stream`` is not accepted).  ``for_module`` is how a module that calls
``requests.get(...)`` through its own ``requests`` attribute (the compiled
``cnpj`` and ``ie`` modules) keeps the bounds while that attribute is the real
package, and calls whatever a caller put in its place otherwise.
"""

from __future__ import annotations

import heapq
import itertools
import os
import socket
import threading
import time
import zlib
from typing import Any, Callable, Optional

import requests
import urllib3
from requests.adapters import HTTPAdapter
from urllib3.connectionpool import HTTPConnectionPool, HTTPSConnectionPool

#: The largest answer read, decompressed (no registry answer comes near).
MAX_ANSWER_BYTES = 5 << 20
ACCEPT_ENCODING = "gzip, deflate"
_CHUNK = 64 << 10
_INFLATE_STEP = 256 << 10
# After the deadline, how often the watchdog looks again for a socket to shut
# (the connection may have been between attempts when it first looked).
_RECHECK = 0.05


class AnswerTooLarge(requests.RequestException):
    """An answer longer than the bytes a bounded request reads (decompressed)."""


class DeadlineExceeded(requests.Timeout):
    """A bounded request that did not complete (connection, headers and body) within its time-out."""


# --- the deadline ----------------------------------------------------------------------------
class _Watch:
    """One exchange under a deadline: the connection it is using, shut when the time is up."""

    def __init__(self, seconds: float):
        self.seconds = seconds
        self.deadline = time.monotonic() + seconds
        self.conn: Any = None
        self.fired = False
        self.closed = False

    def remaining(self) -> float:
        return self.deadline - time.monotonic()

    def expired(self) -> bool:
        return self.fired or self.remaining() <= 0

    def fire(self) -> bool:
        """Shut the connection's socket down; whether to look again later (the exchange goes on)."""
        if self.closed:
            return False
        self.fired = True
        sock = getattr(self.conn, "sock", None)
        if sock is not None:
            try:
                # The plain socket's shutdown, also under TLS: it ends a read blocked in another
                # thread, where SSLSocket.shutdown would first drop the TLS object under it.
                socket.socket.shutdown(sock, socket.SHUT_RDWR)
            except (OSError, ValueError):
                pass
        return True

    def error(self, url: str) -> DeadlineExceeded:
        return DeadlineExceeded(f"{url}: timed out: no complete answer within {self.seconds:g} s")


class _Watchdog:
    """One thread for every bounded exchange of the process, woken at the next deadline."""

    def __init__(self) -> None:
        self._cv = threading.Condition()
        self._heap: list[tuple[float, int, _Watch]] = []
        self._order = itertools.count()
        self._thread: Optional[threading.Thread] = None

    def add(self, watch: _Watch) -> None:
        with self._cv:
            entry = (watch.deadline, next(self._order), watch)
            heapq.heappush(self._heap, entry)
            if self._thread is None:
                self._thread = threading.Thread(target=self._run, name="quillon-http-deadline", daemon=True)
                self._thread.start()
            if self._heap[0] is entry:  # else the thread wakes earlier anyway: no switch to it per request
                self._cv.notify()

    def _run(self) -> None:
        while True:
            with self._cv:
                while True:
                    while self._heap and self._heap[0][2].closed:
                        heapq.heappop(self._heap)
                    if not self._heap:
                        self._cv.wait()
                        continue
                    wait = self._heap[0][0] - time.monotonic()
                    if wait <= 0:
                        watch = heapq.heappop(self._heap)[2]
                        break
                    self._cv.wait(wait)
            if watch.fire():  # outside the lock: a shutdown may take its time
                with self._cv:
                    heapq.heappush(self._heap, (time.monotonic() + _RECHECK, next(self._order), watch))


_watchdog = _Watchdog()
_current = threading.local()  # the watch of the exchange this thread is running


def _after_fork() -> None:
    # The watchdog's thread does not survive a fork; the child starts its own on first use.
    global _watchdog, _current
    _watchdog = _Watchdog()
    _current = threading.local()


os.register_at_fork(after_in_child=_after_fork)


def _current_watch() -> Optional[_Watch]:
    return getattr(_current, "watch", None)


class _WatchedPool:
    """A connection pool that shows the current exchange's watch the connection it hands out."""

    def _get_conn(self, timeout=None):
        conn = super()._get_conn(timeout)  # type: ignore[misc]
        watch = _current_watch()
        if watch is not None:
            watch.conn = conn
        return conn


class _HTTPPool(_WatchedPool, HTTPConnectionPool):
    pass


class _HTTPSPool(_WatchedPool, HTTPSConnectionPool):
    pass


_POOLS = {"http": _HTTPPool, "https": _HTTPSPool}


def _shrink(timeout: Any, left: float) -> Any:
    """A requests time-out whose parts are at most `left` seconds."""
    left = max(left, 0.001)
    if isinstance(timeout, tuple):
        return tuple(left if part is None else min(part, left) for part in timeout)
    if isinstance(timeout, (int, float)):
        return min(timeout, left)
    return left


class BoundedAdapter(HTTPAdapter):
    """The transport of a bounded session: connections under the current exchange's deadline."""

    def init_poolmanager(self, *args, **kwargs) -> None:
        super().init_poolmanager(*args, **kwargs)
        self.poolmanager.pool_classes_by_scheme = _POOLS

    def proxy_manager_for(self, proxy, **proxy_kwargs):
        manager = super().proxy_manager_for(proxy, **proxy_kwargs)
        if set(manager.pool_classes_by_scheme.values()) <= {HTTPConnectionPool, HTTPSConnectionPool}:
            manager.pool_classes_by_scheme = _POOLS  # not SOCKS: those pools are its own
        return manager

    def send(self, request, stream=False, timeout=None, verify=True, cert=None, proxies=None):
        watch = _current_watch()
        if watch is not None:
            # Every hop (a redirect is one) connects and reads within the time left.
            left = watch.remaining()
            if left <= 0:
                raise watch.error(request.url)
            timeout = _shrink(timeout, left)
        response = super().send(request, stream=stream, timeout=timeout, verify=verify, cert=cert, proxies=proxies)
        if stream and response.is_redirect:
            # requests reads a redirect's body before following it: capped here first.
            _read_capped(response, MAX_ANSWER_BYTES, watch)
        return response


def new_session() -> requests.Session:
    """A ``requests.Session`` whose exchanges through ``request`` are bounded."""
    s = requests.Session()
    adapter = BoundedAdapter()
    s.mount("http://", adapter)
    s.mount("https://", adapter)
    s.headers["Accept-Encoding"] = ACCEPT_ENCODING
    return s


# --- the body --------------------------------------------------------------------------------
class _Inflater:
    """gzip or deflate decompression whose output never passes a cap."""

    def __init__(self, coding: str):
        self.gzip = coding in ("gzip", "x-gzip")
        self.wbits = 16 + zlib.MAX_WBITS if self.gzip else zlib.MAX_WBITS
        self.inflate = zlib.decompressobj(self.wbits)
        self.started = False

    def feed(self, data: bytes, out: bytearray, cap: int) -> None:
        while data:
            try:
                # Small steps: the output of one never holds much more than the cap in memory.
                piece = self.inflate.decompress(data, min(cap + 1 - len(out), _INFLATE_STEP))
            except zlib.error as error:
                if self.gzip or self.started:
                    raise requests.exceptions.ContentDecodingError(f"answer is not valid {self._name()}: {error}")
                # "deflate" is sent with and without the zlib header; the first bytes tell.
                self.wbits = -zlib.MAX_WBITS
                self.inflate = zlib.decompressobj(self.wbits)
                self.started = True
                continue
            self.started = True
            out += piece
            if len(out) > cap:
                raise AnswerTooLarge(f"answer larger than {cap} bytes (decompressed)")
            if self.inflate.eof:
                data = self.inflate.unused_data
                if not (data and self.gzip):
                    return  # bytes after a deflate stream are ignored, as urllib3 does
                self.inflate = zlib.decompressobj(self.wbits)  # the next gzip member
            else:
                data = self.inflate.unconsumed_tail

    def finish(self, out: bytearray, cap: int) -> None:
        out += self.inflate.flush(cap + 1 - len(out))
        if len(out) > cap:
            raise AnswerTooLarge(f"answer larger than {cap} bytes (decompressed)")

    def _name(self) -> str:
        return "gzip" if self.gzip else "deflate"


def _read_body(response: requests.Response, cap: int, watch: Optional[_Watch]) -> None:
    coding = response.headers.get("Content-Encoding", "").strip().lower()
    inflater = _Inflater(coding) if coding in ("gzip", "x-gzip", "deflate") else None
    # Another coding (asked for by nobody) is left to urllib3, whose output is capped here too.
    decode = inflater is None and coding not in ("", "identity")
    out = bytearray()
    raw = response.raw
    while True:
        if watch is not None and watch.expired():
            raise watch.error(response.url)
        chunk = raw.read(_CHUNK, decode_content=decode)
        if not chunk:
            break
        if inflater is not None:
            inflater.feed(chunk, out, cap)
        else:
            out += chunk
            if len(out) > cap:
                raise AnswerTooLarge(f"answer larger than {cap} bytes")
    if inflater is not None:
        inflater.finish(out, cap)
    response._content = bytes(out)
    response._content_consumed = True


def _read_capped(response: requests.Response, cap: int, watch: Optional[_Watch]) -> None:
    """``_read_body`` with the transport's errors as the request errors ``requests`` raises."""
    try:
        _read_body(response, cap, watch)
    except requests.RequestException:
        raise  # ours (too large, too late) or already a request error; an OSError too, hence first
    except (urllib3.exceptions.HTTPError, OSError) as error:
        if watch is not None and watch.fired:
            raise watch.error(response.url) from error
        if isinstance(error, urllib3.exceptions.ReadTimeoutError):
            raise requests.exceptions.ReadTimeout(error) from error
        raise requests.exceptions.ConnectionError(error) from error


def _total(timeout: Any) -> Optional[float]:
    """The whole exchange's time-out in seconds (a tuple's parts added), None for none."""
    if isinstance(timeout, bool):
        return float(timeout)
    if isinstance(timeout, (int, float)):
        return float(timeout)
    if isinstance(timeout, tuple):
        parts = [p for p in timeout if isinstance(p, (int, float))]
        return float(sum(parts)) if parts else None
    return None


# --- the calls -------------------------------------------------------------------------------
def request(method: str, url: str, *, timeout: Any = None, session: Optional[requests.Session] = None,
            max_bytes: int = MAX_ANSWER_BYTES, **kwargs: Any) -> requests.Response:
    """``requests.request`` with the whole exchange within ``timeout`` seconds and at most
    ``max_bytes`` of body read (decompressed); the response's content is read.

    ``session`` should come from ``session()`` (else only the body is bounded in
    time); without one, a new one serves this call and is closed after it.
    Raises ``DeadlineExceeded``, ``AnswerTooLarge`` or any error of
    ``requests.request``.
    """
    if "stream" in kwargs:
        raise TypeError("request() reads the answer itself: 'stream' is not accepted")
    own = session is None
    if own:
        session = new_session()
    seconds = _total(timeout)
    watch = _Watch(seconds) if seconds is not None else None
    outer = _current_watch()
    _current.watch = watch
    if watch is not None:
        _watchdog.add(watch)
    try:
        try:
            response = session.request(method, url, timeout=timeout, stream=True, **kwargs)
        except requests.RequestException as error:
            if watch is not None and watch.fired:
                raise watch.error(url) from error
            raise
        try:
            if not response._content_consumed:
                _read_capped(response, max_bytes, watch)
        finally:
            response.close()
        return response
    finally:
        if watch is not None:
            watch.closed = True
        _current.watch = outer
        if own:
            session.close()


def get(url: str, **kwargs: Any) -> requests.Response:
    """``requests.get`` bounded: see ``request``."""
    return request("GET", url, **kwargs)


def post(url: str, **kwargs: Any) -> requests.Response:
    """``requests.post`` bounded: see ``request``."""
    return request("POST", url, **kwargs)


_UNBOUNDED = {"get": requests.get, "post": requests.post}
_BOUNDED: dict[str, Callable[..., requests.Response]] = {"get": get, "post": post}


def for_module(client: Any, method: str) -> Callable[..., Any]:
    """What a module whose ``requests`` attribute is ``client`` calls for ``client.<method>(...)``:
    the bounded call while ``client`` is the ``requests`` package and its function is its own,
    else the function of whatever stands in (a test double, a patched ``requests.get``)."""
    call = getattr(client, method)
    if client is requests and call is _UNBOUNDED.get(method):
        return _BOUNDED[method]
    return call


__all__ = ["MAX_ANSWER_BYTES", "AnswerTooLarge", "DeadlineExceeded", "BoundedAdapter", "new_session", "request",
           "get", "post", "for_module"]
