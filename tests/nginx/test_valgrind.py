"""The module under valgrind: a few hundred requests of every kind, through
nginx in one process, with no memory error and no leak."""
import pathlib
import shutil
import socket
import time

import pytest

from conftest import COPYRIGHT, RELEASE_MODULE

# every protected page carries the watermark comment
WATERMARK = b"Vantoro"


@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
def test_no_memory_errors_or_leaks(nginx, site):
    log = nginx.prefix / "valgrind.log"
    wrapper = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
               "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
               "--suppressions=%s" % pathlib.Path(__file__).with_name("nginx.supp"),
               "--log-file=%s" % log]
    access = nginx.prefix / "access.log"
    nginx.start(f"""
        access_log {access};
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_site_key k1;
        vantoro_stylesheet_uri /v.css;
        vantoro_tdm_policy https://example.com/tdm.json;
        location /s/ {{ alias {site}/; }}
        location /l/ {{ proxy_pass http://UPSTREAM/; }}
        location /nolink/ {{ vantoro_stylesheet_uri ""; proxy_pass http://UPSTREAM/; }}
        location /id/ {{ vantoro_mark_id $arg_id; proxy_pass http://UPSTREAM/; }}
        location /style/ {{ vantoro_hide style; vantoro_marks on; alias {site}/; }}
        location /u/ {{ vantoro_hide auto; proxy_pass http://UPSTREAM/; }}
        location /page/ {{ vantoro_pass page; vantoro_decoy both; proxy_pass http://UPSTREAM/; }}
        location /small/ {{ vantoro_max_size 4k; proxy_pass http://UPSTREAM/; }}
        location /zip/ {{ proxy_pass http://UPSTREAM/; gunzip on; gzip on; }}
        location = /v.css {{ vantoro_stylesheet; }}
        location /pool/ {{ vantoro_thread_pool vp 1k; alias {site}/; }}
        location /pool-u/ {{ vantoro_thread_pool vp 1k; proxy_pass http://UPSTREAM/; }}
    """, module=RELEASE_MODULE, wrapper=wrapper, main="thread_pool vp threads=2;", timeout=120)

    kinds = [
        ("/s/article.html", {}, True),
        ("/s/long.html", {"Range": "bytes=0-5"}, True),
        ("/u/article.html?chunks=1&csp=style-src%20'self'", {}, True),
        ("/u/long.html?chunks=random", {}, True),
        ("/l/article.html?csp=default-src%20'self'", {}, True),  # layered, linked
        ("/nolink/article.html?csp=default-src%20'self'", {}, False),  # nothing hides
        ("/nolink/long.html", {}, True),
        ("/id/article.html?id=0x2a", {}, True),
        ("/id/article.html?id=bogus", {}, True),
        ("/style/article.html", {}, True),
        ("/u/article.html?nolength=1", {}, True),
        ("/u/article.html?ranges=1", {"Range": "bytes=0-", "If-Range": '"x"'}, True),
        ("/zip/article.html?gzip=1", {}, True),
        ("/page/article.html?chunks=random", {}, True),
        ("/small/long.html?chunks=random", {}, False),  # too large, found late
        ("/small/long.html", {}, False),  # too large, known at once
        ("/u/article.html?gzip=1", {}, False),
        ("/u/article.html?cc=no-transform", {}, False),
        ("/u/article.html?ct=text/html;%20charset=iso-2022-kr", {}, False),  # engine refuses
        ("/u/article.html?status=404", {}, False),
        ("/u/empty.html", {}, False),
        ("/v.css", {}, False),
        ("/pool/long.html", {}, True),  # protected in a pool thread
        ("/pool/empty.html", {}, False),
        ("/pool-u/article.html?chunks=random&csp=default-src%20'self'", {}, True),
        ("/pool-u/article.html?ct=text/html;%20charset=iso-2022-kr", {}, False),
    ]
    try:
        for i in range(300):
            path, headers, protected = kinds[i % len(kinds)]
            r = nginx.request(path, headers, timeout=60)
            assert r.status in (200, 404), path
            assert (WATERMARK in r.body) == protected, path
        head = nginx.request("/s/article.html", method="HEAD", timeout=60)
        assert head.status == 200 and head.body == b""
        # clients that go away while their page is in a pool thread; each
        # request is logged once freed, after its task
        for _ in range(5):
            with socket.create_connection(("127.0.0.1", nginx.port)) as s:
                s.sendall(b"GET /pool/long.html HTTP/1.1\r\nHost: x\r\n\r\n")
                time.sleep(0.05)
        deadline = time.monotonic() + 120
        while len(access.read_text().splitlines()) < 306:
            assert time.monotonic() < deadline, "the requests did not end"
            time.sleep(0.1)
    finally:
        output = nginx.stop(timeout=300)
    report = log.read_text() if log.exists() else ""
    assert report == "", report + output
