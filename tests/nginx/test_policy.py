"""No way around the protection: the requests that would get an original page
(a range, a compressed copy, a HEAD) get a protected one or none, every
response says in $vantoro_status why it went out as it did, and the memory
of the pages in progress has a ceiling."""
import base64
import gzip
import random
import re
import socket
import time

import pytest

from conftest import ARTICLE, COPYRIGHT, NOTICE, RELEASE_MODULE, upstream_body

GBK_COPYRIGHT = "示例网站:版权所有"
GBK_PAGE = ("<html><head><meta charset=\"gbk\"><title>花园</title></head><body>"
            "<p>番茄喜欢温暖的土壤。</p><p>早上浇水，<br>中午不要。</p></body></html>").encode("gbk")
BIG = 3 << 20  # bytes of a page that no socket buffer below takes whole


@pytest.fixture(scope="module")
def server(nginx, site):
    (site / "gbk.html").write_bytes(GBK_PAGE)
    (site / "notes.txt").write_bytes(b"0123456789" * 10)
    # Mostly words that compress well, and 300 KB that do not: compressed, more
    # than the socket takes, less than gzip's buffers below.
    noise = base64.b64encode(random.Random(7).randbytes(225 << 10))
    words = b"A long text with words. " * ((BIG - len(noise)) // 24)
    (site / "big.html").write_bytes(b"<html><body><p>" + noise + words + b"</p></body></html>\n")
    (site / "empty.html").write_bytes(b"")
    return nginx.start(f"""
        listen 127.0.0.1:{{port2}} sndbuf=32k;
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        access_log {nginx.prefix}/access.log status;
        location /s/ {{ alias {site}/; }}
        location /u/ {{ proxy_pass http://UPSTREAM/; }}
        location /gbk/ {{ vantoro_copyright "{GBK_COPYRIGHT}"; proxy_pass http://UPSTREAM/; }}
        location /gbk-static/ {{ vantoro_copyright "{GBK_COPYRIGHT}"; alias {site}/; }}
        location /zip/ {{ proxy_pass http://UPSTREAM/; gunzip on; gzip on; gzip_min_length 1; }}
        location /small/ {{ vantoro_max_size 4k; proxy_pass http://UPSTREAM/; }}
        location /bypass/ {{ vantoro_bypass $arg_raw; proxy_pass http://UPSTREAM/; }}
        location /gz/ {{ gzip on; gzip_min_length 1; gzip_buffers 64 16k; alias {site}/; }}
        location /off/ {{ vantoro off; proxy_pass http://UPSTREAM/; }}
    """, http="""
        log_format status '$request_uri $vantoro_status';
        vantoro_worker_memory 8m;
    """, module=RELEASE_MODULE)


def raw_request(port, request, rcvbuf=None):
    """A connected socket that has sent `request` (and read nothing yet)."""
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.connect(("127.0.0.1", port))
    s.sendall(request)
    return s


def read_all(s):
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            return data
        data += chunk


def test_a_range_of_an_original_page_is_never_sent(server, upstream):
    # the source itself would answer with a slice of the original
    assert upstream_body(upstream, "/article.html?ranges=1", {"Range": "bytes=0-"}).status == 206
    assert upstream_body(upstream, "/article.html?ranges=1",
                         {"Request-Range": "bytes=0-"}).status == 206
    for headers in ({"Range": "bytes=0-"}, {"Range": "bytes=10-40"},
                    {"Range": "bytes=0-", "If-Range": '"upstream-etag-1"'},
                    {"Request-Range": "bytes=0-"}):
        r = server.request("/u/article.html?ranges=1&validators=1", headers)
        assert r.status == 200, headers
        assert NOTICE in r.body and b"Compost, then mulch." in r.body
        assert r.header("Content-Range") is None
        sent = {k.lower() for k in upstream.last_request()[1]}
        assert not sent & {"range", "if-range", "request-range"}
    # files nginx serves itself keep their ranges where nothing is protected
    r = server.request("/s/notes.txt", {"Range": "bytes=0-9"})
    assert r.status == 206 and r.body == b"0123456789"
    r = server.request("/s/article.html", {"Range": "bytes=0-9"})
    assert r.status == 200 and NOTICE in r.body


def test_a_client_that_accepts_gzip_gets_no_compressed_original(server, upstream):
    # a source that compresses when asked is not asked
    path = "/article.html?gzip=auto"
    assert upstream_body(upstream, path, {"Accept-Encoding": "gzip"}).header(
        "Content-Encoding") == "gzip"
    r = server.request("/u" + path, {"Accept-Encoding": "gzip, deflate, br"})
    assert r.header("Content-Encoding") is None and NOTICE in r.body
    assert "accept-encoding" not in {k.lower() for k in upstream.last_request()[1]}


def test_compressed_sources_are_protected_with_gunzip(server, upstream):
    path = "/article.html?gzip=1"
    assert upstream_body(upstream, path).header("Content-Encoding") == "gzip"
    # a client that takes gzip gets the protected page compressed again
    r = server.request("/zip" + path, {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") == "gzip"
    page = gzip.decompress(r.body)
    assert NOTICE in page and page != ARTICLE
    # one that does not gets it plain
    r = server.request("/zip" + path)
    assert r.header("Content-Encoding") is None and NOTICE in r.body
    # other types keep flowing
    r = server.request("/zip/plain.txt?gzip=1&ct=text/plain")
    assert r.body == b"just text\nsecond line\n"


def test_page_declared_only_in_its_meta_gets_notices_in_its_charset(server, reference):
    for path in ("/gbk/gbk.html", "/gbk-static/gbk.html"):
        r = server.request(path)
        assert r.status == 200
        assert "charset" not in (r.header("Content-Type") or "")
        assert "版权所有".encode("gbk") in r.body, path
        assert "版权所有".encode("utf-8") not in r.body, path
        assert "番茄喜欢温暖的土壤".encode("gbk") in r.body
    # the transport's charset, when there is one, comes before the page's
    r = server.request("/gbk/gbk.html?ct=text/html;%20charset=utf-8")
    assert "版权所有".encode("utf-8") in r.body


def statuses(server):
    path = server.prefix / "access.log"
    for _ in range(100):  # nginx writes the line when the request is done
        lines = path.read_text().splitlines() if path.exists() else []
        if lines:
            return lines
        time.sleep(0.05)
    return []


def last_status(server, uri):
    """The status of the last request whose URI (query included) holds `uri`."""
    for _ in range(100):
        for line in reversed(statuses(server)):
            if uri in line.split(" ")[0]:
                return line.split(" ")[1]
        time.sleep(0.05)
    return None


@pytest.mark.parametrize("path, headers, status", [
    ("/u/article.html", {}, "protected"),
    ("/s/article.html", {}, "protected"),
    ("/bypass/article.html?raw=1", {}, "bypass"),
    ("/small/long.html", {}, "too_large"),
    ("/small/long.html?chunks=random", {}, "too_large"),
    ("/u/article.html?gzip=1", {}, "encoded"),
    ("/u/article.html?cc=no-transform", {}, "no_transform"),
    ("/u/article.html?ct=text/plain", {}, "type"),
    ("/u/article.html?status=404", {}, "status"),
    ("/u/article.html?status=206", {}, "status"),
    ("/u/empty.html", {}, "empty"),
    ("/u/empty.html?chunks=1", {}, "empty"),
    ("/u/article.html?ct=text/html;%20charset=iso-2022-kr", {}, "error"),
    ("/off/article.html", {}, "-"),
])
def test_every_response_says_why(server, path, headers, status):
    marker = "m=%d" % time.monotonic_ns()  # a line of its own
    r = server.request(path + ("&" if "?" in path else "?") + marker, headers)
    assert r.status in (200, 206, 404)
    assert last_status(server, marker) == status
    assert (status == "protected") == (NOTICE in r.body)


def test_real_failures_reach_the_default_error_log_level(server):
    server.request("/u/article.html?ct=text/html;%20charset=iso-2022-kr")
    assert re.search(r"\[error\].*VANTORO_UNKNOWN_CHARSET.*sent unprotected", server.error_log())


def test_memory_of_the_pages_in_progress_has_a_ceiling(server):
    port = server.port2
    get = b"GET /gz/big.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n%s\r\n"
    # a client that reads nothing keeps its whole result in this worker
    slow = raw_request(port, get % b"", rcvbuf=4096)
    time.sleep(0.5)
    second = server.request("/gz/big.html?second")
    assert second.status == 200 and NOTICE not in second.body
    assert last_status(server, "/gz/big.html?second") == "memory"
    assert re.search(r"\[error\].*vantoro_worker_memory, sent unprotected", server.error_log())
    body = read_all(slow)
    slow.close()
    assert NOTICE in body
    # the result went when it was sent: room again
    third = server.request("/gz/big.html")
    assert NOTICE in third.body
    # compressed for the client, a result goes as soon as gzip has taken it,
    # however slowly the client reads
    slow = raw_request(port, get % b"Accept-Encoding: gzip\r\n", rcvbuf=4096)
    time.sleep(0.5)
    fourth = server.request("/gz/big.html")
    assert NOTICE in fourth.body
    read_all(slow)
    slow.close()
