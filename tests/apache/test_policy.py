"""No way around the protection: the requests that would get an original page
(a range, a compressed copy, a HEAD, a conditional request) get a protected
one or none, and every response says in the access log why it went out as it
did."""
import gzip
import re
import time

import pytest

from conftest import (ARTICLE, COPYRIGHT, LAST_MODIFIED, LONG, NOTICE, RELEASE_MODULE,
                      STRONG_ETAG, WATERMARK, upstream_body)

# where protection is on, by the module's own directive
PROTECTED = ["/u/", "/s/", "/zip/", "/small/", "/small-s/", "/bypass/", "/gz/", "/both/",
             "/cond/", "/cgi-on/"]


@pytest.fixture(scope="module")
def server(apache, validating):
    on = "\n".join("<Location %s>\n    Vantoro On\n</Location>" % p for p in PROTECTED)
    return apache.start(f"""
VantoroCopyright "{COPYRIGHT}"
{on}
ProxyPass /u/ http://UPSTREAM/
ProxyPass /zip/ http://UPSTREAM/
ProxyPass /small/ http://UPSTREAM/
ProxyPass /bypass/ http://UPSTREAM/
ProxyPass /byfilter/ http://UPSTREAM/
ProxyPass /both/ http://UPSTREAM/
ProxyPass /off/ http://UPSTREAM/
ProxyPass /off-filter/ http://UPSTREAM/
ProxyPass /cond/ http://127.0.0.1:{validating}/
ProxyPass /cond-type/ http://127.0.0.1:{validating}/
ScriptAlias /cgi-on/ {apache.cgi}/
ScriptAlias /cgi-type/ {apache.cgi}/
Alias /s/ SITE/
Alias /small-s/ SITE/
Alias /gz/ SITE/
Alias /plain/ SITE/
<Location /zip/>
    SetOutputFilter INFLATE
    AddOutputFilterByType DEFLATE text/html
</Location>
<Location /gz/>
    AddOutputFilterByType DEFLATE text/html
</Location>
<LocationMatch "^/small">
    VantoroMaxSize 4k
</LocationMatch>
<Location /bypass/>
    VantoroBypass "%{{QUERY_STRING}} =~ /raw=1/"
</Location>
<Location /byfilter/>
    AddOutputFilterByType VANTORO text/html
</Location>
<Location /both/>
    AddOutputFilterByType VANTORO text/html
</Location>
<Location /off-filter/>
    Vantoro Off
    AddOutputFilterByType VANTORO text/html
</Location>
<LocationMatch "^/(cond|cgi)-type/">
    AddOutputFilterByType VANTORO text/html
</LocationMatch>
""", module=RELEASE_MODULE)


def sent_headers(upstream):
    return {k.lower() for k in upstream.last_request()[1]}


def test_a_range_of_an_original_page_is_never_sent(server, upstream):
    # the backend itself would answer with a slice of the original
    assert upstream_body(upstream, "/article.html?ranges=1", {"Range": "bytes=0-"}).status == 206
    for headers in ({"Range": "bytes=0-"}, {"Range": "bytes=10-40"},
                    {"Range": "bytes=0-", "If-Range": '"upstream-etag-1"'},
                    {"Request-Range": "bytes=0-9"}):
        r = server.request("/u/article.html?ranges=1&validators=1", headers)
        assert r.status == 200, headers
        assert NOTICE in r.body and b"Compost, then mulch." in r.body
        assert r.header("Content-Range") is None and r.header("Accept-Ranges") is None
        assert not {"range", "if-range", "request-range"} & sent_headers(upstream)
    # files httpd serves itself: the whole protected page, also for If-Range
    # with the original's validator and the old Request-Range
    strong = server.request("/plain/article.html").header("ETag")
    for headers in ({"Range": "bytes=0-9"}, {"Range": "bytes=0-9", "If-Range": strong},
                    {"Request-Range": "bytes=0-9"}, {"Range": "bytes=0-1,5-9"}):
        r = server.request("/s/article.html", headers)
        assert r.status == 200 and NOTICE in r.body, headers
        assert r.header("Content-Length") == str(len(r.body))


