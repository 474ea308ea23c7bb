"""Configuration mistakes stop `nginx -t` with a message that names them."""
import re

import pytest

from conftest import RELEASE_MODULE, TEST_MODULE


def check(nginx, server, module=RELEASE_MODULE):
    return nginx.test_config(server, module=module)


def test_a_full_configuration_is_accepted(nginx):
    status, output = check(nginx, """
        vantoro on;
        vantoro_pass protect;
        vantoro_copyright "Example Site:All rights reserved,(c) Example";
        vantoro_decoy both;
        vantoro_types text/html text/plain;
        vantoro_charset auto;
        vantoro_nosnippet on;
        vantoro_bypass $cookie_editor $arg_raw;
        vantoro_max_size 2m;
        vantoro_hide auto;
        vantoro_site_key k1;
        vantoro_stylesheet_uri /v.css;
        location = /v.css { vantoro_stylesheet; }
        location /a/ { vantoro off; gzip_static on; }
        location /b/ { vantoro_pass page; vantoro_hide style; vantoro_charset GBK; }
        location /c/ { vantoro_copyright ""; vantoro_decoy random; gunzip on; }
        location /d/ {
            vantoro_hide layered; vantoro_copy_notices 0; vantoro_marks on;
            vantoro_mark_id "0x$connection$arg_id";
            vantoro_tdm_reservation on; vantoro_tdm_policy https://example.com/tdm.json;
        }
        location /e/ {
            vantoro_hide layered; vantoro_site_key ""; vantoro_stylesheet_uri "";
            vantoro_marks off;
        }
    """)
    assert status == 0, output
    assert "test is successful" in output
    # the memory of one worker is the http block's
    status, output = nginx.test_config("vantoro on; vantoro_copyright x;",
                                       http="vantoro_worker_memory 64m;", module=RELEASE_MODULE)
    assert status == 0, output
    for keep in ("64m", "off"):
        status, output = nginx.test_config("vantoro on; vantoro_copyright x;",
                                           http=f"vantoro_keep_memory {keep};",
                                           module=RELEASE_MODULE)
        assert status == 0, output


