"""Responses the module must leave alone: their bytes are exactly what the
upstream or nginx alone sends. Each group also has a case the module does
protect, so that a module that protected nothing would fail here too."""
import gzip
import re

import pytest

from conftest import ARTICLE, COPYRIGHT, NOTICE, RELEASE_MODULE, upstream_body


@pytest.fixture(scope="module")
def server(nginx, site):
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_bypass $vantoro_exempt $cookie_editor;
        ssi_last_modified on;
        location /u/ {{ proxy_pass http://UPSTREAM/; }}
        location /gz/ {{ proxy_pass http://UPSTREAM/; }}
        location /gz2/ {{ proxy_pass http://UPSTREAM/; }}
        location /s/ {{ alias {site}/; }}
        location /off/ {{ vantoro off; alias {site}/; }}
        location /text/ {{ vantoro_types text/plain; alias {site}/; }}
        location /small/ {{ vantoro_max_size 4k; proxy_pass http://UPSTREAM/; }}
        location /ssi/ {{ vantoro off; ssi on; alias {site}/; }}
        location = /empty200 {{ return 200 ""; }}
        location = /head.html {{ add_header X-Head yes; alias {site}/article.html; }}
    """, http="""
        map $http_user_agent $vantoro_exempt {
            default 0;
            "~*(Googlebot|bingbot)" 1;
        }
    """, module=RELEASE_MODULE)


def assert_unchanged(r, original):
    assert r.status == original.status
    assert r.body == original.body


@pytest.mark.parametrize("query", [
    "status=404",
    "status=206",
    "cc=no-transform",
    "cc=public,%20no-transform,%20max-age=60",
    "cc=NO-TRANSFORM&chunks=1",
    "ct=text/plain",
    "ct=application/json&chunks=random",
    "gzip=1",
    "gzip=1&chunks=random",
])
def test_upstream_responses_pass_unchanged(server, upstream, query):
    path = "/article.html?" + query
    assert_unchanged(server.request("/u" + path), upstream_body(upstream, path))


def test_protected_counterparts(server, upstream):
    for query in ["cc=max-age=60,%20no-cache", "ct=text/html;%20charset=utf-8", ""]:
        r = server.request("/u/article.html?" + query)
        assert r.status == 200 and NOTICE in r.body, query


def test_not_modified_and_no_content(server, upstream):
    r = server.request("/u/article.html?validators=1", {"If-None-Match": '"upstream-etag-1"'})
    assert r.status == 304 and r.body == b""
    assert r.header("ETag") == '"upstream-etag-1"'
    r = server.request("/u/article.html?status=204")
    assert r.status == 204 and r.body == b""
    r = server.request("/empty200")
    assert r.status == 200 and r.body == b""
    r = server.request("/u/empty.html?chunks=1")
    assert r.status == 200 and r.body == b""


def test_head_request(server):
    """HEAD of a protected page: the headers of its GET, but for a length nobody
    knows without protecting it (and never the original's)."""
    def comparable(r):
        return sorted((k.lower(), v) for k, v in r.headers
                      if k.lower() not in ("date", "content-length", "connection"))

    for path in ("/head.html", "/u/article.html?validators=1"):
        get = server.request(path)
        head = server.request(path, method="HEAD")
        assert head.status == get.status == 200 and head.body == b""
        assert NOTICE in get.body
        assert head.header("Content-Length") is None
        assert comparable(head) == comparable(get), path
        assert head.header("ETag").startswith("W/")
    # a HEAD that is not protected keeps what nginx sends
    r = server.request("/off/article.html", method="HEAD")
    assert r.header("Content-Length") == str(len(ARTICLE))
    assert not r.header("ETag").startswith("W/")


def test_types(server, site):
    plain = (site / "plain.txt").read_bytes()
    assert server.request("/s/plain.txt").body == plain
    # vantoro_types adds to text/html, as nginx's own *_types directives do
    r = server.request("/text/plain.txt")
    assert r.body != plain and b"Vantoro" in r.body and b"just text" in r.body
    assert NOTICE in server.request("/text/article.html").body


def test_switched_off_location(server, site):
    r = server.request("/off/article.html")
    assert r.body == ARTICLE and r.header("Content-Length") == str(len(ARTICLE))


def test_subrequests_pass_unchanged(server, site):
    (site / "with-include.html").write_bytes(
        b'<html><body><!--# include virtual="/s/fragment.html" --></body></html>')
    r = server.request("/ssi/with-include.html")
    assert r.body == b"<html><body><p>An included paragraph.</p>\n</body></html>"
    # the same fragment asked for itself is protected
    assert NOTICE in server.request("/s/fragment.html").body


def test_gzip_encoded_responses_warn_once_per_location(server, upstream):
    before = server.error_log().count("Content-Encoding: gzip")
    for _ in range(3):
        for location in ("/gz/", "/gz2/"):
            r = server.request(location + "article.html?gzip=1")
            assert r.header("Content-Encoding") == "gzip"
            assert gzip.decompress(r.body) == ARTICLE
    log = server.error_log()
    warnings = [line for line in log.splitlines() if "Content-Encoding: gzip" in line]
    assert len(warnings) - before == 2
    # at the level Debian's default error_log shows
    assert all("[error]" in line for line in warnings)


def test_bypass_with_a_map(server):
    cases = [
        ({"User-Agent": "Mozilla/5.0 (compatible; Googlebot/2.1)"}, False),
        ({"User-Agent": "Mozilla/5.0 bingbot/2.0"}, False),
        ({"Cookie": "editor=1"}, False),
        ({"Cookie": "editor=yes"}, False),
        ({"Cookie": "editor=0"}, True),
        ({"Cookie": "editor="}, True),
        ({"User-Agent": "Mozilla/5.0 Firefox/140.0"}, True),
        ({}, True),
    ]
    for headers, protected in cases:
        r = server.request("/s/article.html", headers)
        assert r.status == 200
        assert (r.body != ARTICLE) == protected, headers
        assert (NOTICE in r.body) == protected, headers


def test_size_limit(server, upstream, site):
    # 4k: article.html (about 600 bytes) fits, long.html (about 12 KB) does not
    def lines():
        return [l for l in server.error_log().splitlines() if "vantoro_max_size" in l]

    seen = len(lines())
    for query in ["", "chunks=random", "chunks=1", "nolength=1"]:
        path = "/long.html?" + query
        r = server.request("/small" + path)
        assert_unchanged(r, upstream_body(upstream, path))
        assert len(lines()) == seen + 1, query
        seen += 1
        r = server.request("/small/article.html?" + query)
        assert NOTICE in r.body
        assert len(lines()) == seen

    # exactly at the limit still fits
    page = b"<p>" + b"x" * (4096 - 7) + b"</p>"
    (site / "exact.html").write_bytes(page)
    assert NOTICE in server.request("/small/exact.html?chunks=random").body
    (site / "over.html").write_bytes(page + b"\n")
    assert server.request("/small/over.html?chunks=random").body == page + b"\n"
    assert re.search(r"\[error\].*larger than vantoro_max_size 4096", server.error_log())
