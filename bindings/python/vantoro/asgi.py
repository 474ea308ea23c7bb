"""An ASGI middleware that protects the HTML pages of any ASGI application.

    from vantoro.asgi import ProtectMiddleware
    app.add_middleware(ProtectMiddleware, copyright="Example Site")  # Starlette, FastAPI
    application = ProtectMiddleware(get_asgi_application(), "Example Site")  # Django
"""

from __future__ import annotations

import asyncio
from typing import Any, Awaitable, Callable, Iterable, MutableMapping

from . import Error
from ._middleware import MARK_ID_KEY, PROTECTED, TOO_LARGE, Headers, Middleware, logger

__all__ = ["MARK_ID_KEY", "ProtectMiddleware"]

Scope = MutableMapping[str, Any]
Message = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[Message]]
Send = Callable[[Message], Awaitable[None]]
ASGIApp = Callable[[Scope, Receive, Send], Awaitable[None]]

#: What a range request carries: Range (or the older Request-Range), If-Range.
_RANGES = (b"range", b"request-range", b"if-range")
#: Extensions that send a body the server reads from a file: not offered to
#: the application, which then sends its body in messages that can be held.
_FILE_SENDS = ("http.response.pathsend", "http.response.zerocopysend")


class ProtectMiddleware(Middleware[ASGIApp, Scope]):
    """Wraps an ASGI application and protects the responses the policy allows.

    The options and rules are vantoro.wsgi.ProtectMiddleware's, with the
    scope in place of the environ: only a 200 of text/html (or of `types`),
    not encoded, without "Cache-Control: no-transform" and without a
    Content-Range is protected; everything else goes out as the application
    sends it. Connections other than HTTP (websocket, lifespan) pass as they
    are.

    A protected body is collected from its messages, goes through the passes
    (in the event loop's default executor, so that the loop serves other
    requests meanwhile; the library releases the GIL) and is sent in one
    message with its Content-Length; an ETag becomes weak, Last-Modified,
    Accept-Ranges and body digests go. At most max_size bytes (default 8
    MiB; None: no limit) are held: a body whose Content-Length is larger, or
    that grows beyond it, goes out unchanged, what was held first and then
    the rest as it comes ("too_large"). If the library fails, the original
    goes out and the error is logged.

    The application sees no Accept-Encoding header and is not offered the
    http.response.pathsend and zerocopysend extensions, so that it sends
    pages that can be protected: compress outside the middleware. HEAD gets
    the headers the GET would get, without a Content-Length, and no body. A
    Range (or Request-Range) request answered with 206 for a page that would
    be protected, or with several ranges (multipart/byteranges, whatever
    their type), is asked again without Range, Request-Range and If-Range,
    with the scope as it came (not as the application changed it) and the
    request body the application read given to it again, so the client gets
    the whole resource with 200 (a page protected). A 206 the application
    sends on its own passes unchanged.

    The logger "vantoro" says why a response passed unchanged (DEBUG) and
    reports failures and too_large (ERROR); debug=True adds
    "x-vantoro-status: <verdict>" to every HTTP response.

    With marks, each request gets a fresh id, new_mark_id(scope), put in
    scope["vantoro.mark_id"] (MARK_ID_KEY; the application gets a copy of
    the server's scope) and given to on_mark(scope, id) before the
    application runs. bypass(scope) sends a request to the application
    untouched and its response out unchanged.

    Starlette and FastAPI build it themselves, from keywords:
    app.add_middleware(ProtectMiddleware, copyright="...", site_key="...").
    """

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        if self._bypassed(scope):
            await self.app(scope, receive, self._bypass_send(send) if self._debug else send)
            return
        # The application gets its own scope: what is changed here is not the server's.
        scope = dict(scope)
        mark_id = self._issue_mark_id(scope)
        # An application that compresses when asked would hand every browser
        # its page past the passes: compress outside this layer.
        scope["headers"] = _without(scope.get("headers", ()), b"accept-encoding")
        extensions = scope.get("extensions")
        if extensions and any(name in extensions for name in _FILE_SENDS):
            scope["extensions"] = {name: value for name, value in extensions.items()
                                   if name not in _FILE_SENDS}
        ranged = any(name.lower() in (b"range", b"request-range")
                     for name, _ in scope["headers"])
        recorded = _Recorded(receive) if ranged else None
        # Routers change the scope in place (a mount moves the path into
        # root_path): a range asked again starts from the request as it came.
        whole = dict(scope, headers=_without(scope["headers"], *_RANGES)) if ranged else None
        response = _Response(self, scope, send, mark_id, ranged=ranged)
        await self.app(scope, recorded or receive, response.send)
        if response.state == _Response.RETRY:
            assert recorded is not None and whole is not None
            logger.debug("%s: a range of a protected page; asking for the whole page",
                         self._describe(whole))
            response = _Response(self, whole, send, mark_id, ranged=False)
            await self.app(whole, recorded.replay(), response.send)
        await response.finish()

    def _describe(self, scope: Scope) -> str:
        return f"{scope.get('method', '')} {scope.get('path', '')}"

    def _bypass_send(self, send: Send) -> Send:
        async def marked(message: Message) -> None:
            if message["type"] == "http.response.start":
                message = _with_headers(message, self._marked(_text(message), "bypass"))
            await send(message)

        return marked


