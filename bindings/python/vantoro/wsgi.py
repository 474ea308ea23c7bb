"""A WSGI middleware that protects the HTML pages of any WSGI application.

    from vantoro.wsgi import ProtectMiddleware
    app.wsgi_app = ProtectMiddleware(app.wsgi_app, "Example Site:All rights reserved")  # Flask
    application = ProtectMiddleware(get_wsgi_application(), "...")                      # Django
"""

from __future__ import annotations

import logging
from typing import Any, Callable, Iterable, Iterator

from . import (Decoy, Error, Hide, Policy, Protector, _invalid, new_mark_id as _new_mark_id,
               protected_header)
from ._vantoro import _check_mark_id

__all__ = ["MARK_ID_KEY", "ProtectMiddleware"]

#: The environ key that holds the mark id of the request's page.
MARK_ID_KEY = "vantoro.mark_id"

logger = logging.getLogger("vantoro")

_PASSES = {"page": "protect_page", "content": "protect_content", "both": "protect"}
_DEBUG_HEADER = "X-Vantoro-Status"
_PROTECTED = "protected"

Headers = list[tuple[str, str]]
Environ = dict[str, Any]
Write = Callable[[bytes], object]
StartResponse = Callable[..., Write]
Application = Callable[[Environ, StartResponse], Iterable[bytes]]


def _fresh_mark_id(environ: Environ) -> int:
    return _new_mark_id()


def _field_value_ok(value: str) -> bool:
    # A header value must not hold a line break (a second header) or other
    # control characters.
    return value != "" and all(" " <= c != "\x7f" for c in value)


