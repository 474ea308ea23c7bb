import pickle
import random
import sys
import threading
import time

import pytest

import vantoro

# The content pass on "x</p>y" with copyright "note" draws exactly these.
NOTE_VALUES = [0.75, 0.2272, 0.25, 0.1666] + [0.25] * 13 + [0.0882, 0.4903, 0.0294]
NOTE_OUTPUT = "x<span style='z;display:none;;'>.note</span></p>y"

PAGE = "<html><head><title>t</title></head><body><p>héllo 中文</p><br>end</body></html>"
_draws = random.Random(7)
MANY_VALUES = [_draws.random() for _ in range(100000)]


def replayed(protector, values=MANY_VALUES):
    protector.replay(values)
    return protector


@pytest.mark.parametrize("text, expected", [("x</p>y", NOTE_OUTPUT),
                                            (b"x</p>y", NOTE_OUTPUT.encode())])
def test_replayed_values_give_exact_output(text, expected):
    out = replayed(vantoro.Protector("note", hide="style"), NOTE_VALUES).protect_content(text)
    assert type(out) is type(text)
    assert out == expected


def test_running_out_of_values_raises_and_uses_none_up():
    p = replayed(vantoro.Protector("note", hide="style"), NOTE_VALUES)
    with pytest.raises(vantoro.Error) as failure:
        p.protect_content("x</p>y</p>")  # two decoys need more
    assert failure.value.status == "VANTORO_REPLAY_EXHAUSTED"
    assert "ran out" in str(failure.value)
    assert p.protect_content("x</p>y") == NOTE_OUTPUT


def test_bad_options_raise_and_leave_the_old_ones():
    p = vantoro.Protector("note", charset="GBK")
    with pytest.raises(vantoro.Error) as failure:
        p.charset = "no-such-charset"
    assert failure.value.status == "VANTORO_UNKNOWN_CHARSET"
    assert "no-such-charset" in str(failure.value)
    with pytest.raises(vantoro.Error) as failure:
        p.charset = ""
    assert failure.value.status == "VANTORO_INVALID_ARGUMENT"
    assert p.charset == "GBK"
    assert "防".encode("gbk") in p.protect_page(b"<p>")  # still GBK in the library
    with pytest.raises(vantoro.Error) as failure:
        p.replay([0.5, 1.0])
    assert failure.value.status == "VANTORO_INVALID_ARGUMENT"
    with pytest.raises(vantoro.Error) as failure:
        p.decoy = "nonsense"
    assert failure.value.status == "VANTORO_INVALID_ARGUMENT"
    assert isinstance(failure.value, ValueError)
    with pytest.raises(TypeError):
        p.protect_page(bytearray(b"<p>"))


def test_options_reach_the_library():
    p = vantoro.Protector("First Site:All rights reserved", decoy="random")
    assert p.decoy is vantoro.Decoy.RANDOM
    assert "First Site" not in p.protect_content("a</p>" * 5)
    p.decoy = vantoro.Decoy.COPYRIGHT
    assert "First Site" in p.protect_content("a</p>")
    p.copyright = "Second Site"
    assert "Second Site" in p.protect_content("a</p>")
    p.charset = "GBK"
    copy = pickle.loads(pickle.dumps(p))
    assert (copy.copyright, copy.decoy, copy.charset) == ("Second Site", vantoro.Decoy.COPYRIGHT, "GBK")
    assert b"Second Site" in copy.protect_content(b"a</p>")
    assert "防".encode("gbk") in copy.protect_page(b"<p>")


@pytest.mark.parametrize("pass_name", ["protect_page", "protect_content", "protect"])
def test_str_and_bytes_give_the_same_result(pass_name):
    as_str = getattr(replayed(vantoro.Protector("note")), pass_name)(PAGE)
    as_bytes = getattr(replayed(vantoro.Protector("note")), pass_name)(PAGE.encode())
    assert as_str.encode() == as_bytes
    assert "héllo 中文" in as_str


def test_text_the_library_does_not_touch_round_trips():
    # Bytes that are not UTF-8, NUL bytes, and lone surrogates in a str (not
    # at the start, where \xff\xfe would be a UTF-16 byte order mark).
    assert b"z\xff\xfe\x00z" in vantoro.protect_content(b"z\xff\xfe\x00z</p>", "note")
    assert "\udcff\ud800\x00z" in vantoro.protect_content("\udcff\ud800\x00z</p>", "note")


