"""Protected responses: the same bytes as the C interface gives for the page
with the same replayed values, however the body arrives (a file, a CGI script
that flushes every piece, a chunked backend), and the headers that change with
the body."""
import gzip
import re

import pytest

from conftest import ARTICLE, COPYRIGHT, LONG, NOTICE, trace

LINK = b'<link rel="stylesheet" href="/v.css">'


@pytest.fixture(scope="module")
def server(apache, values_file, pausing):
    replay = "VantoroTestRandomValues %s" % values_file
    return apache.start(f"""
Vantoro On
VantoroCopyright "{COPYRIGHT}"
VantoroHide style
Alias /r/s/ SITE/
Alias /r/gz/ SITE/
Alias /r/page/ SITE/
Alias /r/content/ SITE/
Alias /r/random/ SITE/
Alias /r/link/ SITE/
Alias /live/ SITE/
Alias /off/ SITE/
Alias /marked/ SITE/
ProxyPass /r/u/ http://UPSTREAM/
ProxyPass /r/pause/ http://127.0.0.1:{pausing}/
<Location /r/>
    {replay}
</Location>
<Location /cgi/>
    {replay}
</Location>
<Location /r/gz/>
    AddOutputFilterByType DEFLATE text/html
</Location>
<Location /cgz/>
    AddOutputFilterByType DEFLATE text/html
    {replay}
</Location>
ScriptAlias /cgz/ {apache.cgi}/
<Location /r/page/>
    VantoroPass page
</Location>
<Location /r/content/>
    VantoroPass content
</Location>
<Location /r/random/>
    VantoroDecoy random
</Location>
<Location /r/link/>
    VantoroHide layered
    VantoroSiteKey k1
    VantoroStylesheetUri /v.css
    VantoroMarks Off
</Location>
<Location /marked/>
    VantoroHide layered
    VantoroSiteKey k2
</Location>
<Location /v.css>
    SetHandler vantoro-stylesheet
    VantoroSiteKey k1
</Location>
<Location /off/>
    Vantoro Off
</Location>
""", log_level="warn vantoro:trace1")


@pytest.mark.parametrize("path, name, mode, options", [
    ("/r/s/article.html", "article.html", "protect", {}),
    ("/r/s/long.html", "long.html", "protect", {}),
    ("/cgi/page.cgi?name=long.html", "long.html", "protect", {}),
    ("/cgi/page.cgi?name=article.html", "article.html", "protect", {}),
    ("/r/u/long.html?chunks=random", "long.html", "protect", {}),
    ("/r/u/article.html?chunks=1", "article.html", "protect", {}),
    ("/r/u/article.html?nolength=1", "article.html", "protect", {}),
    ("/r/page/article.html", "article.html", "page", {}),
    ("/r/content/article.html", "article.html", "content", {}),
    ("/r/random/long.html", "long.html", "protect", {"decoy": "random"}),
    ("/r/link/article.html", "article.html", "protect",
     {"hide": "layered", "site_key": "k1", "link": "/v.css"}),
])
def test_body_equals_the_c_interface(server, reference, site, path, name, mode, options):
    r = server.request(path)
    assert r.status == 200
    page = (site / name).read_bytes()
    assert r.body == reference(mode, page, **options)
    assert r.body != page
    assert r.header("Content-Length") == str(len(r.body))


def test_flushes_are_held_until_the_end(server, reference):
    log = len(server.error_log())
    r = server.request("/r/pause/long.html")
    # mod_proxy flushed the first half while the backend paused; the page
    # went out whole, protected, with its length
    assert "FLUSH held until the body's end" in server.error_log()[log:]
    assert r.header("Content-Length") == str(len(r.body))
    assert r.header("Transfer-Encoding") is None
    assert r.body == reference("protect", LONG)


def test_gzip_is_of_the_protected_page(server, reference):
    for path in ("/r/gz/article.html", "/cgz/page.cgi?name=article.html"):
        r = server.request(path, {"Accept-Encoding": "gzip"})
        assert r.status == 200 and r.header("Content-Encoding") == "gzip", path
        assert gzip.decompress(r.body) == reference("protect", ARTICLE), path
    # the script was not told the client takes gzip
    assert "HTTP_ACCEPT_ENCODING=-" in r.header("X-Seen")
    # without gzip, the same page plain
    r = server.request("/r/gz/article.html")
    assert r.header("Content-Encoding") is None
    assert r.body == reference("protect", ARTICLE)


def test_each_response_is_marked_anew(server):
    one = server.request("/live/article.html")
    two = server.request("/live/article.html")
    assert one.status == two.status == 200
    assert one.body != two.body
    for body in (one.body, two.body):
        assert NOTICE in body and b"Tomatoes like warm soil" in body


def test_headers_of_a_protected_file(server):
    plain = server.request("/off/article.html")
    # what httpd itself sends, or the checks below could not fail
    assert plain.body == ARTICLE
    assert plain.header("Content-Length") == str(len(ARTICLE))
    assert plain.header("Last-Modified") and plain.header("Accept-Ranges") == "bytes"
    assert plain.header("ETag").startswith('"')

    r = server.request("/live/article.html")
    assert r.status == 200
    assert r.header("Content-Length") == str(len(r.body)) != str(len(ARTICLE))
    assert r.header("Accept-Ranges") is None
    assert r.header("Last-Modified") is None
    assert r.header("ETag") == "W/" + plain.header("ETag")
    assert r.header("Content-Type") == "text/html"


def test_other_types_pass_untouched(server, site):
    r = server.request("/live/plain.txt")
    assert r.body == (site / "plain.txt").read_bytes()
    assert r.header("Accept-Ranges") == "bytes" and r.header("ETag").startswith('"')


def test_marks_name_the_logged_request(server):
    r = server.request("/marked/article.html?marked")
    assert r.status == 200 and NOTICE in r.body
    line = server.log_line("/marked/article.html?marked")
    assert line[2] == "protected" and re.fullmatch(r"[0-9a-f]{16}", line[3])
    assert trace(r.body, "k2") == [line[3]]
    # another key finds nothing
    assert trace(r.body, "k1") == []


def test_stylesheet_is_served_for_its_key(server, reference):
    r = server.request("/v.css")
    assert r.status == 200
    assert r.body == reference("stylesheet", site_key="k1")
    assert r.header("Content-Type").startswith("text/css")
    assert r.header("Cache-Control") == "public, max-age=31536000"
    etag = r.header("ETag")
    assert re.fullmatch(r'"[0-9a-f]{32}"', etag)
    again = server.request("/v.css", {"If-None-Match": etag})
    assert again.status == 304 and again.body == b""
    # the layered pages link it
    assert LINK in server.request("/r/link/article.html").body