class ProtectMiddleware:
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

    The application is not told what encodings the client accepts (no
    HTTP_ACCEPT_ENCODING), so that it sends pages that can be protected;
    compress outside the middleware (the web server, or a gzip middleware
    wrapped around this one).

    HEAD gets the headers the GET would get, without a Content-Length, and no
    body: the application's body is never sent. A Range request answered with
    206 for a page that would be protected is asked again without Range, so
    the client gets the whole protected page with 200, never a slice of the
    original. A 206 the application sends on its own passes unchanged.

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

    def __init__(self, app: Application, copyright: str = "", *,
                 decoy: Decoy | str = Decoy.COPYRIGHT, charset: str = "auto",
                 hide: Hide | str = Hide.LAYERED, site_key: str = "", stylesheet_link: str = "",
                 nosnippet: bool = False, empty_notices: bool = False, copy_notices: int = 4,
                 marks: bool | None = None, tdm_reservation: bool = False,
                 tdm_policy: str | None = None,
                 new_mark_id: Callable[[Environ], int] | None = None,
                 on_mark: Callable[[Environ, int], object] | None = None,
                 bypass: Callable[[Environ], object] | None = None, passes: str = "both",
                 types: Iterable[str] = (), debug: bool = False) -> None:
        if passes not in _PASSES:
            raise _invalid(f"unknown passes {passes!r}: expected both, page or content")
        self._options: dict[str, Any] = {
            "copyright": copyright, "decoy": decoy, "charset": charset, "hide": hide,
            "site_key": site_key, "stylesheet_link": stylesheet_link, "nosnippet": nosnippet,
            "empty_notices": empty_notices, "copy_notices": copy_notices, "marks": marks,
            "tdm_reservation": tdm_reservation}
        protector = Protector(**self._options)
        if passes != "page":
            # What the content pass refuses (copyright decoys without a text)
            # is refused now, not on every page.
            protector.protect_content(b"")
        self._tdm_headers: Headers = []
        if tdm_policy is not None:
            if not tdm_reservation:
                raise _invalid("tdm_policy needs tdm_reservation")
            if not isinstance(tdm_policy, str) or not _field_value_ok(tdm_policy):
                raise _invalid(f"the tdm policy must be a URL without control characters, "
                               f"not {tdm_policy!r}")
        if tdm_reservation:
            self._tdm_headers.append(("tdm-reservation", "1"))
            if tdm_policy is not None:
                self._tdm_headers.append(("tdm-policy", tdm_policy))
        self._policy = Policy()
        for media_type in [types] if isinstance(types, str) else types:
            self._policy.add_type(media_type)
        self.app = app
        self._pass = _PASSES[passes]
        self._debug = debug
        # The page pass alone makes no marks, so it needs no ids.
        self._marks = protector.marks and passes != "page"
        self._options["marks"] = protector.marks
        self._new_mark_id = new_mark_id or _fresh_mark_id
        self._on_mark = on_mark
        self._bypass = bypass

    def __call__(self, environ: Environ, start_response: StartResponse) -> Iterable[bytes]:
        if self._bypass is not None and self._bypass(environ):
            logger.debug("%s: sent unchanged (bypass)", _request(environ))
            if not self._debug:
                return self.app(environ, start_response)

            def bypassed(status: str, headers: Headers, exc_info: Any = None) -> Write:
                return start_response(status, self._marked(list(headers), "bypass"), exc_info)

            return self.app(environ, bypassed)
        mark_id = None
        if self._marks:
            # Known before the application runs, for its access log.
            # Checked now: no page could carry a bad id.
            mark_id = _check_mark_id(self._new_mark_id(environ))
            environ[MARK_ID_KEY] = mark_id
            if self._on_mark is not None:
                self._on_mark(environ, mark_id)
        return self._serve(environ, start_response, mark_id)

    def _serve(self, environ: Environ, start_response: StartResponse,
               mark_id: int | None) -> Iterable[bytes]:
        if "HTTP_ACCEPT_ENCODING" in environ:
            # An application that compresses when asked would hand every
            # browser its page past the passes: compress outside this layer.
            environ = {k: v for k, v in environ.items() if k != "HTTP_ACCEPT_ENCODING"}
        response = _Response(self, environ, start_response)
        response.mark_id = mark_id
        result = self.app(environ, response.start_response)
        if response.state == _Response.PASS:
            return result  # as it is: keeps wsgi.file_wrapper and close()
        chunks = iter(result)
        try:
            if response.state is None:
                # A generator application starts its response with its first chunk.
                for chunk in chunks:
                    response.body.append(chunk)
                    break
            if response.state in (None, _Response.PASS):
                return _Chain(response.body, chunks, result)
            if response.state == _Response.HOLD and not response.head:
                # A later start_response (with exc_info) may still pass the
                # response on; the body then restarts with it.
                for chunk in chunks:
                    response.body.append(chunk)
        except BaseException:
            _close(result)
            raise
        # Closed before the protected answer goes out: a HEAD's or a replaced
        # range answer's body is never read.
        _close(result)
        if response.state == _Response.RETRY:
            logger.debug("%s: a range of a protected page; asking for the whole page",
                         _request(environ))
            whole = dict(environ)
            whole.pop("HTTP_RANGE", None)
            whole.pop("HTTP_IF_RANGE", None)
            return self._serve(whole, start_response, mark_id)  # the same request, the same id
        if response.state == _Response.PASS:
            return response.body
        return self._protect(response)

    def _protect(self, response: _Response) -> list[bytes]:
        assert response.status is not None
        if response.head:
            response.send(_PROTECTED, self._protected_headers(response.headers, None))
            return []
        body = b"".join(response.body)
        if not body:
            response.send("empty", response.headers)
            return response.body
        protector = Protector(**self._options)
        try:
            protector.transport_charset = _charset_parameter(
                _header(response.headers, "content-type"))
            if response.mark_id is None:
                protected: bytes = getattr(protector, self._pass)(body)
            else:
                protected = getattr(protector, self._pass)(body, mark_id=response.mark_id)
        except Error as e:
            message = f"{_request(response.environ)}: page sent unprotected: {e}"
            logger.error("%s", message)
            response.environ["wsgi.errors"].write(f"vantoro: {message}\n")
            response.send("error", response.headers)
            return response.body
        response.send(_PROTECTED, self._protected_headers(response.headers, len(protected)))
        return [protected]

    def _protected_headers(self, headers: Headers, length: int | None) -> Headers:
        edited = _protected_headers(headers, length)
        return edited + [(name, value) for name, value in self._tdm_headers
                         if _header(headers, name) is None]

    def _judge(self, status: str, headers: Headers, *, as_whole: bool = False) -> str:
        """The policy's verdict; as_whole: as if the response were the whole 200."""
        return self._policy.judge(200 if as_whole else _status_code(status),
                                  _header(headers, "content-type"),
                                  _header(headers, "content-encoding"),
                                  _header(headers, "cache-control"),
                                  not as_whole and _header(headers, "content-range") is not None)

    def _marked(self, headers: Headers, verdict: str) -> Headers:
        return headers + [(_DEBUG_HEADER, verdict)] if self._debug else headers


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
        self.state: str | None = None
        self.mark_id: int | None = None
        self.status: str | None = None
        self.headers: Headers = []
        self.body: list[bytes] = []

    def start_response(self, status: str, headers: Headers, exc_info: Any = None) -> Write:
        # Once passed on, later calls (with exc_info) are the server's to judge.
        if self.state == self.PASS:
            return self.start(status, headers, exc_info)
        # Nothing was sent yet, so a second call (with exc_info) replaces the first.
        self.body.clear()
        judge = self.middleware._judge
        verdict = judge(status, headers)
        if verdict == _PROTECTED:
            self.state, self.status, self.headers = self.HOLD, status, list(headers)
            return _discard if self.head else self.body.append
        if (verdict == "status" and _status_code(status) == 206 and "HTTP_RANGE" in self.environ
                and judge(status, headers, as_whole=True) == _PROTECTED):
            self.state = self.RETRY
            return _discard
        self.state = self.PASS
        logger.debug("%s: sent unchanged (%s)", _request(self.environ), verdict)
        return self.start(status, self.middleware._marked(list(headers), verdict), exc_info)

    def send(self, verdict: str, headers: Headers) -> None:
        """Starts the held response with these headers."""
        assert self.status is not None
        if verdict not in (_PROTECTED, "error"):  # an error is logged with its reason
            logger.debug("%s: sent unchanged (%s)", _request(self.environ), verdict)
        self.state = self.PASS
        self.start(self.status, self.middleware._marked(headers, verdict))


