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
    out = replayed(vantoro.Protector("note"), NOTE_VALUES).protect_content(text)
    assert type(out) is type(text)
    assert out == expected


def test_running_out_of_values_raises_and_uses_none_up():
    p = replayed(vantoro.Protector("note"), NOTE_VALUES)
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
    with pytest.raises(ValueError):
        p.decoy = "nonsense"
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
    # Bytes that are not UTF-8, NUL bytes, and lone surrogates in a str.
    assert b"\xff\xfe\x00z" in vantoro.protect_content(b"\xff\xfe\x00z</p>", "note")
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
