"""How decoys hide: vantoro_hide auto picks class for a response whose own
Content-Security-Policy blocks style attributes, the class stylesheet is
served by vantoro_stylesheet, and a browser shows no notice under such a
policy."""
import json
import os
import pathlib
import shutil
import subprocess
import urllib.parse

import pytest

from conftest import ARTICLE, CI, COPYRIGHT, NOTICE

LINK = b'<link rel="stylesheet" href="/v.css">'


@pytest.fixture(scope="module")
def server(nginx, values_file):
    replay = "vantoro_test_random_values %s;" % values_file
    return nginx.start(f"""
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_site_key k1;
        vantoro_stylesheet_uri /v.css;
        location /auto/ {{ vantoro_hide auto; proxy_pass http://UPSTREAM/; {replay} }}
        location /added/ {{
            vantoro_hide auto;
            add_header Content-Security-Policy "default-src 'self'";
            proxy_pass http://UPSTREAM/; {replay}
        }}
        location /live/ {{ vantoro_hide auto; proxy_pass http://UPSTREAM/; }}
        location /style/ {{ vantoro_hide style; proxy_pass http://UPSTREAM/; }}
        location = /v.css {{ vantoro_stylesheet; }}
    """)


@pytest.fixture(scope="module")
def expected(reference):
    return {
        "class": reference("protect", ARTICLE.replace(b"<head>", b"<head>" + LINK, 1),
                           hide="class", site_key="k1"),
        "style": reference("protect", ARTICLE),
    }


def csp_query(*policies):
    return "&".join("csp=" + urllib.parse.quote(p) for p in policies)


@pytest.mark.parametrize("policies, method", [
    ([], "style"),
    (["style-src 'self'"], "class"),
    (["default-src 'self'"], "class"),
    (["default-src 'none'; img-src 'self'"], "class"),
    (["style-src 'self' 'unsafe-inline'"], "style"),
    (["style-src 'self' 'UNSAFE-INLINE'"], "style"),
    (["style-src 'unsafe-inline' 'nonce-abc123'"], "class"),
    (["style-src 'unsafe-inline' 'sha256-47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU='"],
     "class"),
    (["style-src-attr 'unsafe-inline'; style-src 'self'"], "style"),
    (["style-src-attr 'none'; style-src 'unsafe-inline'"], "class"),
    (["default-src 'self'; style-src 'unsafe-inline'"], "style"),
    (["style-src 'unsafe-inline'; style-src 'self'"], "style"),
    (["script-src 'self'; img-src *"], "style"),
    (["script-src 'self'", "style-src 'self'"], "class"),
    (["style-src 'unsafe-inline', default-src 'self'"], "class"),
])
def test_auto_follows_the_response_policy(server, expected, policies, method):
    r = server.request("/auto/article.html?chunks=random&" + csp_query(*policies))
    assert r.status == 200
    assert r.body == expected[method]


def test_auto_sees_a_policy_added_by_nginx(server, expected):
    r = server.request("/added/article.html")
    assert r.header("Content-Security-Policy") == "default-src 'self'"
    assert r.body == expected["class"]


def test_stylesheet_location(server, reference):
    css = reference("stylesheet", site_key="k1")
    r = server.request("/v.css")
    assert r.status == 200 and r.body == css
    assert r.header("Content-Type") == "text/css"
    etag = r.header("ETag")
    assert etag.startswith('"') and etag.endswith('"') and len(etag) > 2
    max_age = [int(p.split("=")[1]) for p in r.header("Cache-Control").split(", ")
               if p.startswith("max-age=")]
    assert max_age and max_age[0] >= 30 * 24 * 3600
    assert server.request("/v.css").header("ETag") == etag
    assert server.request("/v.css", {"If-None-Match": etag}).status == 304
    head = server.request("/v.css", method="HEAD")
    assert head.status == 200 and head.body == b"" and head.header("ETag") == etag
    assert server.request("/v.css", method="POST").status == 405


def browser_setup():
    """(browser, node folder) for the Chromium check, or a reason there is none."""
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    node_dir = os.environ.get("VANTORO_NODE_DIR")
    if not browser:
        return None, "chromium is not installed"
    if not shutil.which("node"):
        return None, "node is not installed"
    if not node_dir or not (pathlib.Path(node_dir) / "node_modules" / "playwright-core").is_dir():
        return None, "playwright-core is not installed (run_tests.sh installs it)"
    return (browser, pathlib.Path(node_dir)), None


def test_browser_shows_no_notice_under_a_strict_policy(server):
    setup, reason = browser_setup()
    if setup is None:
        if CI:
            pytest.fail(reason + " (CI must have it)")
        pytest.skip(reason)
    browser, node_dir = setup
    script = node_dir / "visible_text.mjs"
    shutil.copy(pathlib.Path(__file__).with_name("visible_text.mjs"), script)

    query = "?" + csp_query("default-src 'self'; style-src 'self'")
    base = "http://127.0.0.1:%d" % server.port
    hidden, shown = base + "/live/article.html" + query, base + "/style/article.html" + query
    # the markup does carry notices, and the policy is there
    r = server.request("/live/article.html" + query)
    assert NOTICE in r.body and LINK in r.body
    assert r.header("Content-Security-Policy") == "default-src 'self'; style-src 'self'"

    done = subprocess.run(["node", str(script), browser, hidden, shown], cwd=node_dir,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    pages = json.loads(done.stdout.strip().splitlines()[-1])
    assert "Tomatoes like warm soil" in pages[hidden]["text"]
    assert "All rights reserved" not in pages[hidden]["text"]
    assert "200 /v.css" in pages[hidden]["stylesheets"]
    # with style attributes the same policy lets the notices show: the check
    # would see one
    assert "All rights reserved" in pages[shown]["text"]
    assert pages[shown]["violations"]
