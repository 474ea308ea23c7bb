"""What the WSGI and ASGI middlewares share: their options, the policy's
verdicts, the headers of a protected response and the passes over a body."""

from __future__ import annotations

import logging
import operator
from typing import Any, Callable, Generic, Iterable, MutableMapping, TypeVar

from . import (Decoy, Hide, Policy, Protector, _invalid, new_mark_id as _new_mark_id,
               protected_header)
from ._vantoro import _check_mark_id

#: The key of the request's environ (WSGI) or scope (ASGI) that holds the mark
#: id of its page.
MARK_ID_KEY = "vantoro.mark_id"

#: The default max_size: the most body held, as the nginx module's default.
MAX_SIZE = 8 * 1024 * 1024

logger = logging.getLogger("vantoro")

PROTECTED = "protected"
TOO_LARGE = "too_large"
DEBUG_HEADER = "X-Vantoro-Status"
_PASSES = {"page": "protect_page", "content": "protect_content", "both": "protect"}

Headers = list[tuple[str, str]]
App = TypeVar("App")
Request = TypeVar("Request", bound=MutableMapping[str, Any])


def _fresh_mark_id(request: object) -> int:
    return _new_mark_id()


def _field_value_ok(value: str) -> bool:
    # A header value must not hold a line break (a second header) or other
    # control characters.
    return value != "" and all(" " <= c != "\x7f" for c in value)


class Middleware(Generic[App, Request]):
    """The options and rules of a middleware; the subclass speaks its interface."""

    def __init__(self, app: App, copyright: str = "", *,
                 decoy: Decoy | str = Decoy.COPYRIGHT, charset: str = "auto",
                 hide: Hide | str = Hide.LAYERED, site_key: str = "", stylesheet_link: str = "",
                 nosnippet: bool = False, empty_notices: bool = False, copy_notices: int = 4,
                 marks: bool | None = None, tdm_reservation: bool = False,
                 tdm_policy: str | None = None,
                 new_mark_id: Callable[[Request], int] | None = None,
                 on_mark: Callable[[Request, int], object] | None = None,
                 bypass: Callable[[Request], object] | None = None, passes: str = "both",
                 types: Iterable[str] = (), max_size: int | None = MAX_SIZE,
                 debug: bool = False) -> None:
        if passes not in _PASSES:
            raise _invalid(f"unknown passes {passes!r}: expected both, page or content")
        if max_size is not None:
            max_size = operator.index(max_size)
            if max_size < 0:
                raise _invalid(f"max_size must be 0 or more, or None, not {max_size}")
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
        self._max_size = max_size
        self._debug = debug
        # The page pass alone makes no marks, so it needs no ids.
        self._marks = protector.marks and passes != "page"
        self._options["marks"] = protector.marks
        self._new_mark_id: Callable[[Request], int] = new_mark_id or _fresh_mark_id
        self._on_mark = on_mark
        self._bypass = bypass

    def _describe(self, request: Request) -> str:
        """The request as the log names it: its method and path."""
        raise NotImplementedError

    def _bypassed(self, request: Request) -> bool:
        if self._bypass is None or not self._bypass(request):
            return False
        logger.debug("%s: sent unchanged (bypass)", self._describe(request))
        return True

    def _issue_mark_id(self, request: Request) -> int | None:
        """The request's mark id, stored in it and told to on_mark; None without marks."""
        if not self._marks:
            return None
        # Known before the application runs, for its access log.
        # Checked now: no page could carry a bad id.
        mark_id = _check_mark_id(self._new_mark_id(request))
        request[MARK_ID_KEY] = mark_id
        if self._on_mark is not None:
            self._on_mark(request, mark_id)
        return mark_id

    def _judge(self, status: int, headers: Headers, *, as_whole: bool = False) -> str:
        """The policy's verdict; as_whole: as if the response were the whole 200.

        A protected response whose Content-Length is over max_size is
        too_large at once: it would only be held to be sent unchanged.
        """
        verdict = self._policy.judge(200 if as_whole else status,
                                     header(headers, "content-type"),
                                     header(headers, "content-encoding"),
                                     header(headers, "cache-control"),
                                     not as_whole and header(headers, "content-range") is not None)
        if verdict == PROTECTED and not as_whole:
            try:
                if self._too_large(int(header(headers, "content-length") or 0)):
                    return TOO_LARGE
            except ValueError:
                pass  # a malformed length is the server's to refuse
        return verdict

    def _ask_whole(self, status: int, headers: Headers) -> bool:
        """Whether a 206 answering a range request is asked again without its
        range headers: a range of a page that would be protected, or several
        ranges (multipart/byteranges, which hides the page's own type)."""
        if status != 206:
            return False
        media_type = (header(headers, "content-type") or "").split(";")[0].strip().lower()
        return (media_type == "multipart/byteranges"
                or self._judge(200, headers, as_whole=True) == PROTECTED)

    def _too_large(self, size: int) -> bool:
        return self._max_size is not None and size > self._max_size

    def _protect(self, body: bytes, headers: Headers, mark_id: int | None) -> bytes:
        """The passes over a whole body; raises Error when the library fails."""
        protector = Protector(**self._options)
        protector.transport_charset = _charset_parameter(header(headers, "content-type"))
        if mark_id is None:
            protected: bytes = getattr(protector, self._pass)(body)
        else:
            protected = getattr(protector, self._pass)(body, mark_id=mark_id)
        return protected

    def _protected_headers(self, headers: Headers, length: int | None) -> Headers:
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
        return edited + [(name, value) for name, value in self._tdm_headers
                         if header(headers, name) is None]

    def _marked(self, headers: Headers, verdict: str) -> Headers:
        return headers + [(DEBUG_HEADER, verdict)] if self._debug else headers

    def _unchanged(self, request: Request, verdict: str) -> str:
        """Logs why a response goes out unchanged; the message, for failures."""
        if verdict == TOO_LARGE:
            return self._failed(request, f"larger than max_size ({self._max_size} bytes)")
        logger.debug("%s: sent unchanged (%s)", self._describe(request), verdict)
        return ""

    def _failed(self, request: Request, reason: object) -> str:
        message = f"{self._describe(request)}: page sent unprotected: {reason}"
        logger.error("%s", message)
        return message


def header(headers: Headers, name: str) -> str | None:
    """The header's value, repeated ones joined by ", " as HTTP allows."""
    values = [v for k, v in headers if k.lower() == name]
    return ", ".join(values) if values else None


def _charset_parameter(content_type: str | None) -> str | None:
    for parameter in (content_type or "").split(";")[1:]:
        name, _, value = parameter.partition("=")
        if name.strip().lower() == "charset":
            return value.strip().strip('"').strip() or None
    return None

