import gzip
import io
import logging
import sys
import threading
import time
import urllib.request
from wsgiref.simple_server import WSGIRequestHandler, make_server

import pytest

import vantoro
from vantoro.wsgi import MARK_ID_KEY, ProtectMiddleware

HTML = b"<html><body><p>chunk one</p>", b"<p>chunk two</p><br>", b"</body></html>"
closed = {}


class Body:
    """A streamed body that records being closed."""

    def __init__(self, name, chunks):
        self.name, self.chunks = name, chunks
        closed[name] = threading.Event()

    def __iter__(self):
        return iter(self.chunks)

    def close(self):
        closed[self.name].set()


def lazy(start_response):
    # Starts the response only when the server asks for the first chunk.
    start_response("200 OK", [("Content-Type", "text/html")])
    yield from HTML


RESPONSES = {
    "/html": ("text/html; charset=utf-8", [], HTML),
    "/gbk": ('text/html; charset="GBK"', [], HTML),
    "/plain": ("text/plain", [], HTML),
    "/gzip": ("text/html", [("Content-Encoding", "gzip")], [gzip.compress(b"".join(HTML))]),
    "/no-transform": ("text/html", [("Cache-Control", "public, No-Transform")], HTML),
    "/unknown-charset": ("text/html; charset=no-such-charset", [], HTML),
    # A byte order mark the passes cannot work in: the library refuses the page.
    "/utf-16": ("text/html", [], ["<p>x</p>".encode("utf-16")]),
}


def app(environ, start_response):
    path = environ["PATH_INFO"]
    if path == "/lazy-html":
        return lazy(start_response)
    content_type, headers, chunks = RESPONSES[path]
    length = str(sum(map(len, chunks)))
    start_response("200 OK", [("Content-Type", content_type), ("Content-Length", length)] + headers)
    return Body(path, chunks)


