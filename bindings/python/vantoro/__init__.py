"""Vantoro: protects web pages against content harvesting.

The page pass re-marks every tag (random letter case, whitespace, comments, a
watermark comment); the content pass hides a decoy (the site's copyright
notice, random text, or both) in front of every paragraph end and line break.
Each call gives a different markup that renders the same.

    >>> import vantoro
    >>> p = vantoro.Protector("Example Site:All rights reserved")
    >>> html = p.protect("<p>Hello</p>")          # both passes

Texts are str or bytes, and come back as the same type. Bytes are taken as
they are, in the protector's `charset` (bytes that are not valid in it pass
through unchanged). A str is encoded with the charset for the call and the
result decoded the same way; for UTF-8, the default, lone surrogates round-trip
too ("surrogatepass").

Threads: the GIL is released while a pass runs, so protectors used by
different threads work in parallel. Calls on one shared Protector are safe but
take turns; the module-level functions make a Protector per call.

vantoro.wsgi.ProtectMiddleware protects the HTML responses of a WSGI
application.
"""

from __future__ import annotations

import codecs
import enum
from typing import Any, AnyStr

from ._vantoro import Error, Handle as _Handle, version as _version

__all__ = ["Decoy", "Error", "Protector", "protect", "protect_content", "protect_page"]
__version__ = _version


class Decoy(enum.IntEnum):
    """What the content pass hides in front of each paragraph end and line break."""

    COPYRIGHT = 1  #: one of the copyright texts
    RANDOM = 2  #: a run of random characters
    BOTH = 3  #: random text, one whitespace character, then a copyright text


class Protector(_Handle):
    """The options of the passes, and the passes themselves.

    copyright: the site's copyright texts, entries separated by "," and parts
        of an entry by ":" (e.g. "Example Site:All rights reserved").
    decoy: a Decoy, or its name ("copyright", "random", "both").
    charset: the pages' character set, e.g. "GBK"; only the text the library
        inserts is converted to it. Error if the system cannot convert to it.

    The options can be changed later through the attributes of the same names.
    """

    def __init__(self, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                 charset: str = "UTF-8") -> None:
        self.copyright = copyright
        self.decoy = decoy
        self.charset = charset

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
        try:
            kind = Decoy[kind.upper()] if isinstance(kind, str) else Decoy(kind)
        except (KeyError, ValueError):
            raise ValueError(f"unknown decoy kind {kind!r}: "
                             "expected copyright, random or both") from None
        self._set_decoy_kind(kind)
        self._decoy = kind

    @property
    def charset(self) -> str:
        return self._charset

    @charset.setter
    def charset(self, name: str) -> None:
        try:
            codec: str | None = codecs.lookup(name).name
        except LookupError:
            # The library may know a name Python does not: bytes still work,
            # a str then raises LookupError.
            codec = name
        self._set_charset(name, None if codec == "utf-8" else codec)
        self._charset = name

    def __reduce__(self) -> tuple[Any, ...]:
        # The handle behind this object is the library's; a copy or an
        # unpickled protector gets a new one with the same options (not the
        # replay).
        return _restore, (self._copyright, self._decoy, self._charset)

    def __repr__(self) -> str:
        return (f"Protector({self._copyright!r}, decoy={self._decoy.name.lower()!r}, "
                f"charset={self._charset!r})")


def _restore(copyright: str, decoy: Decoy, charset: str) -> Protector:
    return Protector(copyright, decoy=decoy, charset=charset)


def protect_page(text: AnyStr, *, charset: str = "UTF-8") -> AnyStr:
    """The page pass with a new Protector; see Protector.protect_page."""
    return Protector(charset=charset).protect_page(text)


def protect_content(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
                    charset: str = "UTF-8") -> AnyStr:
    """The content pass with a new Protector; see Protector.protect_content."""
    return Protector(copyright, decoy=decoy, charset=charset).protect_content(text)


def protect(text: AnyStr, copyright: str = "", *, decoy: Decoy | str = Decoy.COPYRIGHT,
            charset: str = "UTF-8") -> AnyStr:
    """Both passes with a new Protector; see Protector.protect."""
    return Protector(copyright, decoy=decoy, charset=charset).protect(text)
