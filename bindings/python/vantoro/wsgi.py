"""A WSGI middleware that protects the HTML pages of any WSGI application.

    from vantoro.wsgi import ProtectMiddleware
    app.wsgi_app = ProtectMiddleware(app.wsgi_app, "Example Site:All rights reserved")  # Flask
    application = ProtectMiddleware(get_wsgi_application(), "...")                      # Django
"""

from __future__ import annotations

import itertools
from typing import Any, Callable, Iterable, Iterator

from . import Decoy, Error, Protector

__all__ = ["ProtectMiddleware"]

_PASSES = {"page": "protect_page", "content": "protect_content", "both": "protect"}
# Responses that have no body to protect.
_NO_BODY = {204, 304}

Headers = list[tuple[str, str]]
StartResponse = Callable[..., Callable[[bytes], Any]]
Application = Callable[[dict[str, Any], StartResponse], Iterable[bytes]]


class ProtectMiddleware:
    """Wraps a WSGI application and protects its text/html responses.

    A protected body is collected whole (streamed ones too), goes through the
    passes `passes` names ("both", "page" or "content"), and is sent with its
    Content-Length set. The pages' character set is the Content-Type's charset
    parameter, else `charset`; a page in a character set the system cannot
    convert to is sent unprotected and the error written to wsgi.errors.

    Passed unchanged: every other media type, responses without a body (1xx,
    204, 304), with "Cache-Control: no-transform", or with a Content-Encoding
    other than identity (compressed bytes are not HTML). The answer to a HEAD
    request loses its Content-Length, as the protected length is not known
    without the body.

    copyright, decoy and charset are as for vantoro.Protector; each response
    gets its own Protector, so any number of server threads may run the
    middleware.
    """

    def __init__(self, app: Application, copyright: str = "", *,
                 decoy: Decoy | str = Decoy.COPYRIGHT, charset: str = "UTF-8",
                 passes: str = "both") -> None:
        if passes not in _PASSES:
            raise ValueError(f"unknown passes {passes!r}: expected both, page or content")
        Protector(copyright, decoy=decoy, charset=charset)  # refuses bad options now
        self.app = app
        self._options = {"copyright": copyright, "decoy": decoy}
        self._charset = charset
        self._pass = _PASSES[passes]

    def __call__(self, environ: dict[str, Any], start_response: StartResponse) -> Iterable[bytes]:
        response = _Response(environ, start_response)
        result = self.app(environ, response.start_response)
        if response.passing:
            return result  # as it is: keeps wsgi.file_wrapper and close()
        chunks = iter(result)
        try:
            if response.status is None:
                # A generator application starts its response with its first chunk.
                response.body.extend(itertools.islice(chunks, 1))
            if not response.passing:
                response.body.extend(chunks)
        except BaseException:
            _close(result)
            raise
        if response.passing:
            return _Chain(response.body, chunks, result)
        _close(result)
        return [self._protect(response)]

    def _protect(self, response: _Response) -> bytes:
        if response.status is None:
            raise RuntimeError("the application returned without calling start_response")
        body = b"".join(response.body)
        charset = _charset_of(_header(response.headers, "content-type")) or self._charset
        try:
            protector = Protector(**self._options, charset=charset)
            body = getattr(protector, self._pass)(body)
        except Error as e:
            response.environ["wsgi.errors"].write(f"vantoro: page sent unprotected: {e}\n")
        headers = _without(response.headers, "content-length")
        headers.append(("Content-Length", str(len(body))))
        response.start(response.status, headers)
        return body


class _Response:
    """What the application has started: collected, or passed on as it comes."""

    def __init__(self, environ: dict[str, Any], start_response: StartResponse) -> None:
        self.environ = environ
        self.start = start_response
        self.status: str | None = None
        self.headers: Headers = []
        self.body: list[bytes] = []
        self.passing = False

    def start_response(self, status: str, headers: Headers, exc_info: Any = None):
        # Once passed on, later calls (with exc_info) are the server's to judge.
        if not self.passing and _transformable(status, headers):
            if self.environ.get("REQUEST_METHOD") != "HEAD":
                # Nothing is sent before the body is complete, so a second
                # call simply replaces the first.
                self.status, self.headers = status, headers
                return self.body.append
            headers = _without(headers, "content-length")
        self.passing = True
        return self.start(status, headers, exc_info)


class _Chain:
    """The chunk pulled to see the response start, then the rest of the app's."""

    def __init__(self, head: list[bytes], rest: Iterator[bytes], result: Iterable[bytes]) -> None:
        self._head, self._rest, self._result = head, rest, result

    def __iter__(self) -> Iterator[bytes]:
        yield from self._head
        yield from self._rest

    def close(self) -> None:
        _close(self._result)


def _transformable(status: str, headers: Headers) -> bool:
    code = int(status[:3])
    if code < 200 or code in _NO_BODY or not _is_html(headers):
        return False
    encoding = _header(headers, "content-encoding")
    if encoding is not None and encoding.strip().lower() != "identity":
        return False
    cache_control = _header(headers, "cache-control") or ""
    return "no-transform" not in (d.strip().lower() for d in cache_control.split(","))


def _is_html(headers: Headers) -> bool:
    content_type = _header(headers, "content-type") or ""
    return content_type.split(";")[0].strip().lower() == "text/html"


def _charset_of(content_type: str | None) -> str | None:
    for parameter in (content_type or "").split(";")[1:]:
        name, _, value = parameter.partition("=")
        if name.strip().lower() == "charset":
            return value.strip().strip('"') or None
    return None


def _header(headers: Headers, name: str) -> str | None:
    """The header's value, repeated ones joined by commas as HTTP allows."""
    values = [v for k, v in headers if k.lower() == name]
    return ", ".join(values) if values else None


def _without(headers: Headers, name: str) -> Headers:
    return [(k, v) for k, v in headers if k.lower() != name]


def _close(result: Iterable[bytes]) -> None:
    close = getattr(result, "close", None)
    if close is not None:
        close()