def test_other_types_keep_their_ranges(server, upstream):
    # taken from the request before the handler ran, given back for a file
    # that is not protected
    r = server.request("/s/notes.txt", {"Range": "bytes=0-9"})
    assert r.status == 206 and r.body == b"0123456789"
    r = server.request("/s/notes.txt", {"Range": "bytes=0-9", "If-Range": '"other"'})
    assert r.status == 200 and len(r.body) == 100
    # a backend is never asked for one, whatever it sends
    r = server.request("/u/plain.txt?ct=text/plain&ranges=1", {"Range": "bytes=0-3"})
    assert r.body.startswith(b"just") and r.header("Content-Range") in (None, "bytes 0-3/22")
    assert "range" not in sent_headers(upstream)


def test_head_gets_the_headers_of_a_get_without_a_length(server):
    get = server.request("/s/article.html")
    head = server.request("/s/article.html", method="HEAD")
    assert head.status == 200 and head.body == b""
    assert head.header("Content-Length") is None
    assert head.header("ETag") == get.header("ETag")
    assert head.header("Last-Modified") is None and head.header("Accept-Ranges") is None
    # a backend's HEAD says the original's length, which goes
    assert upstream_body(server.upstream, "/article.html").header("Content-Length")
    head = server.request("/u/article.html?validators=1&head", method="HEAD")
    assert head.status == 200 and head.header("Content-Length") is None
    assert head.header("ETag") == 'W/"upstream-etag-1"'
    assert server.log_line("/u/article.html?validators=1&head")[2] == "protected"


def test_conditional_requests_get_no_original(server):
    plain = server.request("/plain/article.html")
    get = server.request("/s/article.html")
    assert get.header("ETag") == "W/" + plain.header("ETag")
    for headers in ({"If-None-Match": get.header("ETag")},
                    {"If-None-Match": plain.header("ETag")},
                    {"If-Modified-Since": plain.header("Last-Modified")}):
        r = server.request("/s/article.html", headers)
        assert r.status == 304 and r.body == b"", headers
        # the validators the protected page has, not the original's
        assert r.header("ETag") == get.header("ETag")
        assert r.header("Last-Modified") is None
    # a backend's own 304 too
    r = server.request("/u/article.html?validators=1",
                       {"If-None-Match": '"upstream-etag-1"'})
    assert r.status == 304 and r.body == b""
    assert r.header("ETag") == 'W/"upstream-etag-1"' and r.header("Last-Modified") is None


@pytest.mark.parametrize("path", [
    # Vantoro On: a backend's and a script's 304 without a Content-Type, and
    # httpd's 304 for a script's page
    "/cond/notes/1", "/cgi-on/cond.cgi", "/cgi-on/cond.cgi?own=1",
    # only AddOutputFilterByType adds the filter, which httpd takes out of the
    # chain of every response but a 200
    "/cond-type/notes/1", "/cgi-type/cond.cgi", "/cgi-type/cond.cgi?own=1",
    "/byfilter/article.html?validators=1",
])
def test_a_304_of_a_backend_or_script_carries_no_original_validator(server, path):
    page = server.request(path)
    assert page.status == 200 and NOTICE in page.body
    etag = page.header("ETag")
    assert etag.startswith('W/"') and page.header("Last-Modified") is None
    # what a client that saw the original would send
    conditions = [{"If-None-Match": etag[2:]}]
    if "validators" not in path:
        conditions.append({"If-Modified-Since": LAST_MODIFIED})
    for i, headers in enumerate(conditions):
        marker = "m%d=%d" % (i, time.monotonic_ns())
        r = server.request(path + ("&" if "?" in path else "?") + marker, headers)
        assert r.status == 304 and r.body == b"", headers
        assert r.header("ETag") == etag, headers
        assert r.header("Last-Modified") is None, headers
        assert server.log_line(marker)[2] == "status"


def test_a_304_elsewhere_keeps_its_validators(server, validating):
    # no filter, no Vantoro On: nothing of the module's
    r = server.request("/cgi/cond.cgi", {"If-None-Match": STRONG_ETAG})
    assert r.status == 304 and r.header("ETag") == STRONG_ETAG
    assert r.header("Last-Modified") == LAST_MODIFIED
    # a 304 of a type that is not protected
    r = server.request("/byfilter/plain.txt?ct=text/plain&validators=1",
                       {"If-None-Match": '"upstream-etag-1"'})
    assert r.status == 304 and r.header("ETag") == '"upstream-etag-1"'
    assert r.header("Last-Modified") is not None


