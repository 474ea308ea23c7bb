"""A WSGI middleware that protects the HTML pages of any WSGI application.

    from vantoro.wsgi import ProtectMiddleware
    app.wsgi_app = ProtectMiddleware(app.wsgi_app, "Example Site:All rights reserved")  # Flask
    application = ProtectMiddleware(get_wsgi_application(), "...")                      # Django
"""

from __future__ import annotations

from typing import Any, Callable, Iterable, Iterator

from . import Error
from ._middleware import MARK_ID_KEY, PROTECTED, TOO_LARGE, Headers, Middleware, logger

__all__ = ["MARK_ID_KEY", "ProtectMiddleware"]

Environ = dict[str, Any]
Write = Callable[[bytes], object]
StartResponse = Callable[..., Write]
Application = Callable[[Environ, StartResponse], Iterable[bytes]]

#: What a range request carries: Range (or the older Request-Range), If-Range.
_RANGE_KEYS = ("HTTP_RANGE", "HTTP_REQUEST_RANGE", "HTTP_IF_RANGE")


class ProtectMiddleware(Middleware[Application, Environ]):
    """Wraps a WSGI application and protects the responses the policy allows.

    Each response is judged by the library's policy (vantoro.Policy): only a
    200 of text/html (or of `types`), not encoded, without "Cache-Control:
    no-transform" and without a Content-Range is protected. Everything else
    goes out exactly as the application gave it (file wrappers included).

    A protected body is collected whole, goes through the passes `passes`
    names ("both", "page" or "content") and is sent with its Content-Length;
    an ETag becomes weak, and Last-Modified, Accept-Ranges and body digests go
    (vantoro.protected_header). With charset "auto" each page is read in the
    set a browser would read it in: its byte order mark's, else the
    Content-Type's charset, else its <meta>. If the library fails, the
    original response is sent and the error logged.

    At most max_size bytes (default 8 MiB; None: no limit) are held: a body
    whose Content-Length is larger, or that grows beyond it, goes out
    unchanged, what was held first and then the rest as it comes
    ("too_large", reported as a failure).

    The application is not told what encodings the client accepts (no
    HTTP_ACCEPT_ENCODING), so that it sends pages that can be protected;
    compress outside the middleware (the web server, or a gzip middleware
    wrapped around this one).

    HEAD gets the headers the GET would get, without a Content-Length, and no
    body: the application's body is never sent. A Range (or Request-Range)
    request answered with 206 for a page that would be protected, or with
    several ranges (multipart/byteranges, whatever their type), is asked
    again without Range, Request-Range and If-Range, with the environ as it
    came (not as the application changed it), so the client gets the whole
    resource with 200 (a page protected), never a slice of the original. A
    206 the application sends on its own passes unchanged.

    The logger "vantoro" says why a response passed unchanged (DEBUG) and
    reports failures (ERROR, also written to wsgi.errors). debug=True adds
    "X-Vantoro-Status: <verdict>" to every response.

    Marks (on by default with a site_key, as for a Protector): each request
    gets a fresh mark id, new_mark_id(environ) (default: the time in seconds
    in the high 32 bits, 32 random bits in the low), that the page's marks
    carry. It is put in environ["vantoro.mark_id"] (MARK_ID_KEY) and given to
    on_mark(environ, id) before the application is called, so that it can go
    into the access log; vantoro.trace(copied_text, site_key) finds it again.
    Without marks neither happens.

    bypass(environ): a true result sends the request to the application
    untouched and its response out unchanged ("bypass"), e.g. for verified
    search crawlers (check their published address ranges, not only the
    User-Agent, which anyone can send).

    tdm_reservation=True: protected responses carry "tdm-reservation: 1" and
    their pages the reservation meta; tdm_policy (needs it): a URL sent as
    "tdm-policy". A header of the same name the application sent is kept.

    The other options are vantoro.Protector's; bad ones, and media types the
    passes would break, raise vantoro.Error here. Each response gets its own
    Protector, so any number of server threads may run the middleware.
    """

    def __call__(self, environ: Environ, start_response: StartResponse) -> Iterable[bytes]:
        if self._bypassed(environ):
            if not self._debug:
                return self.app(environ, start_response)

            def bypassed(status: str, headers: Headers, exc_info: Any = None) -> Write:
                return start_response(status, self._marked(list(headers), "bypass"), exc_info)

            return self.app(environ, bypassed)
        mark_id = self._issue_mark_id(environ)
        return self._serve(environ, start_response, mark_id)

    def _serve(self, environ: Environ, start_response: StartResponse,
               mark_id: int | None) -> Iterable[bytes]:
        if "HTTP_ACCEPT_ENCODING" in environ:
            # An application that compresses when asked would hand every
            # browser its page past the passes: compress outside this layer.
            environ = {k: v for k, v in environ.items() if k != "HTTP_ACCEPT_ENCODING"}
        response = _Response(self, environ, start_response)
        # Routers change the environ in place (a mount moves PATH_INFO into
        # SCRIPT_NAME): a range asked again starts from the request as it came.
        whole = ({k: v for k, v in environ.items() if k not in _RANGE_KEYS}
                 if response.ranged else None)
        result = self.app(environ, response.start_response)
        if response.state == _Response.PASS:
            return result  # as it is: keeps wsgi.file_wrapper and close()
        chunks = iter(result)
        try:
            if response.state is None:
                # A generator application starts its response with its first chunk.
                for chunk in chunks:
                    if response.state == _Response.HOLD and not response.head:
                        response.hold(chunk)  # counted for max_size as every other
                    else:
                        response.body.append(chunk)
                    break
            if response.state in (None, _Response.PASS):
                return _Chain(response.body, chunks, result)
            if response.state == _Response.HOLD and not response.head:
                # A later start_response (with exc_info) may still pass the
                # response on; the body then restarts with it.
                for chunk in chunks:
                    response.hold(chunk)
                    if response.state == _Response.PASS:
                        return _Chain(response.body, chunks, result)  # over max_size
        except BaseException:
            _close(result)
            raise
        # Closed before the protected answer goes out: a HEAD's or a replaced
        # range answer's body is never read.
        _close(result)
        if response.state == _Response.RETRY:
            assert whole is not None
            logger.debug("%s: a range of a protected page; asking for the whole page",
                         self._describe(whole))
            return self._serve(whole, start_response, mark_id)  # the same request, the same id
        if response.state == _Response.PASS:
            return response.body
        return self._send_protected(response, mark_id)

    def _send_protected(self, response: _Response, mark_id: int | None) -> list[bytes]:
        if response.head:
            response.send(PROTECTED, self._protected_headers(response.headers, None))
            return []
        body = b"".join(response.body)
        if not body:
            response.send("empty", response.headers)
            return response.body
        try:
            protected = self._protect(body, response.headers, mark_id)
        except Error as e:
            message = self._failed(response.environ, e)
            response.environ["wsgi.errors"].write(f"vantoro: {message}\n")
            response.send("error", response.headers)
            return response.body
        response.send(PROTECTED, self._protected_headers(response.headers, len(protected)))
        return [protected]

    def _describe(self, environ: Environ) -> str:
        return f"{environ.get('REQUEST_METHOD', '')} {environ.get('PATH_INFO', '')}"

    def _report(self, environ: Environ, verdict: str) -> None:
        message = self._unchanged(environ, verdict)
        if message:
            environ["wsgi.errors"].write(f"vantoro: {message}\n")


