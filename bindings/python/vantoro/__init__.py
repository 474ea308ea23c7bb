"""Vantoro: protects web pages against content harvesting.

The page pass re-marks every tag (random letter case, whitespace, comments, a
watermark comment); the content pass hides a decoy (the site's copyright
notice, random text, or both) in front of every paragraph end and line break.
Each call gives a different markup that renders the same.

By default decoys hide "layered": by a class, with the rules in a <style>
element where the page's head begins, and some notices stay in what a reader
copies (out of layout, sight and screen readers). With a site_key the visible
text also carries invisible marks with a 64-bit id; trace(copied_text,
site_key) finds that id in a copy.

    >>> import vantoro
    >>> p = vantoro.Protector("Example Site:All rights reserved")
    >>> html = p.protect(b"<p>Hello</p>")          # both passes

Texts are str or bytes, and come back as the same type. Bytes are the normal
case for pages: they are taken as they are (bytes not valid in the character
set pass through unchanged), and with charset "auto", the default, each page
is read in the set a browser would read it in: its byte order mark, else the
`transport_charset` (the Content-Type's charset), else its own <meta>
declaration, else UTF-8 (see detect_charset). A str has no bytes yet: with
"auto" it is protected as UTF-8 (a <meta charset> in it is not followed, and
the result decodes as UTF-8); with an explicit charset it is encoded in that
set for the call and the result decoded the same way. In UTF-8, lone
surrogates round-trip too ("surrogatepass").

Every unusable option raises vantoro.Error (a ValueError) with the library's
message and a `status` such as "VANTORO_INVALID_ARGUMENT".

Threads: the GIL is released while a pass runs, so protectors used by
different threads work in parallel. Calls on one shared Protector are safe but
take turns, and a mark_id given to one call marks that call's page alone; the
module-level functions make a Protector per call.

vantoro.wsgi.ProtectMiddleware protects the HTML responses of a WSGI
application, vantoro.asgi.ProtectMiddleware those of an ASGI one (Starlette,
FastAPI, Django), with the same options and rules.
"""

from __future__ import annotations

import codecs
import enum
import operator
import os
import sys
import time
from typing import Any, AnyStr, NamedTuple, TypeVar

from ._vantoro import (Error, Handle as _Handle, Policy, _trace, detect_charset, is_protected,
                       protected_header, stylesheet, version as _version)

__all__ = ["Decoy", "Error", "Hide", "MarkFound", "Policy", "Protector", "detect_charset",
           "is_protected", "new_mark_id", "protect", "protect_content", "protect_page",
           "protected_header", "stylesheet", "trace"]
__version__ = _version

# Beyond size_t every count means the same as its largest: only the first.
_SIZE_MAX = sys.maxsize * 2 + 1


class Decoy(enum.IntEnum):
    """What the content pass hides in front of each paragraph end and line break."""

    COPYRIGHT = 1  #: one of the copyright texts
    RANDOM = 2  #: a run of random characters
    BOTH = 3  #: random text, one whitespace character, then a copyright text


class Hide(enum.IntEnum):
    """How a decoy hides."""

    STYLE = 1  #: an inline style; shows where a Content-Security-Policy forbids inline styles
    CLASS = 2  #: a class that stylesheet(site_key), served by the site, hides
    #: a class as CLASS, the rules in a <style> element of the page (or linked
    #: by stylesheet_link), plus notices that stay in copies
    LAYERED = 3


class MarkFound(NamedTuple):
    """A mark found by trace: its id, and the code symbols that agree with it of those read."""

    id: int
    agreeing: int
    seen: int


def trace(text: str | bytes, site_key: str) -> list[MarkFound]:
    """The marks made with site_key in a copied text (plain text, HTML or a
    browser's innerText; bytes as UTF-8): the best find, or [] when none.

    An unmarked or foreign text passes for marked less than once in 2**40.
    """
    found = _trace(text, site_key)
    return [] if found is None else [MarkFound(*found)]


def new_mark_id() -> int:
    """A fresh mark id: the time in seconds in the high 32 bits, 32 random bits in the low."""
    return (int(time.time()) & 0xFFFFFFFF) << 32 | int.from_bytes(os.urandom(4), "big")


def _invalid(message: str) -> Error:
    # Options the library takes as numbers are named in Python, so Python
    # judges the names, with the status the library gives unknown numbers.
    error = Error(message)
    error.status = "VANTORO_INVALID_ARGUMENT"
    return error


_Kind = TypeVar("_Kind", Decoy, Hide)


def _enum_member(kind: type[_Kind], value: object, what: str) -> _Kind:
    try:
        if isinstance(value, str):
            return kind[value.upper()]
        if isinstance(value, int):
            return kind(value)
    except (KeyError, ValueError):
        pass
    *names, last = (member.name.lower() for member in kind)
    raise _invalid(f"unknown {what} {value!r}: expected {', '.join(names)} or {last}")