def test_a_client_that_accepts_gzip_gets_no_compressed_original(server, upstream):
    # a backend that compresses when asked is not asked
    path = "/article.html?gzip=auto"
    assert upstream_body(upstream, path, {"Accept-Encoding": "gzip"}).header(
        "Content-Encoding") == "gzip"
    r = server.request("/u" + path, {"Accept-Encoding": "gzip, deflate, br"})
    assert r.header("Content-Encoding") is None and NOTICE in r.body
    assert "accept-encoding" not in sent_headers(upstream)
    # httpd's own files: mod_deflate compresses the protected page
    r = server.request("/gz/article.html", {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") == "gzip"
    page = gzip.decompress(r.body)
    assert NOTICE in page and page != ARTICLE


def test_a_backend_that_compresses_unasked_passes_untouched(server, upstream):
    path = "/article.html?gzip=1&unasked"
    original = upstream_body(upstream, path)
    r = server.request("/u" + path, {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") == "gzip" and r.body == original.body
    assert "accept-encoding" not in sent_headers(upstream)
    assert server.log_line("/u/article.html?gzip=1&unasked")[2] == "encoded"
    assert re.search(r"\[vantoro:error\].*Content-Encoding: gzip.*pass unprotected",
                     server.error_log())


def test_inflate_lets_a_compressed_backend_be_protected(server):
    r = server.request("/zip/article.html?gzip=1", {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") == "gzip"
    page = gzip.decompress(r.body)
    assert NOTICE in page and page != ARTICLE
    r = server.request("/zip/article.html?gzip=1")
    assert r.header("Content-Encoding") is None and NOTICE in r.body


def test_the_size_limit_passes_the_original(server):
    for path in ("/small/long.html", "/small/long.html?chunks=random", "/small-s/long.html"):
        r = server.request(path)
        assert r.status == 200 and r.body == LONG, path
        assert server.log_line(path)[2] == "too_large"
    assert re.search(r"\[vantoro:error\].*larger than VantoroMaxSize 4096, sent unprotected",
                     server.error_log())
    # below it, pages are protected
    assert NOTICE in server.request("/small/article.html?chunks=random").body


def test_the_filter_added_by_type(server, upstream):
    r = server.request("/byfilter/article.html?gzip=auto", {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") is None and NOTICE in r.body
    assert "accept-encoding" not in sent_headers(upstream)
    assert server.request("/byfilter/plain.txt?ct=text/plain").body == b"just text\nsecond line\n"
    # added twice, by type and by Vantoro On: protected once
    r = server.request("/both/article.html")
    assert r.body.count(WATERMARK) == 1 and NOTICE in r.body
    # Vantoro Off wins over the filter
    assert server.request("/off-filter/article.html").body == ARTICLE


@pytest.mark.parametrize("path, headers, status", [
    ("/u/article.html", {}, "protected"),
    ("/s/article.html", {}, "protected"),
    ("/u/article.html?chunks=random", {}, "protected"),
    ("/bypass/article.html?raw=1", {}, "bypass"),
    ("/bypass/article.html?raw=0", {}, "protected"),
    ("/u/article.html?gzip=1", {}, "encoded"),
    ("/u/article.html?cc=no-transform", {}, "no_transform"),
    ("/u/article.html?cc=public,%20no-transform", {}, "no_transform"),
    ("/u/article.html?ct=text/plain", {}, "type"),
    ("/u/article.html?status=404", {}, "status"),
    ("/u/article.html?status=206", {}, "status"),
    ("/s/missing.html", {}, "status"),
    ("/u/empty.html", {}, "empty"),
    ("/u/empty.html?chunks=1", {}, "empty"),
    ("/u/article.html?ct=text/html;%20charset=iso-2022-kr", {}, "error"),
    ("/u/article.html?csp=style-src%20%27self%27", {}, "csp"),
    ("/off/article.html", {}, "-"),
])
def test_every_response_says_why(server, path, headers, status):
    marker = "m=%d" % time.monotonic_ns()  # a line of its own
    r = server.request(path + ("&" if "?" in path else "?") + marker, headers)
    assert r.status in (200, 206, 404)
    assert server.log_line(marker)[2] == status
    assert (status == "protected") == (NOTICE in r.body)
    if status in ("bypass", "no_transform", "csp", "error", "-") and r.status == 200:
        assert r.body == ARTICLE


def test_real_failures_reach_the_error_log(server):
    server.request("/u/article.html?ct=text/html;%20charset=iso-2022-kr")
    assert re.search(r"\[vantoro:error\].*VANTORO_UNKNOWN_CHARSET.*sent unprotected",
                     server.error_log())
    assert re.search(r"\[vantoro:error\].*Content-Security-Policy forbids inline styles",
                     server.error_log())
