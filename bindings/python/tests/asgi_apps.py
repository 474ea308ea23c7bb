"""The applications test_asgi.py runs under uvicorn: the same resources served
by Starlette, FastAPI and Django through their own response classes (ranges
and conditional requests answered by the application itself, as many do),
behind vantoro.asgi.ProtectMiddleware with debug on and a small max_size.
Each also serves them under /mounted/ through a mounted application, as
Starlette's Mount and FastAPI's mount do (Django: a second URL pattern)."""

import gzip
import re

from vantoro.asgi import MARK_ID_KEY, ProtectMiddleware

SITE_KEY = "asgi-test"
MAX_SIZE = 64 * 1024
OPTIONS = {"copyright": "Test Site:All rights reserved", "site_key": SITE_KEY, "debug": True,
           "max_size": MAX_SIZE}
PROSE = (b"<p>Some words of prose end here. More words of prose follow them. "
         b"Then the third sentence of it ends. A fourth one closes the paragraph.</p>")
PAGE = b"<!DOCTYPE html><html><head><title>t</title></head><body>" + PROSE * 6 + b"</body></html>"
CHUNKS = [b"<html><body>", PROSE * 3, b"<p>the last chunk</p></body></html>"]
BIG = [PROSE * 100] * 8  # streamed, past MAX_SIZE after a few chunks
DATA = bytes(range(256)) * 4
HTML = {"Content-Type": "text/html; charset=utf-8"}
VALIDATORS = {"ETag": '"v1"', "Last-Modified": "Wed, 01 Jan 2025 00:00:00 GMT",
              "Accept-Ranges": "bytes", "Cache-Control": "max-age=60"}
# Everything but /page and /data: (headers, body, or the chunks of a streamed one).
FIXED = {
    "/stream": (HTML, CHUNKS),
    "/big": (HTML, BIG),
    "/gzip": ({**HTML, "Content-Encoding": "gzip"}, gzip.compress(PAGE, mtime=0)),
    "/no-transform": ({**HTML, "Cache-Control": "no-transform"}, PAGE),
    # A byte order mark the passes cannot work in: the library refuses the page.
    "/utf-16": (HTML, "<p>x</p>".encode("utf-16")),
}


def resource(path, request_headers, mark_id, mounted=False):
    """(status, headers, body or list of chunks); request_headers: .get by lower-case name.

    mounted: asked by the application mounted at /mounted/, the only one that
    serves what is under it.
    """
    if path.startswith("/mounted/"):
        if not mounted:
            return 404, {"Content-Type": "text/plain"}, b"not found"
        path = path[len("/mounted"):]
    if path in FIXED:
        return (200, *FIXED[path])
    body, headers = (PAGE, {**HTML, **VALIDATORS}) if path == "/page" else (
        DATA, {"Content-Type": "application/octet-stream"})
    # The older Request-Range is answered as Range.
    asked = request_headers.get("range") or request_headers.get("request-range")
    # What the application was asked, for the tests to see.
    headers.update({"X-Seen-Encoding": request_headers.get("accept-encoding") or "-",
                    "X-Seen-Range": asked or "-", "X-Seen-Mark": str(mark_id)})
    if request_headers.get("if-none-match", "").replace("W/", "") == '"v1"':
        return 304, {"ETag": '"v1"'}, b""
    spans = [re.fullmatch(r"(\d+)-(\d*)", spec.strip())
             for spec in (asked or "").removeprefix("bytes=").split(",")]
    if (asked or "").startswith("bytes=") and all(spans):
        spans = [(int(m[1]), min(int(m[2] or len(body)), len(body) - 1)) for m in spans]
        if len(spans) == 1:
            [(first, last)] = spans
            return 206, {**headers, "Content-Range": f"bytes {first}-{last}/{len(body)}"}, \
                body[first:last + 1]
        # Several ranges: each a part of its own, with the resource's type.
        parts = b"".join(b"--PART\r\nContent-Type: %s\r\nContent-Range: bytes %d-%d/%d\r\n\r\n"
                         % (headers["Content-Type"].encode(), first, last, len(body))
                         + body[first:last + 1] + b"\r\n" for first, last in spans)
        return 206, {**headers, "Content-Type": "multipart/byteranges; boundary=PART"}, \
            parts + b"--PART--\r\n"
    return 200, headers, body


def starlette_response(request, mounted=False):
    from starlette.responses import Response, StreamingResponse

    status, headers, body = resource(request.url.path, request.headers,
                                     request.scope.get(MARK_ID_KEY), mounted)
    if isinstance(body, list):
        async def chunks():
            for chunk in body:
                yield chunk
        return StreamingResponse(chunks(), status, headers)
    return Response(body, status, headers)


def starlette_app():
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.routing import Mount, Route

    async def endpoint(request):
        return starlette_response(request)

    async def mounted(request):
        return starlette_response(request, mounted=True)

    return Starlette(routes=[Mount("/mounted", routes=[Route("/{path:path}", mounted)]),
                             Route("/{path:path}", endpoint)],
                     middleware=[Middleware(ProtectMiddleware, **OPTIONS)])


def fastapi_app():
    from fastapi import FastAPI, Request

    app = FastAPI()
    mounted = FastAPI()

    @mounted.api_route("/{path:path}", methods=["GET", "HEAD"])
    async def mounted_endpoint(request: Request, path: str):
        return starlette_response(request, mounted=True)

    app.mount("/mounted", mounted)  # before the catch-all route, which would take it

    @app.api_route("/{path:path}", methods=["GET", "HEAD"])
    async def endpoint(request: Request, path: str):
        return starlette_response(request)

    app.add_middleware(ProtectMiddleware, **OPTIONS)
    return app


def django_view(request, path, mounted=False):
    from django.http import HttpResponse, StreamingHttpResponse

    status, headers, body = resource(request.path, request.headers,
                                     request.scope.get(MARK_ID_KEY), mounted)
    kind = StreamingHttpResponse if isinstance(body, list) else HttpResponse
    response = kind(body, status=status)
    for name, value in headers.items():
        response[name] = value
    return response


urlpatterns = []


def django_app():
    import django
    from django.conf import settings
    from django.core.asgi import get_asgi_application
    from django.urls import re_path

    settings.configure(ROOT_URLCONF=__name__, ALLOWED_HOSTS=["*"], SECRET_KEY="test",
                       MIDDLEWARE=[])
    django.setup()
    urlpatterns.append(re_path(r"^mounted/(?P<path>.*)$", django_view, {"mounted": True}))
    urlpatterns.append(re_path(r"^(?P<path>.*)$", django_view))
    return ProtectMiddleware(get_asgi_application(), **OPTIONS)
