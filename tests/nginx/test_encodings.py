"""Encodings: the page's character set, which the inserted text must follow,
and compression, which the README's recipe keeps towards clients."""
import gzip

import pytest

from conftest import ARTICLE, NOTICE, upstream_body

COPYRIGHT_RU = "Пример:Все права защищены"
PAGE_RU = ("<html><head><title>Сад</title></head><body>"
           "<p>Помидоры любят тёплую почву.</p><p>Поливать утром,<br>не в полдень.</p>"
           "</body></html>").encode("cp1251")


@pytest.fixture(scope="module")
def server(nginx, values_file, site):
    (site / "ru.html").write_bytes(PAGE_RU)
    replay = "vantoro_test_random_values %s;" % values_file
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT_RU}";
        vantoro_hide style;
        location /u/ {{ proxy_pass http://UPSTREAM/; {replay} }}
        location /cs/ {{ charset windows-1251; alias {site}/; {replay} }}
        location /zip/ {{
            proxy_pass http://UPSTREAM/;
            proxy_set_header Accept-Encoding "";
            gzip on;
            gzip_min_length 1;
        }}
        location /nozip/ {{ proxy_pass http://UPSTREAM/; }}
    """)


@pytest.mark.parametrize("content_type", [
    "text/html;%20charset=windows-1251",
    "text/html;%20charset=%22windows-1251%22",
    "text/html;%20charset=WINDOWS-1251",
])
def test_inserted_text_follows_the_charset(server, reference, content_type):
    r = server.request("/u/ru.html?chunks=random&ct=" + content_type)
    assert r.status == 200
    assert r.body == reference("protect", PAGE_RU, copyright=COPYRIGHT_RU,
                               charset="windows-1251")
    assert "Все права защищены".encode("cp1251") in r.body
    assert "Все права защищены".encode("utf-8") not in r.body


def test_charset_set_by_nginx(server, reference):
    # nginx's charset directive names the charset of a static file
    r = server.request("/cs/ru.html")
    assert r.header("Content-Type") == "text/html; charset=windows-1251"
    assert r.body == reference("protect", PAGE_RU, copyright=COPYRIGHT_RU,
                               charset="windows-1251")


def test_utf8_is_the_default(server, reference, site):
    r = server.request("/u/article.html")
    assert r.body == reference("protect", ARTICLE, copyright=COPYRIGHT_RU)
    assert "Все права защищены".encode("utf-8") in r.body


def test_unknown_charset_label_is_ignored(server, reference):
    # as a browser ignores it: the page's own declaration, else UTF-8
    r = server.request("/u/article.html?ct=text/html;%20charset=x-no-such-charset")
    assert r.body == reference("protect", ARTICLE, copyright=COPYRIGHT_RU)


def test_a_charset_that_cannot_be_protected_passes_unchanged(server, upstream):
    # a set browsers show as replacement characters
    path = "/ru.html?ct=text/html;%20charset=iso-2022-kr"
    r = server.request("/u" + path)
    assert r.status == 200 and r.body == upstream_body(upstream, path).body
    assert "VANTORO_UNKNOWN_CHARSET" in server.error_log()


def test_gzip_recipe(server, upstream):
    # the upstream would compress (gzip=auto) but is asked for identity
    r = server.request("/zip/article.html?gzip=auto", {"Accept-Encoding": "gzip"})
    assert r.status == 200
    assert r.header("Content-Encoding") == "gzip"
    page = gzip.decompress(r.body)
    assert NOTICE not in ARTICLE and "Все права защищены".encode() in page
    assert "accept-encoding" not in {k.lower() for k in upstream.last_request()[1]}
    # clients without gzip get the protected page as it is
    r = server.request("/zip/article.html?gzip=auto")
    assert r.header("Content-Encoding") is None and "Все права защищены".encode() in r.body
    # without the recipe the source is not asked for gzip either
    r = server.request("/nozip/article.html?gzip=auto", {"Accept-Encoding": "gzip"})
    assert r.header("Content-Encoding") is None and "Все права защищены".encode() in r.body
    assert "accept-encoding" not in {k.lower() for k in upstream.last_request()[1]}