@pytest.mark.parametrize("server, message", [
    ("vantoro maybe;", 'invalid value "maybe" in "vantoro" directive, it must be "on" or "off"'),
    ("vantoro_pass all;",
     'invalid value "all" in "vantoro_pass" directive, it must be "page", "content" or "protect"'),
    ("vantoro_decoy none;", 'invalid value "none" in "vantoro_decoy" directive'),
    ("vantoro_hide css;", 'invalid value "css" in "vantoro_hide" directive'),
    ("vantoro_max_size lots;", '"vantoro_max_size" directive invalid value'),
    ("vantoro_bypass;", 'invalid number of arguments in "vantoro_bypass" directive'),
    ("vantoro_copyright a b;", 'invalid number of arguments in "vantoro_copyright" directive'),
    ("vantoro on; vantoro_copyright x; vantoro_hide class; vantoro_stylesheet_uri /v.css;",
     '"vantoro_hide class" needs "vantoro_site_key"'),
    ("vantoro on; vantoro_copyright x; vantoro_hide auto; vantoro_site_key k1;",
     '"vantoro_hide auto" needs "vantoro_stylesheet_uri"'),
    ("""vantoro on; vantoro_copyright x; vantoro_hide class; vantoro_site_key k1;
        vantoro_stylesheet_uri '/a"b.css';""",
     'invalid vantoro_stylesheet_uri "/a"b.css": the stylesheet link must not hold'),
    # what the passes would break, or could not even read
    ("vantoro_types *;", 'cannot protect the media type "*": only named types can be protected'),
    ("vantoro_types text/plain image/png;",
     'cannot protect the media type "image/png": it is not a text type'),
    ("vantoro_types application/xhtml+xml;",
     'cannot protect the media type "application/xhtml+xml": the passes would break it'),
    ("vantoro_types text/css;", 'cannot protect the media type "text/css"'),
    ("vantoro_types text/plain; vantoro_types text/csv;", '"vantoro_types" directive is duplicate'),
    # pre-compressed files would reach every browser unprotected
    ("vantoro on; vantoro_copyright x; gzip_static on;",
     '"gzip_static" sends pre-compressed files that "vantoro" cannot protect'),
    ("vantoro_copyright x; location /a/ { vantoro on; gzip_static on; }",
     '"gzip_static" sends pre-compressed files'),
    # notices without a text, refused as the engine refuses them everywhere
    ("vantoro on;", "copyright decoys need a copyright text (or random decoys, or empty "
                    "notices asked for)"),
    ("vantoro on; vantoro_decoy both; vantoro_copyright ',:';", "copyright decoys need"),
    ("vantoro_charset no-such-charset;",
     "invalid character set \"no-such-charset\": unknown character set 'no-such-charset'"),
    ("vantoro_charset UTF-16;", "does not keep ASCII as ASCII"),
    ("location /a/ { vantoro_worker_memory 2m; }",
     '"vantoro_worker_memory" directive is not allowed here'),
    ("vantoro_keep_memory 8m;", '"vantoro_keep_memory" directive is not allowed here'),
    ("location = /v.css { vantoro_stylesheet; }", '"vantoro_stylesheet" needs "vantoro_site_key"'),
    # marks are keyed; a linked stylesheet is named after the key
    ("vantoro on; vantoro_copyright x; vantoro_marks on;",
     '"vantoro_marks on" needs "vantoro_site_key"'),
    ("vantoro_marks on; location /a/ { vantoro on; vantoro_copyright x; }",
     '"vantoro_marks on" needs "vantoro_site_key"'),
    ("vantoro on; vantoro_copyright x; vantoro_stylesheet_uri /v.css;",
     '"vantoro_stylesheet_uri" with "vantoro_hide layered" needs "vantoro_site_key"'),
    ("vantoro_marks maybe;", 'invalid value "maybe" in "vantoro_marks" directive'),
    ("vantoro_copy_notices -1;", '"vantoro_copy_notices" directive invalid number'),
    ("vantoro_copy_notices many;", '"vantoro_copy_notices" directive invalid number'),
    ("vantoro_mark_id 1; vantoro_mark_id 2;", '"vantoro_mark_id" directive is duplicate'),
    ("vantoro_tdm_reservation yes;",
     'invalid value "yes" in "vantoro_tdm_reservation" directive'),
    ("vantoro_tdm_policy 'https://example.com/a b';",
     'invalid vantoro_tdm_policy "https://example.com/a b"'),
    ("vantoro_site_key k1; vantoro_stylesheet;", '"vantoro_stylesheet" directive is not allowed here'),
    ("vantoro_pass page; vantoro_pass page;", '"vantoro_pass" directive is duplicate'),
    # the test build's directive is not in the module as shipped
    ("vantoro_test_random_values /dev/null;",
     'unknown directive "vantoro_test_random_values"'),
])
def test_mistakes_are_named(nginx, server, message):
    status, output = check(nginx, server)
    assert status != 0
    assert message in output, output
    assert "[emerg]" in output and "nginx.conf:" in output


def test_class_hiding_needs_nothing_while_off(nginx):
    status, output = check(nginx, "vantoro_hide class;")
    assert status == 0, output
    status, output = check(nginx, "vantoro_marks on; vantoro_stylesheet_uri /v.css;")
    assert status == 0, output


def test_the_default_needs_no_key(nginx):
    # layered hiding names its classes after the copyright text then, unmarked
    status, output = check(nginx, "vantoro on; vantoro_copyright x;")
    assert status == 0 and "[warn]" not in output, output


def test_a_policy_without_reservation_is_a_warning(nginx):
    status, output = check(nginx, """
        vantoro_tdm_policy https://example.com/tdm.json;
        location /a/ { vantoro_tdm_reservation off; }
    """)
    assert status == 0, output
    assert re.search(r'\[warn\].*"vantoro_tdm_policy" is not sent with '
                     r'"vantoro_tdm_reservation off"', output), output


def test_test_build_reads_its_values(nginx, tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_text("0.5\nhalf\n")
    status, output = check(nginx, "vantoro_test_random_values %s;" % bad, module=TEST_MODULE)
    assert status != 0 and "bad random value" in output
    good = tmp_path / "good.txt"
    good.write_text("0.5\n0.25\n")
    status, output = check(nginx, "vantoro_test_random_values %s;" % good, module=TEST_MODULE)
    assert status == 0, output