def test_a_str_goes_through_the_pages_charset():
    # The inserted watermark is GBK, so a str result decoded as UTF-8 would fail.
    as_bytes = replayed(vantoro.Protector(charset="GBK")).protect_page(PAGE.encode("gbk"))
    as_str = replayed(vantoro.Protector(charset="GBK")).protect_page(PAGE)
    assert as_bytes.decode("gbk") == as_str
    assert "防" in as_str


def test_module_functions():
    assert isinstance(vantoro.protect_page(b"<p>x</p>"), bytes)
    assert "Vantoro" in vantoro.protect_page("<p>x</p>")
    out = vantoro.protect("<p>x</p>", "Site Name", decoy="both", charset="UTF-8")
    assert "Site Name" in out and "Vantoro" in out


def test_the_gil_is_released_during_a_pass():
    # With a switch interval this long, the other thread runs only when this
    # one gives up the GIL by itself: during a pass, or not at all.
    page = PAGE.encode() * 20000
    steps = 0
    done = False

    def count():
        nonlocal steps
        while not done:
            steps += 1
            time.sleep(0.0005)  # hands the GIL back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    counter = threading.Thread(target=count)
    try:
        counter.start()
        moved = False
        for _ in range(20):
            before = steps
            vantoro.protect_page(page)
            moved = steps != before
            if moved:
                break
    finally:
        done = True
        sys.setswitchinterval(interval)
        counter.join()
    assert moved


