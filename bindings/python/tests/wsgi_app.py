"""The application test_servers.py runs under real servers: a few resources
served as most applications serve them (ranges handled by the application
itself, HEAD left to the server), behind ProtectMiddleware with debug on."""

import base64
import hashlib
import re

from vantoro.wsgi import ProtectMiddleware

COPYRIGHT = "示例网站:版权所有"
PARAGRAPHS = [f"paragraph {i} of the original page" for i in range(40)]
PAGE = ("<!DOCTYPE html><html><head><title>Original</title></head><body>"
        + "".join(f"<p>{text}</p>" for text in PARAGRAPHS) + "</body></html>").encode()
# Declared only in the page: the Content-Type names no charset.
GBK_PAGE = ('<html><head><meta charset="gbk"><title>中文页面</title></head>'
            "<body><p>第一段</p><p>第二段</p></body></html>").encode("gbk")
DOWNLOAD = bytes(range(256)) * 16

RESOURCES = {
    "/page": ("text/html; charset=utf-8", PAGE),
    "/gbk": ("text/html", GBK_PAGE),
    "/download": ("application/octet-stream", DOWNLOAD),
}
# What /own-206 sends whatever the request: a slice nobody asked for.
OWN_SLICE = PAGE[:100]


def byte_ranges(header, size):
    """[(first, last)] of each range of a "bytes=" header, or None when there is none."""
    if not (header or "").startswith("bytes="):
        return None
    spans = []
    for spec in header[len("bytes="):].split(","):
        match = re.fullmatch(r"(\d*)-(\d*)", spec.strip())
        if match is None or match.groups() == ("", ""):
            return None
        first, last = match.groups()
        if first == "":
            spans.append((max(size - int(last), 0), size - 1))
        else:
            spans.append((int(first), min(int(last), size - 1) if last else size - 1))
    return spans


def validators(body):
    digest = hashlib.sha256(body).digest()
    return [("ETag", '"v1"'), ("Last-Modified", "Wed, 01 Jan 2025 00:00:00 GMT"),
            ("Accept-Ranges", "bytes"),
            ("Content-MD5", base64.b64encode(hashlib.md5(body).digest()).decode()),
            ("Digest", "sha-256=" + base64.b64encode(digest).decode()),
            ("Content-Digest", f"sha-256=:{base64.b64encode(digest).decode()}:"),
            ("Repr-Digest", f"sha-256=:{base64.b64encode(digest).decode()}:"),
            ("Cache-Control", "max-age=60")]


def raw_app(environ, start_response):
    path = environ["PATH_INFO"]
    if path == "/own-206":
        start_response("206 Partial Content", [
            ("Content-Type", "text/html; charset=utf-8"),
            ("Content-Range", f"bytes 0-{len(OWN_SLICE) - 1}/{len(PAGE)}"),
            ("Content-Length", str(len(OWN_SLICE)))])
        return [OWN_SLICE]
    content_type, body = RESOURCES[path]
    headers = [("Content-Type", content_type)] + validators(body)
    # The older Request-Range is answered as Range.
    spans = byte_ranges(environ.get("HTTP_RANGE") or environ.get("HTTP_REQUEST_RANGE"),
                        len(body))
    if spans is not None and len(spans) == 1:
        [(first, last)] = spans
        start_response("206 Partial Content", headers + [
            ("Content-Range", f"bytes {first}-{last}/{len(body)}"),
            ("Content-Length", str(last - first + 1))])
        return [body[first:last + 1]]
    if spans is not None:
        # Several ranges: each a part of its own, with the resource's type.
        parts = b"".join(f"--PART\r\nContent-Type: {content_type}\r\n"
                         f"Content-Range: bytes {first}-{last}/{len(body)}\r\n\r\n".encode()
                         + body[first:last + 1] + b"\r\n" for first, last in spans)
        parts += b"--PART--\r\n"
        start_response("206 Partial Content", [
            ("Content-Type", "multipart/byteranges; boundary=PART"), *validators(body),
            ("Content-Length", str(len(parts)))])
        return [parts]
    start_response("200 OK", headers + [("Content-Length", str(len(body)))])
    return [body]


application = ProtectMiddleware(raw_app, COPYRIGHT, debug=True)