class QuietHandler(WSGIRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server():
    httpd = make_server("127.0.0.1", 0, ProtectMiddleware(app, "Test Site:All rights reserved"),
                        handler_class=QuietHandler)
    thread = threading.Thread(target=httpd.serve_forever)
    thread.start()
    yield f"http://127.0.0.1:{httpd.server_port}"
    httpd.shutdown()
    thread.join()
    httpd.server_close()


def get(server, path):
    with urllib.request.urlopen(server + path) as response:
        return response.read(), response.headers


@pytest.mark.parametrize("path", ["/html", "/lazy-html"])
def test_html_is_protected(server, path):
    body, headers = get(server, path)
    assert b"Vantoro" in body and b"Test Site" in body
    assert b"chunk one" in body and b"chunk two" in body
    # The client reads Content-Length bytes: the whole page only if it was set anew.
    assert int(headers["Content-Length"]) == len(body)
    assert b"</html" in body.lower()
    if path == "/html":
        assert closed[path].wait(10)


def test_the_content_types_charset_is_used(server):
    body, _ = get(server, "/gbk")
    assert "防".encode("gbk") in body
    with pytest.raises(UnicodeDecodeError):
        body.decode("utf-8")
    # A label no browser knows is ignored, as browsers ignore it.
    body, _ = get(server, "/unknown-charset")
    assert b"Test Site" in body and "防".encode() in body


@pytest.mark.parametrize("path", ["/plain", "/gzip", "/no-transform", "/utf-16"])
def test_other_responses_pass_unchanged(server, path, capsys):
    body, _ = get(server, path)
    assert body == b"".join(RESPONSES[path][2])
    assert closed[path].wait(10)
    if path == "/utf-16":
        assert "sent unprotected" in capsys.readouterr().err


def test_a_lazily_started_response_streams_through():
    pulled, closed_app = [], []

    def streaming(environ, start_response):
        start_response("200 OK", [("Content-Type", "text/plain")])
        try:
            for chunk in HTML:
                pulled.append(chunk)
                yield chunk
        finally:
            closed_app.append(True)

    result = ProtectMiddleware(streaming, passes="page")({"REQUEST_METHOD": "GET"},
                                                         lambda *args: None)
    assert next(iter(result)) == HTML[0]
    assert pulled == [HTML[0]]  # not collected first
    result.close()
    assert closed_app


# ---- In process: exactly what the middleware hands the server ----

PAGE = b"<html><head></head><body><p>one</p><br>two</body></html>"
VALIDATORS = [("ETag", '"e1"'), ("Last-Modified", "Wed, 01 Jan 2025 00:00:00 GMT"),
              ("Accept-Ranges", "bytes"), ("Content-MD5", "bWQ1"), ("Digest", "sha-256=eA=="),
              ("Content-Digest", "sha-256=:eA==:"), ("Repr-Digest", "sha-256=:eA==:")]
DROPPED = {"last-modified", "accept-ranges", "content-md5", "digest", "content-digest",
           "repr-digest"}


class Recorder:
    """An application that serves one resource (with ranges, as many do) and
    records what it was asked, which bodies were read and which closed."""

    def __init__(self, content_type="text/html", body=PAGE, status="200 OK", extra=(),
                 validators=VALIDATORS):
        self.content_type, self.body, self.status, self.extra = content_type, body, status, extra
        self.validators = validators
        self.environs, self.read, self.closed = [], [], []

    def __call__(self, environ, start_response):
        self.environs.append(dict(environ))
        headers = [("Content-Type", self.content_type), *self.validators, *self.extra]
        body, status = self.body, self.status
        # The older Request-Range is answered as Range.
        if (environ.get("HTTP_RANGE") or environ.get("HTTP_REQUEST_RANGE")) == "bytes=0-3":
            body, status = body[:4], "206 Partial Content"
            headers.append(("Content-Range", f"bytes 0-3/{len(self.body)}"))
        start_response(status, headers + [("Content-Length", str(len(body)))])
        return self.Body(self, len(self.environs), body)

    class Body:
        def __init__(self, app, call, body):
            self.app, self.call, self.body = app, call, body

        def __iter__(self):
            self.app.read.append(self.call)
            yield self.body

        def close(self):
            self.app.closed.append(self.call)


def serve(middleware, method="GET", **environ):
    """(status, headers as a dict of lower-case names, body, result) of one
    request; a repeated header's values are joined by ", "."""
    started, written = [], []

    def start_response(status, headers, exc_info=None):
        started.append((status, headers))
        return written.append

    environ = {"REQUEST_METHOD": method, "PATH_INFO": "/p", "wsgi.errors": io.StringIO(),
               **environ}
    result = middleware(environ, start_response)
    body = b"".join(written) + b"".join(result)
    getattr(result, "close", lambda: None)()
    assert len(started) == 1
    status, headers = started[0]
    joined = {}
    for name, value in headers:
        joined[name.lower()] = f"{joined[name.lower()]}, {value}" if name.lower() in joined else value
    return status, joined, body, result


@pytest.mark.parametrize("etag", ['"e1"', 'W/"e1"'])
def test_head_gets_the_headers_of_the_get_and_never_the_body(etag):
    app = Recorder(validators=[("ETag", etag), *VALIDATORS[1:]], extra=[("Vary", "Accept")])
    _, get_headers, page, _ = serve(ProtectMiddleware(app, "Test Site"))
    status, headers, body, result = serve(ProtectMiddleware(app, "Test Site"), "HEAD")
    assert get_headers.pop("content-length") == str(len(page)) and vantoro.is_protected(page)
    assert headers == get_headers and headers["vary"] == "Accept"
    assert headers["etag"] == 'W/"e1"' and not DROPPED & headers.keys()
    assert "x-vantoro-status" not in headers  # only with debug
    assert (status, body, result) == ("200 OK", b"", [])
    assert app.read == [1] and app.closed == [1, 2]  # the HEAD's body closed unread


@pytest.mark.parametrize("key", ["HTTP_RANGE", "HTTP_REQUEST_RANGE"])
def test_a_range_of_a_protected_page_is_asked_again_whole(key):
    app = Recorder()
    status, headers, body, _ = serve(ProtectMiddleware(app, "Test Site"),
                                     **{key: "bytes=0-3"}, HTTP_IF_RANGE='"e1"')
    assert status == "200 OK" and vantoro.is_protected(body)
    assert "content-range" not in headers and headers["content-length"] == str(len(body))
    first, second = app.environs
    assert first[key] == "bytes=0-3" and first["HTTP_IF_RANGE"] == '"e1"'
    assert not {"HTTP_RANGE", "HTTP_REQUEST_RANGE", "HTTP_IF_RANGE"} & second.keys()
    assert app.read == [2] and app.closed == [1, 2]  # the slice was never read


def test_a_range_asked_again_goes_where_the_request_went():
    app = Recorder()

    def mounting(environ, start_response):
        # As routers mount an application: the prefix moves from PATH_INFO to
        # SCRIPT_NAME, in the environ they are given.
        if not environ["PATH_INFO"].startswith("/docs/"):
            start_response("404 Not Found", [("Content-Type", "text/plain")])
            return [b"not found"]
        environ["SCRIPT_NAME"] += "/docs"
        environ["PATH_INFO"] = environ["PATH_INFO"][len("/docs"):]
        return app(environ, start_response)

    status, _, body, _ = serve(ProtectMiddleware(mounting, "Test Site"), SCRIPT_NAME="",
                               PATH_INFO="/docs/p", HTTP_RANGE="bytes=0-3")
    assert status == "200 OK" and vantoro.is_protected(body)
    assert [(e["SCRIPT_NAME"], e["PATH_INFO"]) for e in app.environs] == [("/docs", "/p")] * 2
    assert "HTTP_RANGE" not in app.environs[1]


def test_the_application_is_not_asked_to_compress():
    def compressing(environ, start_response):
        # as compression middlewares inside an application do
        page = PAGE
        headers = [("Content-Type", "text/html")]
        if "gzip" in environ.get("HTTP_ACCEPT_ENCODING", ""):
            page = gzip.compress(page)
            headers.append(("Content-Encoding", "gzip"))
        start_response("200 OK", headers)
        return [page]

    status, headers, body, _ = serve(ProtectMiddleware(compressing, "Test Site"),
                                     HTTP_ACCEPT_ENCODING="gzip, br")
    assert "content-encoding" not in headers and vantoro.is_protected(body)


VERDICT_CASES = [
    ("200 OK", "text/html", [], PAGE, "protected"),
    ("404 Not Found", "text/html", [], PAGE, "status"),
    ("200 OK", "application/json", [], b"{}", "type"),
    ("200 OK", "text/html", [("Content-Encoding", "gzip")], gzip.compress(PAGE), "encoded"),
    ("200 OK", "text/html", [("Cache-Control", "max-age=5"), ("Cache-Control", "No-Transform")],
     PAGE, "no_transform"),
    ("200 OK", "text/html", [("Content-Range", "bytes 0-3/9")], PAGE, "range"),
    ("200 OK", "text/html", [], b"", "empty"),
    ("200 OK", "text/html", [], "<p>x</p>".encode("utf-16"), "error"),
]


@pytest.mark.parametrize("status, content_type, extra, page, verdict", VERDICT_CASES)
def test_each_verdict_is_shown_and_logged(status, content_type, extra, page, verdict, caplog):
    app = Recorder(content_type, page, status, extra)
    with caplog.at_level(logging.DEBUG, logger="vantoro"):
        got_status, headers, body, _ = serve(ProtectMiddleware(app, "Test Site", debug=True))
    assert got_status == status and headers["x-vantoro-status"] == verdict
    records = [r for r in caplog.records if r.name == "vantoro"]
    if verdict == "protected":
        assert records == [] and body != page
        return
    assert body == page and headers["content-length"] == str(len(page))
    assert headers["etag"] == '"e1"'  # unchanged, as the application gave it
    (record,) = records
    assert record.levelno == (logging.ERROR if verdict == "error" else logging.DEBUG)
    assert (verdict in record.getMessage()) != (verdict == "error")
    assert "GET /p" in record.getMessage()


def test_a_passed_response_is_the_applications_own_object():
    class FileWrapper:
        def __iter__(self):
            return iter([b"%PDF"])

    wrapped = FileWrapper()

    def app(environ, start_response):
        start_response("200 OK", [("Content-Type", "application/pdf")])
        return wrapped

    _, _, _, result = serve(ProtectMiddleware(app, "Test Site"))
    assert result is wrapped


def test_an_error_response_replaces_a_held_one():
    def app(environ, start_response):
        write = start_response("200 OK", [("Content-Type", "text/html")])
        write(b"<p>half a page")
        try:
            raise RuntimeError("failed")
        except RuntimeError:
            start_response("500 Internal Server Error", [("Content-Type", "text/plain")],
                           sys.exc_info())
        return [b"failed"]

    status, headers, body, _ = serve(ProtectMiddleware(app, "Test Site", debug=True))
    assert (status, body) == ("500 Internal Server Error", b"failed")
    assert headers["x-vantoro-status"] == "status"


def test_a_body_over_max_size_goes_out_unchanged(caplog):
    def streaming(environ, start_response):
        write = start_response("200 OK", [("Content-Type", "text/html")])
        if environ["PATH_INFO"] == "/write":  # the legacy write callable
            for chunk in [PAGE] * 3:
                write(chunk)
            return []
        return iter([PAGE] * 3)

    def generator(environ, start_response):
        # Starts its response when asked for its first chunk: the whole page.
        start_response("200 OK", [("Content-Type", "text/html")])
        yield PAGE * 3

    middleware = ProtectMiddleware(streaming, "Test Site", max_size=2 * len(PAGE), debug=True)
    with caplog.at_level(logging.ERROR, logger="vantoro"):
        for path in ("/iterated", "/write"):
            _, headers, body, _ = serve(middleware, PATH_INFO=path)
            assert body == PAGE * 3 and headers["x-vantoro-status"] == "too_large"
        _, headers, body, _ = serve(ProtectMiddleware(generator, "Test Site",
                                                      max_size=2 * len(PAGE), debug=True))
        assert body == PAGE * 3 and headers["x-vantoro-status"] == "too_large"
    assert caplog.text.count("page sent unprotected: larger than max_size") == 3
    # A declared length over it is not even held; a whole page at the limit is protected.
    _, headers, body, _ = serve(ProtectMiddleware(Recorder(), "T", max_size=10, debug=True))
    assert (body, headers["x-vantoro-status"], headers["etag"]) == (PAGE, "too_large", '"e1"')
    _, headers, body, _ = serve(ProtectMiddleware(Recorder(), "T", max_size=len(PAGE)))
    assert vantoro.is_protected(body)


def test_options_reach_each_page():
    app = Recorder("text/plain")
    middleware = ProtectMiddleware(app, "Test Site", types=["text/plain"], hide="class",
                                   site_key="k1", stylesheet_link="/v.css", passes="content")
    _, _, body, _ = serve(middleware)
    assert b'<link rel="stylesheet" href="/v.css">' in body and b"Test Site" in body
    assert not vantoro.is_protected(body)  # the content pass only
    hiding = set(vantoro.stylesheet("k1").split("{")[0].replace(".", "").split(","))
    assert hiding & set(body.decode().split())


# ---- Layered hiding, marks per request, the reservation, bypass ----

PROSE = ("<html><head><title>t</title></head><body>"
         + "<p>Some words of prose end here. More words of prose follow them. Then the third "
           "sentence of it ends. A fourth one closes the paragraph.</p>" * 6
         + "</body></html>").encode()


def test_layered_hiding_is_the_default():
    _, _, body, _ = serve(ProtectMiddleware(Recorder(body=PROSE), "Test Site"))
    assert body.lower().count(b"<style") == 1 and b"style=" not in body.lower()
    assert b"aria-hidden='true'" in body
    assert vantoro.trace(body, "Test Site") == []  # no key, no marks


def test_each_request_gets_its_own_mark_id():
    app = Recorder(body=PROSE)
    told = []
    middleware = ProtectMiddleware(app, "Test Site", site_key="secret",
                                   on_mark=lambda environ, id: told.append(id))
    before = int(time.time())
    bodies = [serve(middleware)[2] for _ in range(2)]
    seen = [environ[MARK_ID_KEY] for environ in app.environs]
    assert seen == told and seen[0] != seen[1]
    for id, body in zip(seen, bodies):
        assert before <= id >> 32 <= int(time.time())  # the time, then random bits
        assert [found.id for found in vantoro.trace(body, "secret")] == [id]


def test_mark_ids_can_come_from_the_site():
    ids = iter([2**64 - 1, 2**63])
    app = Recorder(body=PROSE)
    middleware = ProtectMiddleware(app, "Test Site", site_key="secret",
                                   new_mark_id=lambda environ: next(ids))
    for expected in (2**64 - 1, 2**63):
        _, _, body, _ = serve(middleware)
        assert app.environs[-1][MARK_ID_KEY] == expected
        assert vantoro.trace(body, "secret")[0].id == expected
    bad = ProtectMiddleware(app, "Test Site", site_key="secret",
                            new_mark_id=lambda environ: -1)
    with pytest.raises(vantoro.Error):
        serve(bad)


def test_a_range_asked_again_keeps_its_mark_id():
    app = Recorder(body=PROSE)
    told = []
    middleware = ProtectMiddleware(app, "Test Site", site_key="secret",
                                   on_mark=lambda environ, id: told.append(id))
    _, _, body, _ = serve(middleware, HTTP_RANGE="bytes=0-3")
    assert len(app.environs) == 2 and len(told) == 1
    assert app.environs[1][MARK_ID_KEY] == told[0] == vantoro.trace(body, "secret")[0].id


def test_no_mark_ids_without_marks():
    for options in ({}, {"site_key": "secret", "marks": False},
                    {"site_key": "secret", "passes": "page"}):
        app = Recorder(body=PROSE)
        serve(ProtectMiddleware(app, "Test Site", on_mark=pytest.fail, **options))
        assert MARK_ID_KEY not in app.environs[0]
    with pytest.raises(vantoro.Error):
        ProtectMiddleware(app, "Test Site", marks=True)  # marks need a key


def test_the_reservation_on_protected_responses():
    middleware = ProtectMiddleware(Recorder(body=PROSE), "Test Site", tdm_reservation=True,
                                   tdm_policy="https://example.org/tdm-policy.json")
    _, headers, body, _ = serve(middleware)
    assert headers["tdm-reservation"] == "1"
    assert headers["tdm-policy"] == "https://example.org/tdm-policy.json"
    assert b'<meta name="tdm-reservation" content="1">' in body
    _, headers, body, _ = serve(middleware, "HEAD")
    assert headers["tdm-reservation"] == "1" and body == b""
    # Not on a response that passes, and the application's own value stays.
    _, headers, _, _ = serve(ProtectMiddleware(Recorder("text/plain"), "Test Site",
                                               tdm_reservation=True))
    assert "tdm-reservation" not in headers
    _, headers, _, _ = serve(ProtectMiddleware(Recorder(extra=[("TDM-Reservation", "0")]),
                                               "Test Site", tdm_reservation=True))
    assert headers["tdm-reservation"] == "0"
    _, headers, body, _ = serve(ProtectMiddleware(Recorder(), "Test Site"))
    assert "tdm-reservation" not in headers and b"tdm-reservation" not in body
    with pytest.raises(vantoro.Error):
        ProtectMiddleware(Recorder(), "Test Site", tdm_policy="https://example.org/p")
    with pytest.raises(vantoro.Error):
        ProtectMiddleware(Recorder(), "Test Site", tdm_reservation=True,
                          tdm_policy="https://example.org/p\r\nSet-Cookie: x=1")


def test_bypassed_requests_reach_the_application_untouched():
    app = Recorder(body=PROSE)
    crawler = {"HTTP_USER_AGENT": "crawler", "REMOTE_ADDR": "192.0.2.1"}
    middleware = ProtectMiddleware(app, "Test Site", site_key="secret", debug=True,
                                   bypass=lambda e: e.get("REMOTE_ADDR") == "192.0.2.1",
                                   on_mark=pytest.fail)
    status, headers, body, result = serve(middleware, HTTP_ACCEPT_ENCODING="gzip", **crawler)
    assert (status, body) == ("200 OK", PROSE) and headers["x-vantoro-status"] == "bypass"
    assert headers["last-modified"] and isinstance(result, Recorder.Body)
    assert app.environs[0]["HTTP_ACCEPT_ENCODING"] == "gzip"
    assert MARK_ID_KEY not in app.environs[0]
    # Without debug the application's own response object goes out.
    middleware = ProtectMiddleware(app, "Test Site", bypass=lambda e: True)
    _, headers, body, result = serve(middleware)
    assert body == PROSE and "x-vantoro-status" not in headers
    assert isinstance(result, Recorder.Body)