def test_a_shared_protector_serves_one_call_at_a_time():
    # Calls that overlapped on the handle would draw the same replayed values.
    page = PAGE * 200
    sequential = replayed(vantoro.Protector())
    expected = sorted(sequential.protect_page(page) for _ in range(8))
    shared = replayed(vantoro.Protector())
    start = threading.Barrier(8)
    results = []

    def run():
        start.wait()
        results.append(shared.protect_page(page))

    threads = [threading.Thread(target=run) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert sorted(results) == expected


# ---- Options, and the one error each bad one gives ----

EMPTY_NOTICE_MESSAGE = ("copyright decoys need a copyright text (or random decoys, or empty "
                        "notices asked for)")


def errors_everywhere(copyright, leave_out=(), **options):
    """The Error of each way the package takes these options, by where it came from."""
    from vantoro.wsgi import ProtectMiddleware

    ways = {
        "Protector": lambda: vantoro.Protector(copyright, **options).protect_content(b""),
        "protect_page": lambda: vantoro.protect_page(b"", copyright, **options),
        "protect_content": lambda: vantoro.protect_content(b"", copyright, **options),
        "protect": lambda: vantoro.protect(b"", copyright, **options),
        "ProtectMiddleware": lambda: ProtectMiddleware(lambda e, s: [], copyright, **options),
    }
    found = {}
    for name, way in ways.items():
        if name in leave_out:
            continue
        with pytest.raises(vantoro.Error) as failure:
            way()
        found[name] = failure.value
    return found


@pytest.mark.parametrize("options, status, named", [
    ({"charset": "no-such-charset"}, "VANTORO_UNKNOWN_CHARSET", "no-such-charset"),
    ({"marks": True}, "VANTORO_INVALID_ARGUMENT", "marks need a site key"),
    ({"hide": "style", "marks": True}, "VANTORO_INVALID_ARGUMENT", "marks need a site key"),
    ({"copy_notices": -1}, "VANTORO_INVALID_ARGUMENT", "copy_notices"),
    ({"decoy": "bogus"}, "VANTORO_INVALID_ARGUMENT", "bogus"),
    ({"hide": "class"}, "VANTORO_INVALID_ARGUMENT", "site key"),
    ({"hide": "class", "site_key": "k", "stylesheet_link": '/a"b.css'},
     "VANTORO_INVALID_ARGUMENT", "stylesheet link"),
])
def test_a_bad_option_gives_the_same_error_everywhere(options, status, named):
    errors = errors_everywhere("Site", **options)
    messages = {str(e) for e in errors.values()}
    assert len(messages) == 1, errors
    assert named in messages.pop()
    assert all(e.status == status and isinstance(e, ValueError) for e in errors.values())


def test_copyright_decoys_need_a_copyright_text():
    from vantoro.wsgi import ProtectMiddleware

    errors = errors_everywhere("", leave_out=["protect_page"])  # the page pass inserts none
    with pytest.raises(vantoro.Error) as failure:
        ProtectMiddleware(lambda e, s: [], ",:", passes="content")  # only separators
    errors["content pass only"] = failure.value
    for error in errors.values():
        assert (error.status, str(error)) == ("VANTORO_INVALID_ARGUMENT", EMPTY_NOTICE_MESSAGE)
    # Fine without the content pass, with random decoys, or when asked for.
    assert vantoro.is_protected(vantoro.protect_page(b"<p>x</p>", ""))
    ProtectMiddleware(lambda e, s: [], "", passes="page")
    assert "</p>" in vantoro.protect_content("<p>x</p>", "", decoy="random")
    assert "x</p>" in vantoro.protect_content("<p>x</p>", "", empty_notices=True)


@pytest.mark.parametrize("media_type", ["*", "text/*", "text/css", "image/png"])
def test_refused_media_types(media_type):
    from vantoro.wsgi import ProtectMiddleware

    with pytest.raises(vantoro.Error) as direct:
        vantoro.Policy().add_type(media_type)
    with pytest.raises(vantoro.Error) as middleware:
        ProtectMiddleware(lambda e, s: [], "Site", types=["text/plain", media_type])
    assert str(direct.value) == str(middleware.value) and media_type in str(direct.value)
    assert direct.value.status == middleware.value.status == "VANTORO_INVALID_ARGUMENT"


def test_the_policy_takes_absent_headers_and_added_types():
    policy = vantoro.Policy()
    assert policy.judge(200, "text/plain", None, None) == "type"
    policy.add_type("Text/Plain; charset=utf-8")
    assert policy.judge(200, "text/plain", "identity", "max-age=1") == "protected"
    assert policy.judge(200, "text/plain", None, None, content_range=True) == "range"


def test_hiding_options_reach_the_library():
    sheet = vantoro.stylesheet("example.org")
    hiding = set(sheet.split("{")[0].replace(".", "").split(","))
    assert sheet == vantoro.stylesheet("example.org") != vantoro.stylesheet("other.org")
    p = vantoro.Protector("Site", hide="class", site_key="example.org",
                          stylesheet_link="/v.css", nosnippet=True)
    out = p.protect_content("<head></head><p>a</p>" + "<p>b</p>" * 20)
    assert out.startswith('<head><link rel="stylesheet" href="/v.css">')
    assert hiding & set(out.split()) and "style=" not in out and "data-nosnippet" in out
    p.hide = "style"
    p.nosnippet = False
    out = p.protect_content("<head></head><p>a</p>")
    assert "style=" in out and "data-nosnippet" not in out and "<link" not in out
    with pytest.raises(vantoro.Error):
        vantoro.stylesheet("")
    with pytest.raises(vantoro.Error):
        p.set_hiding("class", "")
    assert p.hide is vantoro.Hide.STYLE and p.site_key == "example.org"  # unchanged


def test_options_survive_copies_and_show_in_the_repr():
    p = vantoro.Protector("Site", decoy="both", charset="GBK", hide=vantoro.Hide.CLASS,
                          site_key="k", stylesheet_link="/v.css", nosnippet=True,
                          empty_notices=True, transport_charset="big5", copy_notices=2,
                          marks=True, mark_id=2**64 - 1, tdm_reservation=True)
    copy = pickle.loads(pickle.dumps(p))
    assert repr(copy) == repr(p)
    for name in ("copyright", "decoy", "charset", "hide", "site_key", "stylesheet_link",
                 "nosnippet", "empty_notices", "transport_charset", "copy_notices", "marks",
                 "mark_id", "tdm_reservation"):
        assert getattr(copy, name) == getattr(p, name)
    assert "site_key='k'" in repr(p) and "hide=" not in repr(vantoro.Protector())
    assert f"mark_id={2**64 - 1}" in repr(p) and "marks=True" in repr(p)
    # Marks on by their default (layered, with a key) are not worth showing.
    assert "marks" not in repr(vantoro.Protector("Site", site_key="k"))


GBK_PAGE = '<meta charset="gbk"><p>中文</p>'


def test_auto_reads_bytes_as_a_browser_does():
    p = vantoro.Protector("版权所有")
    assert p.charset == "auto"
    assert "版权所有".encode("gbk") in p.protect_content(GBK_PAGE.encode("gbk"))
    # The transport outranks <meta>, and a byte order mark outranks both.
    p.transport_charset = "utf-8"
    assert "版权所有".encode() in p.protect_content(GBK_PAGE.encode())
    assert "版权所有".encode() in p.protect_content(b"\xef\xbb\xbf<p>x</p>")
    p.transport_charset = "gbk"
    assert "版权所有".encode("gbk") in p.protect_content(b"<p>x</p>")
    with pytest.raises(vantoro.Error) as failure:
        p.protect_content("<p>x</p>".encode("utf-16"))
    assert failure.value.status == "VANTORO_UNKNOWN_CHARSET"


def test_auto_reads_a_str_as_utf8():
    p = vantoro.Protector("版权所有", transport_charset="gbk")
    out = p.protect(GBK_PAGE)  # neither the <meta> nor the transport applies to a str
    assert "版权所有" in out and "中文" in out
    # The transport set is back for the bytes that follow.
    assert "版权所有".encode("gbk") in p.protect_content(b"<p>x</p>")
    p.charset = "GBK"  # an explicit set: a str goes through it
    assert "版权所有" in p.protect_content("<p>x</p>")


def test_detect_charset_and_is_protected():
    assert vantoro.detect_charset(GBK_PAGE.encode("gbk")) == "GBK"
    assert vantoro.detect_charset(GBK_PAGE.encode("gbk"), "iso-8859-1") == "windows-1252"
    assert vantoro.detect_charset(b"\xef\xbb\xbf" + GBK_PAGE.encode(), "gbk") == "UTF-8"
    page = vantoro.protect_page(b"<!DOCTYPE html><p>x</p>")
    assert vantoro.is_protected(page) and vantoro.is_protected(page.decode())
    assert not vantoro.is_protected(b"<!DOCTYPE html><p>x</p>")
    assert not vantoro.is_protected(vantoro.protect_content("<p>x</p>", "Site"))


# ---- Layered hiding, marks, the reservation ----

CLASS_OUTPUT = "x<span class='nnnn lmsvvq nnnn'>.note</span></p>y"
PROSE = ("<html><head><title>t</title></head><body>"
         + "<p>Some words of prose end here. More words of prose follow them. Then the third "
           "sentence of it ends. A fourth one closes the paragraph.</p>" * 6
         + "</body></html>")
BIG_ID = 0xF0E1D2C3B4A59687  # beyond 2**63: no signed 64-bit integer holds it


def test_style_and_class_replay_as_before():
    for hide, expected in (("style", NOTE_OUTPUT), ("class", CLASS_OUTPUT)):
        p = replayed(vantoro.Protector("note", hide=hide, site_key="k"), NOTE_VALUES)
        assert p.protect_content("x</p>y") == expected


def copy_visible(html):
    return html.count("aria-hidden='true'")


def test_layered_is_the_default():
    assert vantoro.Protector().hide is vantoro.Hide.LAYERED
    assert vantoro.Protector("Site").marks is False  # no site key
    sheet = vantoro.stylesheet("Example Site")  # no key: named after the copyright text
    for out in (vantoro.protect_content(PAGE, "Example Site"), vantoro.protect(PAGE, "Example Site"),
                vantoro.Protector("Example Site").protect_content(PAGE)):
        assert out.lower().count("<style") == 1 and "style=" not in out.lower()
        assert copy_visible(out) == 1  # the first decoy's
        assert sheet in out
    out = vantoro.protect_content(PAGE, "Example Site")
    assert out.startswith(f"<html><head><style>{sheet}</style><title>")
    # With a link the rules are not put in.
    out = vantoro.protect_content(PAGE, "Site", site_key="k", stylesheet_link="/v.css")
    assert '<head><link rel="stylesheet" href="/v.css">' in out and "<style" not in out


def test_copy_notices():
    page = "<p>x</p>" * 12
    counts = [copy_visible(vantoro.protect_content(page, "Site", copy_notices=every))
              for every in (0, 1, 4, 2**70)]
    assert counts == [1, 12, 3, 1]
    assert vantoro.Protector(copy_notices=True).copy_notices == 1
    with pytest.raises(TypeError):
        vantoro.Protector(copy_notices=1.5)  # type: ignore[arg-type]


def test_marks_carry_the_id_to_a_trace():
    p = vantoro.Protector("Example Site", site_key="secret", mark_id=BIG_ID)
    assert p.marks is True  # layered with a key
    out = p.protect(PROSE)
    (found,) = vantoro.trace(out, "secret")
    assert found.id == BIG_ID and 0 < found.agreeing <= found.seen
    assert found == vantoro.MarkFound(BIG_ID, found.agreeing, found.seen)
    assert vantoro.trace(out.encode(), "secret")[0].id == BIG_ID
    # Another key finds nothing, nor does a text without marks.
    assert vantoro.trace(out, "other key") == []
    assert vantoro.trace(PROSE, "secret") == []
    with pytest.raises(vantoro.Error) as failure:
        vantoro.trace(out, "")
    assert failure.value.status == "VANTORO_INVALID_ARGUMENT"


def test_a_call_can_carry_its_own_mark_id():
    p = vantoro.Protector("Example Site", site_key="secret", mark_id=7)
    assert vantoro.trace(p.protect_content(PROSE, mark_id=2**64 - 1), "secret")[0].id == 2**64 - 1
    assert vantoro.trace(p.protect(PROSE, mark_id=0), "secret")[0].id == 0
    assert vantoro.trace(p.protect(PROSE), "secret")[0].id == 7  # the protector's again
    p.mark_id = BIG_ID
    assert vantoro.trace(p.protect_content(PROSE.encode()), "secret")[0].id == BIG_ID
    out = vantoro.protect(PROSE, "Example Site", site_key="secret", mark_id=BIG_ID)
    assert vantoro.trace(out, "secret")[0].id == BIG_ID
    out = vantoro.protect_content(PROSE, "Example Site", site_key="secret")
    assert vantoro.trace(out, "secret")[0].id == 0


def test_marks_are_off_when_asked_and_need_a_key():
    assert vantoro.trace(vantoro.protect(PROSE, "Site", site_key="secret", marks=False),
                         "secret") == []
    # A key with style or class hiding: marks only when asked for.
    assert vantoro.trace(vantoro.protect(PROSE, "Site", hide="style", site_key="secret"),
                         "secret") == []
    out = vantoro.protect(PROSE, "Site", hide="class", site_key="secret", marks=True,
                          mark_id=BIG_ID)
    assert vantoro.trace(out, "secret")[0].id == BIG_ID
    p = vantoro.Protector("Site", site_key="secret")
    with pytest.raises(vantoro.Error) as failure:
        p.site_key = ""  # the marks need it
    assert "marks need a site key" in str(failure.value)
    assert p.site_key == "secret" and p.marks


@pytest.mark.parametrize("bad", [-1, 2**64, -(2**63)])
def test_mark_ids_out_of_range(bad):
    message = f"mark id out of range: {bad} (must be in 0..18446744073709551615)"
    p = vantoro.Protector("Site", site_key="secret")
    ways = [lambda: vantoro.Protector("Site", mark_id=bad),
            lambda: setattr(p, "mark_id", bad),
            lambda: p.protect(PROSE, mark_id=bad),
            lambda: p.protect_content(b"<p>x</p>", mark_id=bad),
            lambda: vantoro.protect("<p>x</p>", "Site", mark_id=bad),
            lambda: vantoro.protect_content("<p>x</p>", "Site", mark_id=bad)]
    for way in ways:
        with pytest.raises(ValueError) as failure:
            way()
        assert isinstance(failure.value, vantoro.Error)
        assert (failure.value.status, str(failure.value)) == ("VANTORO_INVALID_ARGUMENT", message)
    assert p.mark_id == 0
    for wrong in (True, 1.0, "1"):
        with pytest.raises(TypeError):
            p.protect(PROSE, mark_id=wrong)


def test_new_mark_ids():
    before = int(time.time())
    ids = {vantoro.new_mark_id() for _ in range(50)}
    assert len(ids) == 50
    assert all(before <= i >> 32 <= int(time.time()) for i in ids)


def test_the_reservation_meta():
    meta = '<meta name="tdm-reservation" content="1">'
    for run in (vantoro.protect_page, vantoro.protect):
        out = run(PAGE, "Site", tdm_reservation=True)
        low = out.lower()  # the page pass re-cases the tags around it
        assert meta in out and low.index("<head") < low.index(meta) < low.index("<title")
        assert meta not in run(PAGE, "Site")
    assert meta not in vantoro.protect_content(PAGE, "Site", tdm_reservation=True)
    p = vantoro.Protector("Site")
    p.tdm_reservation = True
    assert p.protect_page(PAGE).count("tdm-reservation") == 1
