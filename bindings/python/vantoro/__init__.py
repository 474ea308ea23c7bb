"""Vantoro: protects web pages against content harvesting.

The page pass re-marks every tag (random letter case, whitespace, comments, a
watermark comment); the content pass hides a decoy (the site's copyright
notice, random text, or both) in front of every paragraph end and line break.
Each call gives a different markup that renders the same.

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
take turns; the module-level functions make a Protector per call.

vantoro.wsgi.ProtectMiddleware protects the HTML responses of a WSGI
application.
"""

from __future__ import annotations

import codecs
import enum
from typing import Any, AnyStr, TypeVar

from ._vantoro import (Error, Handle as _Handle, Policy, detect_charset, is_protected,
                       protected_header, stylesheet, version as _version)

__all__ = ["Decoy", "Error", "Hide", "Policy", "Protector", "detect_charset", "is_protected",
           "protect", "protect_content", "protect_page", "protected_header", "stylesheet"]
__version__ = _version


class Decoy(enum.IntEnum):
    """What the content pass hides in front of each paragraph end and line break."""

    COPYRIGHT = 1  #: one of the copyright texts
    RANDOM = 2  #: a run of random characters
    BOTH = 3  #: random text, one whitespace character, then a copyright text


class Hide(enum.IntEnum):
    """How a decoy hides."""

    STYLE = 1  #: an inline style; shows where a Content-Security-Policy forbids inline styles
    CLASS = 2  #: a class that stylesheet(site_key), served by the site, hides


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
    hide: a Hide, or its name ("style", "class"). "class" needs site_key.
    site_key: names the hiding classes of hide="class"; keep it for a site.
    stylesheet_link: with hide="class", the address of stylesheet(site_key);
        the content pass links it where the page's head begins.
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
                 charset: str = "auto", hide: Hide | str = Hide.STYLE, site_key: str = "",
                 stylesheet_link: str = "", nosnippet: bool = False,
                 empty_notices: bool = False, transport_charset: str | None = None) -> None:
        self.copyright = copyright
        self._use_decoy(decoy)  # the property's getter type is narrower than its setter's
        self.charset = charset
        self.set_hiding(hide, site_key)
        self.stylesheet_link = stylesheet_link
        self.nosnippet = nosnippet
        self.empty_notices = empty_notices
        self.transport_charset = transport_charset

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

    def _options(self) -> dict[str, Any]:
        return {"decoy": self._decoy, "charset": self._charset, "hide": self._hide,
                "site_key": self._site_key, "stylesheet_link": self._stylesheet_link,
                "nosnippet": self._nosnippet, "empty_notices": self._empty_notices,
                "transport_charset": self._transport_charset}

    def __reduce__(self) -> tuple[Any, ...]:
        # The handle behind this object is the library's; a copy or an
        # unpickled protector gets a new one with the same options (not the
        # replay).
        return _restore, (self._copyright, self._options())

    def __repr__(self) -> str:
        shown = [repr(self._copyright)]
        for name, value in self._options().items():
            if name not in _QUIET_DEFAULTS or value != _QUIET_DEFAULTS[name]:
                text = value.name.lower() if isinstance(value, enum.Enum) else value
                shown.append(f"{name}={text!r}")
        return f"Protector({', '.join(shown)})"


# Options a repr leaves out while they have these values, to stay short;
# decoy and charset are always shown.
_QUIET_DEFAULTS: dict[str, Any] = {"hide": Hide.STYLE, "site_key": "", "stylesheet_link": "",
                                   "nosnippet": False, "empty_notices": False,
                                   "transport_charset": None}


def _restore(copyright: str, options: dict[str, Any]) -> Protector:
    return Protector(copyright, **options)


def protect_page(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                 charset: str = "auto", hide: Hide | str = Hide.STYLE, site_key: str = "",
                 stylesheet_link: str = "", nosnippet: bool = False,
                 empty_notices: bool = False, transport_charset: str | None = None) -> AnyStr:
    """The page pass with a new Protector of these options; see Protector."""
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices,
                     transport_charset=transport_charset).protect_page(text)


def protect_content(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                    charset: str = "auto", hide: Hide | str = Hide.STYLE, site_key: str = "",
                    stylesheet_link: str = "", nosnippet: bool = False,
                    empty_notices: bool = False, transport_charset: str | None = None) -> AnyStr:
    """The content pass with a new Protector of these options; see Protector."""
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices,
                     transport_charset=transport_charset).protect_content(text)


def protect(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
            charset: str = "auto", hide: Hide | str = Hide.STYLE, site_key: str = "",
            stylesheet_link: str = "", nosnippet: bool = False,
            empty_notices: bool = False, transport_charset: str | None = None) -> AnyStr:
    """Both passes with a new Protector of these options; see Protector."""
    return Protector(copyright, decoy=decoy, charset=charset, hide=hide, site_key=site_key,
                     stylesheet_link=stylesheet_link, nosnippet=nosnippet,
                     empty_notices=empty_notices,
                     transport_charset=transport_charset).protect(text)
