import gzip
import threading
import urllib.request
from wsgiref.simple_server import WSGIRequestHandler, make_server

import pytest

from vantoro.wsgi import ProtectMiddleware

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


@pytest.mark.parametrize("path", ["/plain", "/gzip", "/no-transform", "/unknown-charset"])
def test_other_responses_pass_unchanged(server, path, capsys):
    body, _ = get(server, path)
    assert body == b"".join(RESPONSES[path][2])
    assert closed[path].wait(10)
    if path == "/unknown-charset":
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

    result = ProtectMiddleware(streaming)({"REQUEST_METHOD": "GET"}, lambda *args: None)
    assert next(iter(result)) == HTML[0]
    assert pulled == [HTML[0]]  # not collected first
    result.close()
    assert closed_app