class Protector(_Handle):
    """The options of the passes, and the passes themselves.

    copyright: the site's copyright texts, entries separated by "," and parts
        of an entry by ":" (e.g. "Example Site:All rights reserved"). The
        content pass refuses copyright decoys without one, unless
        empty_notices.
    decoy: a Decoy, or its name ("copyright", "random", "both").
    charset: "auto" (each page's own, see the module's help) or the pages'
        character set, e.g. "GBK"; only the text the library inserts is
        converted to it.
    hide: a Hide, or its name ("layered", the default; "style", "class").
        "layered" puts the hiding rules in a <style> element where the page's
        head begins, unless stylesheet_link is set; "class" needs site_key.
    site_key: names the hiding classes (without one, "layered" names them
        after the copyright text) and keys the marks; keep it for a site, and
        secret where marks are used.
    stylesheet_link: with hide="class" or "layered", the address of
        stylesheet(site_key); the content pass links it where the page's head
        begins.
    copy_notices: with hide="layered", a notice that stays in copies at the
        first decoy and at every copy_notices-th after it (default 4; 1: every
        decoy; 0: only the first).
    marks: invisible marks in the visible text carrying the mark id; need a
        site_key. None (the default): on with hide="layered" and a site_key,
        decided when the Protector is made.
    mark_id: the id (0 to 2**64-1) that the marks of passes called without
        one carry; protect() and protect_content() take a mark_id per call.
    tdm_reservation: the page pass puts <meta name="tdm-reservation"
        content="1"> in the page (text and data mining rights reserved).
    nosnippet: data-nosnippet on each decoy, to keep notices out of search
        result snippets (a fixed marker, so off by default).
    empty_notices: allow copyright decoys without a copyright text.
    transport_charset: what the transport (the Content-Type's charset) says
        the following pages are in, for charset "auto"; None: it says nothing.

    The options can be changed later through the attributes of the same names
    (each change is checked whole, so set site_key before hide="class", or
    both at once with set_hiding). A bad one raises Error and changes nothing.
    """

    def __init__(self, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                 charset: str = "auto", hide: Hide | str = Hide.LAYERED, site_key: str = "",
                 stylesheet_link: str = "", nosnippet: bool = False,
                 empty_notices: bool = False, transport_charset: str | None = None,
                 copy_notices: int = 4, marks: bool | None = None, mark_id: int = 0,
                 tdm_reservation: bool = False) -> None:
        self.copyright = copyright
        self._use_decoy(decoy)  # the property's getter type is narrower than its setter's
        self.charset = charset
        self.set_hiding(hide, site_key)
        self.stylesheet_link = stylesheet_link
        self.nosnippet = nosnippet
        self.empty_notices = empty_notices
        self.transport_charset = transport_charset
        self.copy_notices = copy_notices
        self.marks = self._default_marks() if marks is None else marks
        self.mark_id = mark_id
        self.tdm_reservation = tdm_reservation

    def _default_marks(self) -> bool:
        return self._hide is Hide.LAYERED and self._site_key != ""

    @property
    def copyright(self) -> str:
        return self._copyright

    @copyright.setter
    def copyright(self, text: str) -> None:
        self._set_copyright(text)
        self._copyright = text

    @property
    def decoy(self) -> Decoy:
        return self._decoy

    @decoy.setter
    def decoy(self, kind: Decoy | str) -> None:
        self._use_decoy(kind)

    def _use_decoy(self, kind: Decoy | str) -> None:
        member = _enum_member(Decoy, kind, "decoy kind")
        self._set_decoy_kind(member)
        self._decoy = member

    @property
    def charset(self) -> str:
        return self._charset

    @charset.setter
    def charset(self, name: str) -> None:
        codec: str | None = None
        if isinstance(name, str) and name.lower() != "auto":
            try:
                codec = codecs.lookup(name).name
            except LookupError:
                # The library may know a name Python does not: bytes still
                # work, a str then raises LookupError.
                codec = name
        self._set_charset(name, None if codec == "utf-8" else codec)
        self._charset = name

    @property
    def hide(self) -> Hide:
        return self._hide

    @hide.setter
    def hide(self, method: Hide | str) -> None:
        self.set_hiding(method, self._site_key)

    @property
    def site_key(self) -> str:
        return self._site_key

    @site_key.setter
    def site_key(self, key: str) -> None:
        self.set_hiding(self._hide, key)

    def set_hiding(self, hide: Hide | str, site_key: str = "") -> None:
        """Sets hide and site_key together, as hide="class" needs the key."""
        member = _enum_member(Hide, hide, "hiding method")
        self._set_hiding(member, site_key)
        self._hide, self._site_key = member, site_key

    @property
    def stylesheet_link(self) -> str:
        return self._stylesheet_link

    @stylesheet_link.setter
    def stylesheet_link(self, uri: str) -> None:
        self._set_stylesheet_link(uri)
        self._stylesheet_link = uri

    @property
    def nosnippet(self) -> bool:
        return self._nosnippet

    @nosnippet.setter
    def nosnippet(self, on: bool) -> None:
        self._set_nosnippet(on)
        self._nosnippet = bool(on)

    @property
    def empty_notices(self) -> bool:
        return self._empty_notices

    @empty_notices.setter
    def empty_notices(self, on: bool) -> None:
        self._set_empty_notices(on)
        self._empty_notices = bool(on)

    @property
    def transport_charset(self) -> str | None:
        return self._transport_charset

    @transport_charset.setter
    def transport_charset(self, label: str | None) -> None:
        self._set_transport_charset(label)
        self._transport_charset = label

    @property
    def copy_notices(self) -> int:
        return self._copy_notices

    @copy_notices.setter
    def copy_notices(self, every: int) -> None:
        every = operator.index(every)
        if every < 0:
            raise _invalid(f"copy_notices must be 0 or more, not {every}")
        self._set_copy_notices(min(every, _SIZE_MAX))
        self._copy_notices = every

    @property
    def marks(self) -> bool:
        return self._marks

    @marks.setter
    def marks(self, on: bool) -> None:
        self._set_marks(on)
        self._marks = bool(on)

    @property
    def mark_id(self) -> int:
        return self._mark_id

    @mark_id.setter
    def mark_id(self, value: int) -> None:
        self._set_mark_id(value)
        self._mark_id = value

    @property
    def tdm_reservation(self) -> bool:
        return self._tdm_reservation

    @tdm_reservation.setter
    def tdm_reservation(self, on: bool) -> None:
        self._set_tdm_reservation(on)
        self._tdm_reservation = bool(on)

    def _options(self) -> dict[str, Any]:
        return {"decoy": self._decoy, "charset": self._charset, "hide": self._hide,
                "site_key": self._site_key, "stylesheet_link": self._stylesheet_link,
                "nosnippet": self._nosnippet, "empty_notices": self._empty_notices,
                "transport_charset": self._transport_charset,
                "copy_notices": self._copy_notices, "marks": self._marks,
                "mark_id": self._mark_id, "tdm_reservation": self._tdm_reservation}

    def __reduce__(self) -> tuple[Any, ...]:
        # The handle behind this object is the library's; a copy or an
        # unpickled protector gets a new one with the same options (not the
        # replay).
        return _restore, (self._copyright, self._options())

    def __repr__(self) -> str:
        shown = [repr(self._copyright)]
        quiet = dict(_QUIET_DEFAULTS, marks=self._default_marks())
        for name, value in self._options().items():
            if name not in quiet or value != quiet[name]:
                text = value.name.lower() if isinstance(value, enum.Enum) else value
                shown.append(f"{name}={text!r}")
        return f"Protector({', '.join(shown)})"


