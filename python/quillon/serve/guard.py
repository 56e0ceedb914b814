"""What stands before every route: the access token and the size of a request's body.

Both are plain ASGI middleware, so they hold for every route the application
has, the documentation's included, and refuse before a body is read.
"""

from __future__ import annotations

import hmac
import json
from http.cookies import SimpleCookie
from typing import Any, Callable, Optional

from starlette.exceptions import HTTPException

from quillon.serve import pages

Scope = dict[str, Any]
ASGIApp = Callable[..., Any]

TOKEN_COOKIE = "quillon_token"
#: Room for the multipart framing around the largest file accepted.
MULTIPART_SLACK = 64 * 1024


async def _answer(send, status: int, detail: str, *, html: Optional[str] = None,
                  headers: tuple[tuple[bytes, bytes], ...] = ()) -> None:
    if html is not None:
        body, kind = html.encode(), b"text/html; charset=utf-8"
    else:
        body, kind = json.dumps({"detail": detail}, ensure_ascii=False).encode(), b"application/json"
    await send({"type": "http.response.start", "status": status,
                "headers": [(b"content-type", kind), (b"content-length", str(len(body)).encode()), *headers]})
    await send({"type": "http.response.body", "body": body})


def _header(scope: Scope, name: bytes) -> Optional[str]:
    for key, value in scope.get("headers") or ():
        if key.lower() == name:
            return value.decode("latin-1")
    return None


class TokenGuard:
    """Every request carries the token (``Authorization: Bearer``, or the page's cookie), or gets 401."""

    def __init__(self, app: ASGIApp, token: Optional[str]) -> None:
        self.app = app
        self.token = token.encode() if token else None

    def _presented(self, scope: Scope) -> Optional[bytes]:
        auth = _header(scope, b"authorization") or ""
        scheme, _, value = auth.partition(" ")
        if scheme.lower() == "bearer" and value.strip():
            return value.strip().encode()
        cookie = _header(scope, b"cookie")
        if cookie:
            jar = SimpleCookie()
            try:
                jar.load(cookie)
            except Exception:
                return None
            if TOKEN_COOKIE in jar:
                from urllib.parse import unquote

                return unquote(jar[TOKEN_COOKIE].value).encode()
        return None

    async def __call__(self, scope: Scope, receive, send) -> None:
        if self.token is None or scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        presented = self._presented(scope)
        if presented is not None and hmac.compare_digest(presented, self.token):
            await self.app(scope, receive, send)
            return
        wants_page = "text/html" in (_header(scope, b"accept") or "")
        await _answer(send, 401, "token de acesso ausente ou inválido (Authorization: Bearer TOKEN)",
                      html=pages.unauthorized_page() if wants_page else None,
                      headers=((b"www-authenticate", b'Bearer realm="quillon"'),))


class _TooLarge(HTTPException):
    # An HTTPException: the framework answers it as it is, where it would turn
    # any other failure of reading the form into a 400.
    def __init__(self, message: str) -> None:
        super().__init__(413, message)


class BodyLimit:
    """A request body longer than the limit gets 413 before the application reads past it."""

    def __init__(self, app: ASGIApp, max_bytes: int, message: str) -> None:
        self.app = app
        self.max_bytes = max_bytes + MULTIPART_SLACK
        self.message = message

    async def __call__(self, scope: Scope, receive, send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        length = _header(scope, b"content-length")
        if length is not None and length.strip().isdigit() and int(length) > self.max_bytes:
            await _answer(send, 413, self.message, headers=((b"connection", b"close"),))
            return
        seen = 0
        started = False

        async def counted_receive():
            nonlocal seen
            message = await receive()
            if message["type"] == "http.request":
                seen += len(message.get("body", b""))
                if seen > self.max_bytes:
                    raise _TooLarge(self.message)
            return message

        async def tracked_send(message):
            nonlocal started
            if message["type"] == "http.response.start":
                started = True
            await send(message)

        try:
            await self.app(scope, counted_receive, tracked_send)
        except _TooLarge:
            if not started:
                await _answer(send, 413, self.message, headers=((b"connection", b"close"),))
