"""vantoro.asgi: under uvicorn with Starlette, FastAPI and Django applications
(real requests on 127.0.0.1), then in process for what a server hides."""

import asyncio
import http.client
import importlib.util
import logging
import os
import pathlib
import socket
import subprocess
import time

import pytest

import vantoro
from vantoro.asgi import MARK_ID_KEY, ProtectMiddleware

import asgi_apps

TESTS = pathlib.Path(__file__).resolve().parent
PACKAGE_ROOT = pathlib.Path(vantoro.__file__).resolve().parent.parent
FRAMEWORKS = {"starlette": "starlette", "fastapi": "fastapi", "django": "django"}


def require(*modules):
    for module in modules:
        if importlib.util.find_spec(module) is None:
            # CI installs every framework: there a missing one is a failure.
            if os.environ.get("CI") == "true":
                pytest.fail(f"{module} is not installed")
            pytest.skip(f"{module} is not installed")


@pytest.fixture(scope="module", params=sorted(FRAMEWORKS))
def server(request, tmp_path_factory):
    require("uvicorn", FRAMEWORKS[request.param])
    log = tmp_path_factory.mktemp(request.param) / "server.log"
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    environment = dict(os.environ, PYTHONPATH=f"{TESTS}:{PACKAGE_ROOT}",
                       PYTHONDONTWRITEBYTECODE="1")
    with open(log, "wb") as output:
        process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "uvicorn", f"asgi_apps:{request.param}_app", "--factory",
             "--host", "127.0.0.1", "--port", str(port), "--log-level", "warning"],
            cwd=TESTS, env=environment, stdout=output, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if process.poll() is not None or time.monotonic() > deadline:
                    pytest.fail(f"uvicorn did not start:\n{log.read_text(errors='replace')}")
                time.sleep(0.1)
        yield port, log
    finally:
        process.terminate()
        process.wait(10)


def fetch(server, path, method="GET", **headers):
    """(status, headers with lower-case names, body) of one request."""
    connection = http.client.HTTPConnection("127.0.0.1", server[0], timeout=10)
    try:
        connection.request(method, path, headers={k.replace("_", "-"): v
                                                  for k, v in headers.items()})
        response = connection.getresponse()
        body = response.read()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, body
    finally:
        connection.close()


def assert_protected(status, headers, body):
    assert (status, headers["x-vantoro-status"]) == (200, "protected")
    assert int(headers["content-length"]) == len(body) and vantoro.is_protected(body)
    assert headers["etag"] == 'W/"v1"' and headers["cache-control"] == "max-age=60"
    assert "last-modified" not in headers and "accept-ranges" not in headers
    assert headers["x-seen-encoding"] == headers["x-seen-range"] == "-"


def test_a_page_is_protected_and_marked_with_the_requests_id(server):
    status, headers, body = fetch(server, "/page", Accept_Encoding="gzip, br")
    assert_protected(status, headers, body)
    assert vantoro.trace(body, asgi_apps.SITE_KEY)[0].id == int(headers["x-seen-mark"])
    # HEAD: the GET's headers without its length, and no body.
    status, head, body = fetch(server, "/page", "HEAD")
    assert (status, body, head["etag"], head["x-vantoro-status"]) == (200, b"", 'W/"v1"',
                                                                       "protected")
    assert head.get("content-length") in (None, "0")


@pytest.mark.parametrize("path, asked", [
    ("/page", {"Range": "bytes=0-9", "If-Range": '"v1"'}),
    ("/page", {"Request-Range": "bytes=0-9"}),
    ("/page", {"Range": "bytes=0-0,2-"}),  # answered with multipart/byteranges
    # A mount changes the scope it is given: asked again, the request goes
    # where it first went.
    ("/mounted/page", {"Range": "bytes=0-9"}),
])
def test_a_range_gets_the_whole_page(server, path, asked):
    status, headers, body = fetch(server, path, **asked)
    assert_protected(status, headers, body)


def test_other_ranges_pass(server):
    status, headers, body = fetch(server, "/data", Range="bytes=10-19")
    assert (status, body) == (206, asgi_apps.DATA[10:20])
    assert headers["x-vantoro-status"] == "status" and headers["x-seen-range"] == "bytes=10-19"
    # Several ranges do not tell the resource's type: the whole is asked for, and passes.
    status, headers, body = fetch(server, "/data", Range="bytes=0-0,2-")
    assert (status, body, headers["x-vantoro-status"]) == (200, asgi_apps.DATA, "type")


def test_a_not_modified_answer_passes(server):
    # What a client sends back: the weak tag of the protected page.
    status, headers, body = fetch(server, "/page", If_None_Match='W/"v1"')
    assert (status, body, headers["x-vantoro-status"]) == (304, b"", "status")


def test_a_streamed_page_is_collected_and_protected(server):
    status, headers, body = fetch(server, "/stream")
    assert (status, headers["x-vantoro-status"]) == (200, "protected")
    assert int(headers["content-length"]) == len(body) and b"the last chunk" in body


