"""Protected responses: the same bytes as the C interface gives for the page
with the same replayed values, however the body arrives, and the headers that
change with the body."""
import re

import pytest

from conftest import ARTICLE, COPYRIGHT, NOTICE

LINK = b'<link rel="stylesheet" href="/v.css">'


@pytest.fixture(scope="module")
def server(nginx, values_file, site):
    replay = "vantoro_test_random_values %s;" % values_file
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_hide style;
        location /s/ {{ alias {site}/; {replay} }}
        location /u/ {{ proxy_pass http://UPSTREAM/; {replay} }}
        location /unbuffered/ {{ proxy_buffering off; proxy_pass http://UPSTREAM/; {replay} }}
        location /page/ {{ vantoro_pass page; proxy_pass http://UPSTREAM/; {replay} }}
        location /content/ {{ vantoro_pass content; proxy_pass http://UPSTREAM/; {replay} }}
        location /random/ {{ vantoro_decoy random; proxy_pass http://UPSTREAM/; {replay} }}
        location /both/ {{ vantoro_decoy both; proxy_pass http://UPSTREAM/; {replay} }}
        location /class/ {{
            vantoro_hide class; vantoro_site_key k1; vantoro_stylesheet_uri /v.css;
            proxy_pass http://UPSTREAM/; {replay}
        }}
        location /live/ {{ alias {site}/; }}
        location /off/ {{ vantoro off; alias {site}/; }}
        location /off-u/ {{ vantoro off; proxy_pass http://UPSTREAM/; }}
    """)


@pytest.mark.parametrize("path, mode, options", [
    ("/s/article.html", "protect", {}),
    ("/s/long.html", "protect", {}),
    ("/u/article.html", "protect", {}),
    ("/u/article.html?chunks=1", "protect", {}),
    ("/u/long.html?chunks=1", "protect", {}),
    ("/u/long.html?chunks=random", "protect", {}),
    ("/u/article.html?nolength=1", "protect", {}),
    ("/unbuffered/long.html?chunks=random", "protect", {}),
    ("/unbuffered/long.html?chunks=1", "protect", {}),
    ("/page/article.html?chunks=random", "page", {}),
    ("/content/article.html", "content", {}),
    ("/random/article.html", "protect", {"decoy": "random"}),
    ("/both/long.html?chunks=1", "protect", {"decoy": "both"}),
])
def test_body_equals_the_c_interface(server, reference, site, path, mode, options):
    name = path.split("/")[2].split("?")[0]
    r = server.request(path)
    assert r.status == 200
    expected = reference(mode, (site / name).read_bytes(), **options)
    assert r.body == expected
    assert r.body != (site / name).read_bytes()


# The stylesheet link: right after the <head> start tag, never inside a
# comment, raw text or an attribute value; before the first tag without a
# head; at the end of a page without tags. Each page is written with the
# link where it must go.
PLACEMENTS = {
    "plain": b"<!DOCTYPE html><html><head>{L}<title>t</title></head><body><p>a.</p></body></html>",
    "head-attributes": b'<html><HEAD profile="a>b" data-x=\'<head>\'>{L}</HEAD><body><p>a.</p></body></html>',
    "in-comment": b"<!-- <head> --><html><head>{L}</head><body><p>a.</p></body></html>",
    # "<!-->" and "<!--->" are whole comments: the head follows them
    "short-comment": b"<!--><head>{L}<title>t</title><!-- c --></head><p>a.</p>",
    "short-comment-2": b"<!---><head>{L}<title>t</title><!-- c --></head><p>a.</p>",
    "in-script": b"<script>var h = '<head>';</script ><head>{L}</head><p>a.</p>",
    "in-title": b"<html><title>a <head> b</TITLE><head>{L}</head><p>a.</p></html>",
    "in-textarea": b"<textarea><head></textarea><head>{L}</head><p>a.</p>",
    "in-attribute": b'<html data-x="<head>"><head>{L}</head><body><p>a.</p></body></html>',
    "in-doctype": b"<!DOCTYPE html SYSTEM '<head>'><html><head>{L}</head><p>a.</p></html>",
    "self-closed": b"<html><head/>{L}<body><p>a.</p></body></html>",
    "headline-is-no-head": b"<!DOCTYPE html>{L}<headline><p>a.</p></headline>",
    "no-head": b"<!DOCTYPE html>\n{L}<p>a.</p>",
    "end-tag-first": b"</div >{L}<p>a.</p>",
    "no-tags": b"just text, no markup{L}",
    "comment-only": b"<!-- <head> <p> -->{L}",
}


@pytest.mark.parametrize("name", sorted(PLACEMENTS))
def test_stylesheet_link_placement(server, reference, site, name):
    with_link = PLACEMENTS[name].replace(b"{L}", LINK)
    page = PLACEMENTS[name].replace(b"{L}", b"")
    (site / ("place-" + name + ".html")).write_bytes(page)
    r = server.request("/class/place-%s.html?chunks=random" % name)
    assert r.status == 200
    assert r.body == reference("protect", with_link, hide="class", site_key="k1")


def test_each_response_is_marked_anew(server):
    one = server.request("/live/article.html")
    two = server.request("/live/article.html")
    assert one.status == two.status == 200
    assert one.body != two.body
    for body in (one.body, two.body):
        assert NOTICE in body and b"Tomatoes like warm soil" in body


def test_headers_of_a_protected_static_file(server):
    plain = server.request("/off/article.html")
    # what nginx itself sends, or the checks below could not fail
    assert plain.header("Content-Length") == str(len(ARTICLE))
    assert plain.header("Last-Modified") and plain.header("Accept-Ranges") == "bytes"
    assert plain.header("ETag").startswith('"')

    r = server.request("/live/article.html")
    assert r.status == 200
    # the whole result is known when the headers go: its length is sent
    assert r.header("Content-Length") == str(len(r.body)) != str(len(ARTICLE))
    assert r.header("Transfer-Encoding") is None
    assert r.header("Accept-Ranges") is None
    assert r.header("Last-Modified") is None
    assert r.header("ETag") == "W/" + plain.header("ETag")
    assert r.header("Content-Type") == "text/html"


def test_headers_of_a_protected_proxied_response(server, upstream):
    plain = server.request("/off-u/article.html?validators=1")
    assert plain.header("Accept-Ranges") == "bytes" and plain.header("Last-Modified")
    r = server.request("/u/article.html?validators=1")
    assert r.status == 200 and NOTICE in r.body
    assert r.header("ETag") == 'W/"upstream-etag-1"'
    assert r.header("Last-Modified") is None
    assert r.header("Content-Length") == str(len(r.body))
    assert r.header("Accept-Ranges") is None


def test_conditional_and_range_requests(server):
    etag = server.request("/live/article.html").header("ETag")
    # nginx compares If-None-Match weakly, so the weak ETag still validates
    r = server.request("/live/article.html", {"If-None-Match": etag})
    assert r.status == 304 and r.body == b""
    # ranges of a body that changes on every response make no sense
    r = server.request("/live/article.html", {"Range": "bytes=0-9"})
    assert r.status == 200
    # the whole page, to its last tag (which may or may not get a comment)
    assert NOTICE in r.body and re.search(rb"(?i)</html\s*>(<!--\w*-->)?\s*$", r.body)