class _Response:
    """What the application has started: held, replaced, or passed on as it comes."""

    HOLD = "hold"  # protected: headers and body kept until the body is complete
    RETRY = "retry"  # a 206 for a range of a protected page: asked again without Range
    PASS = "pass"  # passed on to the server

    def __init__(self, middleware: ProtectMiddleware, environ: Environ,
                 start_response: StartResponse) -> None:
        self.middleware = middleware
        self.environ = environ
        self.start = start_response
        self.head = environ.get("REQUEST_METHOD") == "HEAD"
        # Read before the application runs: it may change the environ.
        self.ranged = "HTTP_RANGE" in environ or "HTTP_REQUEST_RANGE" in environ
        self.state: str | None = None
        self.status: str | None = None
        self.headers: Headers = []
        self.body: list[bytes] = []
        self.size = 0
        self.server_write: Write = _discard

    def start_response(self, status: str, headers: Headers, exc_info: Any = None) -> Write:
        # Once passed on, later calls (with exc_info) are the server's to judge.
        if self.state == self.PASS:
            return self.start(status, headers, exc_info)
        # Nothing was sent yet, so a second call (with exc_info) replaces the first.
        self.body.clear()
        self.size = 0
        verdict = self.middleware._judge(_status_code(status), headers)
        if verdict == PROTECTED:
            self.state, self.status, self.headers = self.HOLD, status, list(headers)
            return _discard if self.head else self.write
        if self.ranged and self.middleware._ask_whole(_status_code(status), headers):
            self.state = self.RETRY
            return _discard
        self.state = self.PASS
        self.middleware._report(self.environ, verdict)
        return self.start(status, self.middleware._marked(list(headers), verdict), exc_info)

    def hold(self, chunk: bytes) -> None:
        """Keeps a chunk of a protected body; over max_size the response is passed on."""
        self.body.append(chunk)
        self.size += len(chunk)
        if self.middleware._too_large(self.size):
            self.send(TOO_LARGE, self.headers)

    def write(self, data: bytes) -> None:
        """The write callable of a held response."""
        if self.state != self.HOLD:
            self.server_write(data)
            return
        self.hold(data)
        if self.state == self.PASS:
            for chunk in self.body:
                self.server_write(chunk)
            self.body.clear()

    def send(self, verdict: str, headers: Headers) -> None:
        """Starts the held response with these headers."""
        assert self.status is not None
        if verdict not in (PROTECTED, "error"):  # an error is logged with its reason
            self.middleware._report(self.environ, verdict)
        self.state = self.PASS
        self.server_write = self.start(self.status, self.middleware._marked(headers, verdict))


class _Chain:
    """The chunks already taken from the application's response, then the rest of it."""

    def __init__(self, head: list[bytes], rest: Iterator[bytes], result: Iterable[bytes]) -> None:
        self._head, self._rest, self._result = head, rest, result

    def __iter__(self) -> Iterator[bytes]:
        yield from self._head
        yield from self._rest

    def close(self) -> None:
        _close(self._result)


def _discard(data: bytes) -> None:
    """The write callable of a response that is replaced."""


def _status_code(status: str) -> int:
    # A malformed status is the server's to refuse; the policy passes it.
    try:
        return int(status.split(None, 1)[0])
    except (ValueError, IndexError, AttributeError):
        return 0


def _close(result: Iterable[bytes]) -> None:
    close = getattr(result, "close", None)
    if close is not None:
        close()