class _Response:
    """What the application has started: held, replaced, or passed on as it comes."""

    HOLD = "hold"  # protected: the start and the body kept until the body is complete
    RETRY = "retry"  # a 206 for a range of a protected page: asked again without Range
    PASS = "pass"  # passed on to the server
    DONE = "done"  # answered here (HEAD): what the application sends after is dropped

    def __init__(self, middleware: ProtectMiddleware, scope: Scope, send: Send,
                 mark_id: int | None, *, ranged: bool) -> None:
        self.middleware = middleware
        self.scope = scope
        self.server_send = send
        self.mark_id = mark_id
        self.ranged = ranged
        self.head = scope.get("method") == "HEAD"
        self.state: str | None = None
        self.start: Message = {}
        self.headers: Headers = []
        self.body: list[bytes] = []
        self.size = 0

    async def send(self, message: Message) -> None:
        if self.state == self.PASS:
            await self.server_send(message)
            return
        if self.state in (self.RETRY, self.DONE):
            return
        kind = message["type"]
        if self.state is None and kind == "http.response.start":
            await self._started(message)
        elif self.state == self.HOLD and kind == "http.response.body":
            chunk = bytes(message.get("body", b""))
            self.body.append(chunk)
            self.size += len(chunk)
            more = bool(message.get("more_body", False))
            if self.middleware._too_large(self.size):
                await self._pass_held(TOO_LARGE, more)
            elif not more:
                await self._complete()
        elif self.state == self.HOLD:
            # Trailers, or a body the server is to read from a file: what
            # cannot be collected goes out as the application sent it.
            self.middleware._failed(self.scope, f"the application sent {kind}")
            await self._pass_held("error", True)
            await self.server_send(message)
        else:
            await self.server_send(message)  # not a response of ours to judge

    async def _started(self, message: Message) -> None:
        status = message.get("status", 0)
        headers = _text(message)
        verdict = self.middleware._judge(status, headers)
        if verdict == PROTECTED and self.head:
            await self._answer(message, PROTECTED,
                               self.middleware._protected_headers(headers, None), b"")
            self.state = self.DONE
        elif verdict == PROTECTED:
            self.state, self.start, self.headers = self.HOLD, message, headers
        elif self.ranged and self.middleware._ask_whole(status, headers):
            self.state = self.RETRY
        else:
            self.state = self.PASS
            self.middleware._unchanged(self.scope, verdict)
            await self.server_send(self._marked(message, verdict))

    async def _complete(self) -> None:
        body = b"".join(self.body)
        if not body:
            await self._pass_held("empty", False)
            return
        try:
            protected = await self._passes(body)
        except Error as e:
            self.middleware._failed(self.scope, e)
            await self._pass_held("error", False)
            return
        self.state = self.PASS  # trailers, if any, follow
        await self._answer(self.start, PROTECTED,
                           self.middleware._protected_headers(self.headers, len(protected)),
                           protected)

    async def _passes(self, body: bytes) -> bytes:
        protect = self.middleware._protect
        try:
            loop = asyncio.get_running_loop()
        except RuntimeError:  # another event loop than asyncio's
            return protect(body, self.headers, self.mark_id)
        return await loop.run_in_executor(None, protect, body, self.headers, self.mark_id)

    async def _pass_held(self, verdict: str, more_body: bool) -> None:
        """Sends the held start and body as the application gave them."""
        if verdict not in (PROTECTED, "error"):  # an error is logged with its reason
            self.middleware._unchanged(self.scope, verdict)
        self.state = self.PASS
        await self.server_send(self._marked(self.start, verdict))
        await self.server_send({"type": "http.response.body", "body": b"".join(self.body),
                                "more_body": more_body})
        self.body.clear()

    async def _answer(self, start: Message, verdict: str, headers: Headers, body: bytes) -> None:
        await self.server_send(_with_headers(start, self.middleware._marked(headers, verdict)))
        await self.server_send({"type": "http.response.body", "body": body})

    def _marked(self, message: Message, verdict: str) -> Message:
        if not self.middleware._debug:
            return message
        return _with_headers(message, self.middleware._marked(_text(message), verdict))

    async def finish(self) -> None:
        """After the application returned: a response it left unfinished goes out as it is."""
        if self.state == self.HOLD:
            self.middleware._failed(self.scope, "the application ended its response unfinished")
            await self._pass_held("error", True)


class _Recorded:
    """The request messages the application read, to give a second call of it."""

    def __init__(self, receive: Receive) -> None:
        self._receive = receive
        self._messages: list[Message] = []

    async def __call__(self) -> Message:
        message = await self._receive()
        self._messages.append(message)
        return message

    def replay(self) -> Receive:
        pending = list(self._messages)

        async def receive() -> Message:
            return pending.pop(0) if pending else await self._receive()

        return receive


def _without(headers: Iterable[tuple[bytes, bytes]], *names: bytes) -> list[tuple[bytes, bytes]]:
    return [(name, value) for name, value in headers if name.lower() not in names]


def _text(message: Message) -> Headers:
    # Latin-1 maps every byte to one character and back: nothing is lost.
    return [(bytes(name).decode("latin-1"), bytes(value).decode("latin-1"))
            for name, value in message.get("headers", ())]


def _with_headers(message: Message, headers: Headers) -> Message:
    return dict(message, headers=[(name.lower().encode("latin-1"), value.encode("latin-1"))
                                  for name, value in headers])
