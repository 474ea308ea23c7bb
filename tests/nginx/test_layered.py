"""Layered hiding, the default: decoys hidden by classes whose rules go into
the page as a <style> element, or are linked where the response's
Content-Security-Policy forbids inline styles; copy-visible notices; and the
marks that tie a copy to its request's line in the access log, whatever the
request asks for."""
import email.utils
import gzip
import json
import pathlib
import re
import shutil
import subprocess
import time
import urllib.parse

import pytest

from conftest import ARTICLE, CI, COPYRIGHT, NOTICE, trace, upstream_body
from test_hiding import browser_setup

KEY = "k1"
ID = 0x0123456789ABCDEF
LINK = b'<link rel="stylesheet" href="/v.css">'
ATTRIBUTE = re.compile(rb"""(?i)[\s'"/]style\s*=""")
CLASSES = re.compile(rb"""(?i)[\s'"/]class\s*=\s*(?:'([^']*)'|"([^"]*)"|([^\s>]+))""")


@pytest.fixture(scope="module")
def server(nginx, values_file, site):
    replay = "vantoro_test_random_values %s;" % values_file
    (nginx.prefix / "cache").mkdir(exist_ok=True)
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_site_key {KEY};
        access_log {nginx.prefix}/access.log marks;
        location /exact/ {{
            vantoro_stylesheet_uri /v.css;
            vantoro_mark_id {ID:#x};
            proxy_pass http://UPSTREAM/; {replay}
        }}
        location /nokey/ {{ vantoro_site_key ""; proxy_pass http://UPSTREAM/; {replay} }}
        location /every/ {{
            vantoro_copy_notices 1; vantoro_marks off; proxy_pass http://UPSTREAM/; {replay}
        }}
        location /first/ {{
            vantoro_copy_notices 0; vantoro_marks off; proxy_pass http://UPSTREAM/; {replay}
        }}
        location /nolink/ {{ proxy_pass http://UPSTREAM/; }}
        location /live/ {{ vantoro_stylesheet_uri /v.css; proxy_pass http://UPSTREAM/; }}
        location /s/ {{ alias {site}/; }}
        location /id/ {{ vantoro_mark_id $arg_id; proxy_pass http://UPSTREAM/; }}
        location /zip/ {{ gzip on; gzip_min_length 1; proxy_pass http://UPSTREAM/; }}
        location /cache/ {{
            proxy_cache c;
            proxy_cache_key $uri;
            proxy_cache_valid 200 10m;
            add_header X-Cache $upstream_cache_status;
            proxy_pass http://UPSTREAM/;
        }}
        location = /v.css {{ vantoro_stylesheet; }}
    """, http=f"""
        log_format marks '$request_uri $status $vantoro_status $vantoro_mark $request_id $msec';
        proxy_cache_path {nginx.prefix}/cache keys_zone=c:1m;
    """)


def log_line(server, marker):
    """(status, $vantoro_status, $vantoro_mark, $request_id, $msec) of the
    request whose URI holds marker."""
    path = server.prefix / "access.log"
    for _ in range(100):  # nginx writes the line when the request is done
        for line in reversed(path.read_text().splitlines() if path.exists() else []):
            fields = line.split(" ")
            if marker in fields[0]:
                return fields[1], fields[2], fields[3], fields[4], float(fields[5])
        time.sleep(0.05)
    raise AssertionError("no access log line for " + marker)


def marked(server, path, headers=None, method="GET"):
    """The response to path, with a query of its own, and its log line."""
    marker = "m=%d" % time.monotonic_ns()
    r = server.request(path + ("&" if "?" in path else "?") + marker, headers, method)
    return r, log_line(server, marker)


def csp_query(*policies):
    return "&".join("csp=" + urllib.parse.quote(p) for p in policies)


def class_names(css):
    """The hiding and the copy-visible class names of a stylesheet."""
    hidden, copy = css.decode().splitlines()[:2]
    names = lambda rule: {s.strip().lstrip(".") for s in rule.split("{")[0].split(",")}
    return names(hidden), names(copy)


def count_decoys(body, css):
    """(decoys, copy-visible notices) by their classes."""
    hidden, copy = class_names(css)
    decoys = notices = 0
    for match in CLASSES.finditer(body):
        value = next(g for g in match.groups() if g is not None).decode()
        names = set(value.split())
        decoys += bool(names & hidden)
        notices += bool(names & copy)
    return decoys, notices


@pytest.fixture(scope="module")
def css(reference):
    return reference("stylesheet", site_key=KEY)


def test_default_output(server, reference, css):
    r = server.request("/exact/article.html?chunks=random")
    assert r.status == 200
    assert r.body == reference("protect", ARTICLE, hide="layered", site_key=KEY, mark_id=ID)
    # the rules are in the page, no decoy carries a style, and the notices
    # that copies keep are hidden from screen readers
    assert re.search(rb"(?i)<style[^>]*>" + re.escape(css) + rb"</style", r.body)
    assert not ATTRIBUTE.search(r.body)
    decoys, notices = count_decoys(r.body, css)
    assert decoys >= 4 and notices >= 1
    assert len(re.findall(rb"(?i)aria-hidden\s*=\s*['\"]?true", r.body)) == notices
    assert LINK not in r.body


@pytest.mark.parametrize("policies, method", [
    ([], "element"),
    (["default-src 'self'"], "link"),
    (["style-src 'self'"], "link"),
    (["style-src 'self' 'unsafe-inline'"], "element"),
    (["style-src 'self' 'UNSAFE-INLINE'"], "element"),
    (["style-src-elem 'self'; style-src 'unsafe-inline'"], "link"),
    (["style-src-elem 'unsafe-inline'; style-src 'self'"], "element"),
    # style attributes are not what layered hiding needs
    (["style-src-attr 'none'; style-src 'unsafe-inline'"], "element"),
    (["style-src 'unsafe-inline' 'nonce-abc123'"], "link"),
    (["style-src 'unsafe-inline' 'sha256-47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU='"],
     "link"),
    (["default-src 'self'; style-src 'unsafe-inline'"], "element"),
    (["script-src 'self'; img-src *"], "element"),
    (["script-src 'self'", "style-src 'self'"], "link"),
    (["style-src 'unsafe-inline', default-src 'self'"], "link"),
])
def test_the_response_policy_picks_element_or_link(server, reference, policies, method):
    r = server.request("/exact/article.html?" + csp_query(*policies))
    assert r.status == 200
    link = "/v.css" if method == "link" else None
    assert r.body == reference("protect", ARTICLE, hide="layered", site_key=KEY, mark_id=ID,
                               link=link)
    assert (LINK in r.body) == (method == "link")
    assert (re.search(rb"(?i)<style", r.body) is None) == (method == "link")


@pytest.mark.parametrize("path, policy", [
    # no stylesheet address: only the <style> element, which is forbidden
    ("/nolink/article.html", "default-src 'self'"),
    ("/nolink/article.html", "style-src 'self' 'nonce-abc'"),
    # no stylesheet at all is allowed
    ("/live/article.html", "default-src 'none'"),
    ("/live/article.html", "style-src 'none'; default-src 'self'"),
])
def test_a_policy_that_forbids_every_way_leaves_the_page_alone(server, upstream, path, policy):
    query = "?" + csp_query(policy)
    r, line = marked(server, path + query)
    assert r.status == 200
    assert r.body == upstream_body(upstream, "/article.html" + query).body
    assert line[1:3] == ("csp", "-")
    head, line = marked(server, path + query, method="HEAD")
    assert head.header("Content-Length") == str(len(ARTICLE))
    assert line[1] == "csp"


def test_the_policy_problem_is_logged_once(server):
    query = "?" + csp_query("default-src 'self'")
    for _ in range(3):
        server.request("/nolink/article.html" + query)
    lines = [line for line in server.error_log().splitlines()
             if "Content-Security-Policy" in line and "/nolink/" in line]
    assert len(lines) == 1 and "[error]" in lines[0]
    # a policy that allows the link is no problem where there is one
    r = server.request("/live/article.html" + query)
    assert LINK in r.body and NOTICE in r.body


def test_without_a_site_key(server, reference, css):
    r, line = marked(server, "/nokey/article.html")
    assert r.status == 200 and line[1:3] == ("protected", "-")
    assert r.body == reference("protect", ARTICLE, hide="layered")
    # classes named after the copyright text, not the key
    hidden, copy = class_names(css)
    assert count_decoys(r.body, css) == (0, 0)
    assert not ATTRIBUTE.search(r.body) and b"aria-hidden" in r.body
    rules = {name.decode() for name in re.findall(rb"\.(\w+)[,{]", r.body)}
    assert len(rules) >= 4 and not rules & (hidden | copy)


@pytest.mark.parametrize("path, every", [("/every/", 1), ("/first/", 0)])
def test_copy_notices(server, reference, css, path, every):
    r = server.request(path + "long.html?chunks=random")
    assert r.status == 200
    long_page = upstream_body(server.upstream, "/long.html").body
    assert r.body == reference("protect", long_page, hide="layered", site_key=KEY,
                               copy_notices=every)
    decoys, notices = count_decoys(r.body, css)
    assert decoys > 100
    assert notices == (decoys if every == 1 else 1)


def test_copy_notices_by_default(server, css):
    r = server.request("/live/long.html")
    decoys, notices = count_decoys(r.body, css)
    assert decoys > 100 and notices == (decoys + 3) // 4


def test_marks_name_the_logged_request(server):
    first, one = marked(server, "/live/article.html")
    second, two = marked(server, "/live/article.html")
    for r, (status, verdict, mark, request_id, msec) in ((first, one), (second, two)):
        assert r.status == 200 and verdict == "protected"
        assert re.fullmatch(r"[0-9a-f]{16}", mark)
        assert trace(r.body, KEY) == [mark]
        # the request's time in seconds over the start of its $request_id
        assert abs(int(mark[:8], 16) - msec) <= 2
        assert mark[8:] == request_id[:8]
    assert one[2] != two[2]
    # marks are keyed: another key finds none
    assert trace(first.body, "another key") == []


@pytest.mark.parametrize("value, mark", [
    ("42", "000000000000002a"),
    ("0xABCDEF", "0000000000abcdef"),
    ("0x0123456789abcdef", "0123456789abcdef"),
    ("18446744073709551615", "ffffffffffffffff"),
])
def test_mark_id_from_a_variable(server, value, mark):
    r, line = marked(server, "/id/article.html?id=" + urllib.parse.quote(value))
    assert line[2] == mark
    assert trace(r.body, KEY) == [mark]


@pytest.mark.parametrize("value", ["", "forty-two", "0x", "-1", "18446744073709551616",
                                   "0x10000000000000000", "12 3"])
def test_an_unusable_mark_id_gives_the_default(server, value):
    r, (_, verdict, mark, request_id, msec) = marked(
        server, "/id/article.html?id=" + urllib.parse.quote(value))
    assert verdict == "protected" and mark[8:] == request_id[:8]
    assert trace(r.body, KEY) == [mark]
    # the value as the variable gives it, not decoded
    logged = "invalid mark id \"%s\"" % urllib.parse.quote(value)
    assert (logged in server.error_log()) == (value != "")


def test_no_request_gets_a_copy_without_its_own_mark(server, site):
    """Whatever the request asks for, a body it gets carries its own id, or
    it gets none."""
    etag = marked(server, "/live/article.html?validators=1")[0].header("ETag")
    assert etag == 'W/"upstream-etag-1"'
    cases = [
        ("/live/article.html", {"Range": "bytes=0-99"}),
        ("/live/article.html?validators=1&ranges=1",
         {"Range": "bytes=10-", "If-Range": '"upstream-etag-1"'}),
        ("/live/article.html", {"Accept-Encoding": "gzip"}),
        ("/zip/article.html?gzip=auto", {"Accept-Encoding": "gzip"}),
        ("/live/article.html?validators=1", {"If-None-Match": etag}),
        ("/live/article.html?validators=1", {"If-None-Match": '"upstream-etag-1"'}),
        ("/live/article.html?validators=1", {"If-None-Match": '"other"'}),
        ("/s/article.html", {"If-Modified-Since": "Fri, 01 Jan 2100 00:00:00 GMT"}),
        # the file's own date, which the protected response does not send
        ("/s/article.html", {"If-Modified-Since": email.utils.formatdate(
            (site / "article.html").stat().st_mtime, usegmt=True)}),
        ("/s/article.html", {"If-None-Match": "*"}),
        ("/s/article.html", {"Range": "bytes=0-9", "If-Range": "Fri, 01 Jan 2100 00:00:00 GMT"}),
        ("/s/article.html", {"Cache-Control": "no-transform"}),
    ]
    bodies = 0
    for path, headers in cases:
        r, (status, verdict, mark, _, _) = marked(server, path, headers)
        body = r.body
        if r.header("Content-Encoding") == "gzip":
            body = gzip.decompress(body)
        if body:
            assert r.status == 200 and verdict == "protected", (path, headers)
            assert trace(body, KEY) == [mark], (path, headers)
            bodies += 1
        else:
            assert r.status == 304 and mark == "-", (path, headers)
    assert bodies >= 6
    head, (status, verdict, mark, _, _) = marked(server, "/live/article.html", method="HEAD")
    assert head.status == 200 and head.body == b"" and verdict == "protected" and mark == "-"


def test_a_cached_page_is_marked_anew_for_each_request(server):
    # nginx caches what the source sent; every hit is protected anew
    ids = []
    for _ in range(3):
        r, (_, verdict, mark, _, _) = marked(server, "/cache/article.html")
        assert verdict == "protected" and trace(r.body, KEY) == [mark]
        ids.append((r.header("X-Cache"), mark))
    assert [cache for cache, _ in ids] == ["MISS", "HIT", "HIT"]
    assert len({mark for _, mark in ids}) == 3


def test_browser_copies_carry_the_logged_id(server, css):
    """In Chromium the decoys do not show, the copy-visible notices are in
    the text a copy takes, and that text names the request."""
    setup, reason = browser_setup()
    if setup is None:
        if CI:
            pytest.fail(reason + " (CI must have it)")
        pytest.skip(reason)
    browser, node_dir = setup
    script = node_dir / "visible_text.mjs"
    shutil.copy(pathlib.Path(__file__).with_name("visible_text.mjs"), script)
    base = "http://127.0.0.1:%d" % server.port
    strict = csp_query("default-src 'self'; style-src 'self'")
    urls = {"element": "/live/article.html?b=%d" % time.monotonic_ns(),
            "link": "/live/article.html?%s&b=%d" % (strict, time.monotonic_ns())}
    done = subprocess.run(["node", str(script), browser, *(base + u for u in urls.values())],
                          cwd=node_dir, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    pages = json.loads(done.stdout.strip().splitlines()[-1])
    for method, url in urls.items():
        page = pages[base + url]
        # the article's own inline script may be refused; no style is
        assert not [v for v in page["violations"] if "style" in v], method
        assert "Tomatoes like warm soil" in page["text"]
        # the copy-visible notices, and no decoy
        notices = count_decoys(server.request(url.replace("b=", "c=")).body, css)[1]
        assert notices >= 1
        assert page["text"].count("All rights reserved") == notices, (method, page["text"])
        mark = log_line(server, url.split("?")[1].split("&")[-1])[2]
        assert trace(page["text"].encode(), KEY) == [mark], method
    assert "200 /v.css" in pages[base + urls["link"]]["stylesheets"]
    assert not pages[base + urls["element"]]["stylesheets"]