# Options a repr leaves out while they have these values, to stay short;
# decoy and charset are always shown.
_QUIET_DEFAULTS: dict[str, Any] = {"hide": Hide.LAYERED, "site_key": "", "stylesheet_link": "",
                                   "nosnippet": False, "empty_notices": False,
                                   "transport_charset": None, "copy_notices": 4,
                                   "mark_id": 0, "tdm_reservation": False}


def _restore(copyright: str, options: dict[str, Any]) -> Protector:
    return Protector(copyright, **options)


def protect_page(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                 charset: str = "auto", hide: Hide | str = Hide.LAYERED, site_key: str = "",
                 stylesheet_link: str = "", nosnippet: bool = False,
                 empty_notices: bool = False, transport_charset: str | None = None,
                 copy_notices: int = 4, marks: bool | None = None,
                 tdm_reservation: bool = False) -> AnyStr:
    """The page pass with a new Protector of these options; see Protector.

    The page pass makes no marks, so it takes no mark_id; marks is checked all the same.
    """
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices, transport_charset=transport_charset,
                     copy_notices=copy_notices, marks=marks,
                     tdm_reservation=tdm_reservation).protect_page(text)


def protect_content(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                    charset: str = "auto", hide: Hide | str = Hide.LAYERED, site_key: str = "",
                    stylesheet_link: str = "", nosnippet: bool = False,
                    empty_notices: bool = False, transport_charset: str | None = None,
                    copy_notices: int = 4, marks: bool | None = None, mark_id: int | None = None,
                    tdm_reservation: bool = False) -> AnyStr:
    """The content pass with a new Protector of these options; see Protector."""
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices, transport_charset=transport_charset,
                     copy_notices=copy_notices, marks=marks,
                     tdm_reservation=tdm_reservation).protect_content(text, mark_id=mark_id)


def protect(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
            charset: str = "auto", hide: Hide | str = Hide.LAYERED, site_key: str = "",
            stylesheet_link: str = "", nosnippet: bool = False,
            empty_notices: bool = False, transport_charset: str | None = None,
            copy_notices: int = 4, marks: bool | None = None, mark_id: int | None = None,
            tdm_reservation: bool = False) -> AnyStr:
    """Both passes with a new Protector of these options; see Protector."""
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices, transport_charset=transport_charset,
                     copy_notices=copy_notices, marks=marks,
                     tdm_reservation=tdm_reservation).protect(text, mark_id=mark_id)
