"""Configuration mistakes stop `nginx -t` with a message that names them."""
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
        vantoro_types text/html application/xhtml+xml;
        vantoro_bypass $cookie_editor $arg_raw;
        vantoro_max_size 2m;
        vantoro_hide auto;
        vantoro_site_key k1;
        vantoro_stylesheet_uri /v.css;
        location = /v.css { vantoro_stylesheet; }
        location /a/ { vantoro off; }
        location /b/ { vantoro_pass page; vantoro_hide style; }
    """)
    assert status == 0, output
    assert "test is successful" in output


@pytest.mark.parametrize("server, message", [
    ("vantoro maybe;", 'invalid value "maybe" in "vantoro" directive, it must be "on" or "off"'),
    ("vantoro_pass all;",
     'invalid value "all" in "vantoro_pass" directive, it must be "page", "content" or "protect"'),
    ("vantoro_decoy none;", 'invalid value "none" in "vantoro_decoy" directive'),
    ("vantoro_hide css;", 'invalid value "css" in "vantoro_hide" directive'),
    ("vantoro_max_size lots;", '"vantoro_max_size" directive invalid value'),
    ("vantoro_bypass;", 'invalid number of arguments in "vantoro_bypass" directive'),
    ("vantoro_copyright a b;", 'invalid number of arguments in "vantoro_copyright" directive'),
    ("vantoro on; vantoro_hide class; vantoro_stylesheet_uri /v.css;",
     '"vantoro_hide class" needs "vantoro_site_key"'),
    ("vantoro on; vantoro_hide auto; vantoro_site_key k1;",
     '"vantoro_hide auto" needs "vantoro_stylesheet_uri"'),
    ("""vantoro on; vantoro_hide class; vantoro_site_key k1;
        vantoro_stylesheet_uri '/a"b.css';""",
     '"vantoro_stylesheet_uri" must not contain'),
    ("location = /v.css { vantoro_stylesheet; }", '"vantoro_stylesheet" needs "vantoro_site_key"'),
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


def test_test_build_reads_its_values(nginx, tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_text("0.5\nhalf\n")
    status, output = check(nginx, "vantoro_test_random_values %s;" % bad, module=TEST_MODULE)
    assert status != 0 and "bad random value" in output
    good = tmp_path / "good.txt"
    good.write_text("0.5\n0.25\n")
    status, output = check(nginx, "vantoro_test_random_values %s;" % good, module=TEST_MODULE)
    assert status == 0, output
