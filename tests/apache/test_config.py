"""Configuration mistakes stop `apache2 -t` with a message that names them."""
import pytest

from conftest import RELEASE_MODULE, TEST_MODULE


def test_a_full_configuration_is_accepted(apache):
    status, output = apache.test_config("""
Vantoro On
VantoroPass both
VantoroCopyright "Example Site:All rights reserved,(c) Example"
VantoroDecoy both
VantoroTypes text/html text/plain
VantoroCharset auto
VantoroNosnippet On
VantoroBypass "%{HTTP_COOKIE} =~ /editor=1/ || -R '192.0.2.0/24'"
VantoroBypass "%{QUERY_STRING} == 'raw'"
VantoroMaxSize 2m
VantoroHide auto
VantoroSiteKey k1
VantoroStylesheetUri /v.css
<Location /v.css>
    SetHandler vantoro-stylesheet
</Location>
<Location /a/>
    Vantoro Off
</Location>
<Location /b/>
    VantoroPass page
    VantoroHide style
    VantoroCharset GBK
</Location>
<Location /c/>
    VantoroCopyright ""
    VantoroDecoy random
</Location>
<Location /d/>
    VantoroHide layered
    VantoroCopyNotices 0
    VantoroMarks On
</Location>
<Location /e/>
    VantoroHide layered
    VantoroSiteKey ""
    VantoroStylesheetUri ""
    VantoroMarks Off
</Location>
<Directory SITE>
    <Files "*.html">
        VantoroPass content
    </Files>
</Directory>
""")
    assert status == 0, output
    assert "Syntax OK" in output


@pytest.mark.parametrize("body, message", [
    ("Vantoro maybe", "Vantoro must be On or Off"),
    ("VantoroPass all",
     'invalid value "all" for VantoroPass: it must be one of page, content, both'),
    ("VantoroDecoy none", 'invalid value "none" for VantoroDecoy'),
    ("VantoroHide css", 'invalid value "css" for VantoroHide'),
    ("VantoroMaxSize lots", 'invalid VantoroMaxSize "lots"'),
    ("VantoroMaxSize 0", 'invalid VantoroMaxSize "0"'),
    ("VantoroCopyNotices -1", 'invalid VantoroCopyNotices "-1"'),
    ("VantoroCopyright a b", "VantoroCopyright takes one argument"),
    ("VantoroBypass \"%{HTTP_COOKIE\"", "cannot parse VantoroBypass expression"),
    ("VantoroCharset no-such-set", 'invalid character set "no-such-set"'),
    ("VantoroStylesheetUri '/a\"b.css'",
     'invalid VantoroStylesheetUri "/a"b.css": the stylesheet link must not hold'),
    # what the passes would break, or could not even read
    ("VantoroTypes *", 'cannot protect the media type "*": only named types can be protected'),
    ("VantoroTypes text/plain image/png",
     'cannot protect the media type "image/png": it is not a text type'),
    ("VantoroTypes application/xhtml+xml",
     'cannot protect the media type "application/xhtml+xml": the passes would break it'),
    ("VantoroTypes text/css", 'cannot protect the media type "text/css"'),
    # settings that need others
    ("Vantoro On\nVantoroCopyright x\nVantoroHide class\nVantoroStylesheetUri /v.css",
     '"VantoroHide class" needs VantoroSiteKey'),
    ("Vantoro On\nVantoroCopyright x\nVantoroHide auto\nVantoroSiteKey k1",
     '"VantoroHide auto" needs VantoroStylesheetUri'),
    ("Vantoro On\nVantoroCopyright x\nVantoroStylesheetUri /v.css",
     "VantoroStylesheetUri with \"VantoroHide layered\" needs VantoroSiteKey"),
    ("Vantoro On\nVantoroCopyright x\nVantoroMarks On", '"VantoroMarks On" needs VantoroSiteKey'),
    # notices without a text, refused as the engine refuses them everywhere
    ("Vantoro On", "copyright decoys need a copyright text (or random decoys, or empty "
                   "notices asked for); set VantoroCopyright"),
    ("Vantoro On\nVantoroCopyright \"\"", "copyright decoys need a copyright text"),
    # also where only a section turns it on, named by its line
    ("VantoroSiteKey k1\n<Location /a/>\n    Vantoro On\n</Location>",
     "httpd.conf:%d: copyright decoys need a copyright text"),
    # configured for AddOutputFilterByType, without Vantoro On
    ("VantoroDecoy copyright", "copyright decoys need a copyright text"),
])
def test_mistakes_are_refused(apache, body, message):
    status, output = apache.test_config(body)
    assert status != 0, output
    if "%d" in message:
        # the line of the section's directive in the written file
        lines = (apache.root / "httpd.conf").read_text().splitlines()
        message = message % (lines.index("    Vantoro On") + 1)
    assert message in output, output


def test_nothing_configured_is_nothing_refused(apache):
    # loading the module (a2enmod) turns nothing on and needs nothing
    status, output = apache.test_config("")
    assert status == 0, output


def test_the_shipped_module_has_no_test_directive(apache, values_file):
    body = "VantoroTestRandomValues %s" % values_file
    status, output = apache.test_config(body, module=RELEASE_MODULE)
    assert status != 0 and "Invalid command 'VantoroTestRandomValues'" in output
    status, output = apache.test_config(body, module=TEST_MODULE)
    assert status == 0, output