@pytest.mark.parametrize("path, verdict", [("/gzip", "encoded"), ("/no-transform", "no_transform"),
                                           ("/data", "type"), ("/big", "too_large"),
                                           ("/utf-16", "error")])
def test_other_responses_go_out_as_the_application_sent_them(server, path, verdict):
    status, headers, body = fetch(server, path)
    original = asgi_apps.FIXED.get(path, (None, asgi_apps.DATA))[1]
    assert (status, headers["x-vantoro-status"]) == (200, verdict)
    assert body == (b"".join(original) if isinstance(original, list) else original)
    if path == "/big":  # sent as it came: the held part, then the rest, chunked
        assert "content-length" not in headers
    if verdict in ("error", "too_large"):
        assert "GET %s: page sent unprotected" % path in server[1].read_text()


# ---- In process ----

def run(middleware, method="GET", headers=(), scope_type="http", **more):
    """The messages the middleware sends the server for one request, and the
    scope; more: further keys of the scope."""
    sent, scope = [], {"type": scope_type, "method": method, "path": "/p",
                       "headers": list(headers), **more}

    async def receive():
        return {"type": "http.request", "body": b"", "more_body": False}

    async def send(message):
        sent.append(message)

    asyncio.run(middleware(scope, receive, send))
    return sent, scope


def app_sending(*messages, seen=None):
    async def app(scope, receive, send):
        if seen is not None:
            seen.append(scope)
        for message in messages:
            await send(message)
    return app


START = {"type": "http.response.start", "status": 200,
         "headers": [(b"content-type", b"text/html")]}
PAGE_MESSAGES = [START,
                 {"type": "http.response.body", "body": asgi_apps.PAGE[:50], "more_body": True},
                 {"type": "http.response.body", "body": asgi_apps.PAGE[50:]}]


def test_other_connections_pass_as_they_are():
    for scope_type in ("lifespan", "websocket"):
        seen = []
        sent, scope = run(ProtectMiddleware(app_sending({"type": "x"}, seen=seen), "Test Site"),
                          scope_type=scope_type)
        assert len(seen) == 1 and seen[0] is scope and sent == [{"type": "x"}]


def test_head_never_sends_the_applications_body():
    sent, _ = run(ProtectMiddleware(app_sending(*PAGE_MESSAGES), "Test Site"), "HEAD")
    assert [m["type"] for m in sent] == ["http.response.start", "http.response.body"]
    assert sent[1]["body"] == b"" and not sent[1].get("more_body")
    assert dict(sent[0]["headers"]) == {b"content-type": b"text/html"}  # no length, no debug


def test_a_page_sent_from_a_file_is_protected(tmp_path):
    page = tmp_path / "page.html"
    page.write_bytes(asgi_apps.PAGE)
    seen = []

    async def files(scope, receive, send):
        # As Starlette's FileResponse: the server reads the file when it offers that.
        seen.append(scope["extensions"])
        await send(START)
        if "http.response.pathsend" in scope["extensions"]:
            await send({"type": "http.response.pathsend", "path": str(page)})
        else:
            await send({"type": "http.response.body", "body": page.read_bytes()})

    offered = {"http.response.pathsend": {}, "http.response.zerocopysend": {},
               "http.response.trailers": {}}
    sent, scope = run(ProtectMiddleware(files, "Test Site", debug=True), extensions=offered)
    assert [m["type"] for m in sent] == ["http.response.start", "http.response.body"]
    assert (b"x-vantoro-status", b"protected") in sent[0]["headers"]
    assert vantoro.is_protected(sent[1]["body"])
    assert seen == [{"http.response.trailers": {}}]
    assert scope["extensions"] is offered and len(offered) == 3  # the server's is kept


def test_marks_bypass_and_failures(caplog):
    seen, told = [], []
    middleware = ProtectMiddleware(app_sending(*PAGE_MESSAGES, seen=seen), "Test Site",
                                   site_key="k", on_mark=lambda scope, id: told.append(id),
                                   bypass=lambda scope: (b"x-crawler", b"1") in scope["headers"])
    sent, scope = run(middleware, headers=[(b"accept-encoding", b"gzip")])
    assert seen[0][MARK_ID_KEY] == told[0] and MARK_ID_KEY not in scope  # the server's is kept
    assert seen[0]["headers"] == [] and scope["headers"] == [(b"accept-encoding", b"gzip")]
    assert vantoro.trace(sent[1]["body"], "k")[0].id == told[0]
    sent, _ = run(middleware, headers=[(b"x-crawler", b"1")])
    assert b"".join(m.get("body", b"") for m in sent) == asgi_apps.PAGE and len(told) == 1
    broken = [START, {"type": "http.response.body", "body": "<p>x</p>".encode("utf-16")}]
    with caplog.at_level(logging.ERROR, logger="vantoro"):
        sent, _ = run(ProtectMiddleware(app_sending(*broken), "Test Site"))
    assert sent[0] is START and sent[1]["body"] == broken[1]["body"]
    assert "GET /p: page sent unprotected" in caplog.text
