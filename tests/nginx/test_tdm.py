"""The TDM reservation: "tdm-reservation: 1" (and "tdm-policy") on every
response where it is on, whatever becomes of the body, and the meta in the
pages the page pass protects."""
import pytest

from conftest import ARTICLE, COPYRIGHT, NOTICE

POLICY = "https://example.com/tdm-policy.json"
META = b'<meta name="tdm-reservation" content="1">'


@pytest.fixture(scope="module")
def server(nginx, values_file, site):
    replay = "vantoro_test_random_values %s;" % values_file
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_bypass $arg_raw;
        location /r/ {{ vantoro_tdm_reservation on; proxy_pass http://UPSTREAM/; }}
        location /exact/ {{
            vantoro_hide style; vantoro_tdm_reservation on; proxy_pass http://UPSTREAM/; {replay}
        }}
        location /p/ {{ vantoro_tdm_policy {POLICY}; proxy_pass http://UPSTREAM/; }}
        location /s/ {{ vantoro_tdm_reservation on; alias {site}/; }}
        location /off/ {{ vantoro off; vantoro_tdm_reservation on; alias {site}/; }}
        location /content/ {{
            vantoro_pass content; vantoro_tdm_reservation on; proxy_pass http://UPSTREAM/;
        }}
        location /own/ {{
            vantoro_tdm_reservation on;
            add_header tdm-reservation $arg_own;
            proxy_pass http://UPSTREAM/;
        }}
        location /unreserved/ {{
            vantoro_tdm_reservation off; vantoro_tdm_policy {POLICY}; proxy_pass http://UPSTREAM/;
        }}
        location /none/ {{ proxy_pass http://UPSTREAM/; }}
    """)


def test_a_protected_page_is_reserved_in_its_headers_and_markup(server, reference):
    r = server.request("/r/article.html")
    assert r.status == 200 and NOTICE in r.body
    assert r.all("tdm-reservation") == ["1"] and r.header("tdm-policy") is None
    assert r.body.count(META) == 1
    # where the head begins, before anything the page had in it
    lower = r.body.lower()
    assert lower.index(b"<head") < r.body.index(META) < lower.index(b"<meta charset")
    exact = server.request("/exact/article.html?chunks=random")
    assert exact.body == reference("protect", ARTICLE, tdm=True)


@pytest.mark.parametrize("path, status, protected", [
    ("/r/article.html?raw=1", 200, False),           # a bypassed crawler
    ("/r/plain.txt?ct=text/plain", 200, False),      # not a page
    ("/r/article.html?status=404", 404, False),
    ("/r/article.html?cc=no-transform", 200, False),
    ("/s/article.html", 200, True),
    ("/off/article.html", 200, False),               # vantoro off
    ("/off/plain.txt", 200, False),
])
def test_every_response_of_the_location_is_reserved(server, path, status, protected):
    r = server.request(path)
    assert r.status == status
    assert r.all("tdm-reservation") == ["1"]
    assert (NOTICE in r.body) == protected
    assert (META in r.body) == protected


def test_head_and_not_modified_are_reserved(server):
    head = server.request("/r/article.html", method="HEAD")
    assert head.status == 200 and head.all("tdm-reservation") == ["1"]
    etag = server.request("/s/article.html").header("ETag")
    r = server.request("/s/article.html", {"If-None-Match": etag})
    assert r.status == 304 and r.all("tdm-reservation") == ["1"]


def test_a_policy_address_implies_the_reservation(server):
    r = server.request("/p/article.html")
    assert r.all("tdm-reservation") == ["1"] and r.all("tdm-policy") == [POLICY]
    assert META in r.body


def test_the_sources_own_reservation_stands(server):
    r = server.request("/own/article.html?own=0")
    assert r.all("tdm-reservation") == ["0"]
    assert NOTICE in r.body and META not in r.body
    # the location's next page without one is reserved again
    r = server.request("/own/article.html")
    assert r.all("tdm-reservation") == ["1"] and META in r.body


def test_no_reservation_where_it_is_off(server):
    for path in ("/unreserved/article.html", "/none/article.html"):
        r = server.request(path)
        assert NOTICE in r.body
        assert r.header("tdm-reservation") is None and r.header("tdm-policy") is None
        assert META not in r.body


def test_the_content_pass_alone_reserves_in_headers_only(server):
    r = server.request("/content/article.html")
    assert NOTICE in r.body and r.all("tdm-reservation") == ["1"]
    assert META not in r.body