class _Chain:
    """The chunk pulled to see the response start, then the rest of the app's."""

    def __init__(self, head: list[bytes], rest: Iterator[bytes], result: Iterable[bytes]) -> None:
        self._head, self._rest, self._result = head, rest, result

    def __iter__(self) -> Iterator[bytes]:
        yield from self._head
        yield from self._rest

    def close(self) -> None:
        _close(self._result)


def _discard(data: bytes) -> None:
    """The write callable of a response that is replaced."""


def _protected_headers(headers: Headers, length: int | None) -> Headers:
    """The headers of the protected page; length None: not known (HEAD)."""
    edited: Headers = []
    for name, value in headers:
        action = protected_header(name)
        if action == "keep":
            edited.append((name, value))
        elif action == "weaken":
            value = value.strip()
            edited.append((name, value if value.startswith("W/") else "W/" + value))
    if length is not None:
        edited.append(("Content-Length", str(length)))
    return edited


def _status_code(status: str) -> int:
    # A malformed status is the server's to refuse; the policy passes it.
    try:
        return int(status.split(None, 1)[0])
    except (ValueError, IndexError, AttributeError):
        return 0


def _charset_parameter(content_type: str | None) -> str | None:
    for parameter in (content_type or "").split(";")[1:]:
        name, _, value = parameter.partition("=")
        if name.strip().lower() == "charset":
            return value.strip().strip('"').strip() or None
    return None


def _header(headers: Headers, name: str) -> str | None:
    """The header's value, repeated ones joined by ", " as HTTP allows."""
    values = [v for k, v in headers if k.lower() == name]
    return ", ".join(values) if values else None


def _request(environ: Environ) -> str:
    return f"{environ.get('REQUEST_METHOD', '')} {environ.get('PATH_INFO', '')}"


def _close(result: Iterable[bytes]) -> None:
    close = getattr(result, "close", None)
    if close is not None:
        close()
