"""vantoro_thread_pool: pages of at least its size are protected in a pool
thread while the worker serves other requests, and go out exactly as the
worker itself would send them: the same bytes for the same draws, the same
headers, $vantoro_status and marks; smaller pages stay in the worker.

Which pages went to the pool is read from the debug log (Debian's nginx, and
so the module, is built --with-debug): the module says "vantoro thread task"
when it hands a page to the pool and "vantoro thread done" when the task
comes back."""
import http.client
import pathlib
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time

import pytest

from conftest import COPYRIGHT, NGINX, NOTICE, Nginx, trace

WATERMARK = b"Vantoro"
POSTED = 'vantoro thread task: "%s?'
DONE = 'vantoro thread done: "%s?'


def paragraphs(count, words):
    return (b"<!DOCTYPE html><html><head><title>big</title></head><body>\n"
            + b"".join(b"<p>Paragraph %d: %s.<br>Its second line.</p>\n" % (i, words)
                       for i in range(count))
            + b"</body></html>\n")


@pytest.fixture(scope="module")
def pages(site):
    # about 100 KB, over the 16k the locations below send to the pool; 4 MB
    # of long paragraphs (a result about as large); and 700 KB and 2 MB of
    # short ones, which keep a pool thread busy for a good while (a decoy
    # each)
    (site / "big.html").write_bytes(paragraphs(1500, b"beans and tomatoes grow here"))
    (site / "dense.html").write_bytes(paragraphs(10000, b"beans and tomatoes grow here"))
    (site / "denser.html").write_bytes(paragraphs(30000, b"beans and tomatoes grow here"))
    (site / "huge.html").write_bytes(paragraphs(2000, b"some words in a long text " * 80))
    return site


def debug_build():
    done = subprocess.run([NGINX, "-V"], capture_output=True, text=True)
    return "--with-debug" in done.stdout + done.stderr


@pytest.fixture(scope="module")
def server(nginx, values_file, pages):
    if not debug_build():
        pytest.skip("this nginx is not built --with-debug: its log cannot say "
                    "which pages went to the pool")
    site = pages
    replay = "vantoro_test_random_values %s;" % values_file
    pool = "vantoro_thread_pool vp 16k;"
    p = nginx.prefix
    return nginx.start(f"""
        listen 127.0.0.1:{{port2}} http2;
        error_log {p}/debug.log debug;
        access_log {p}/access.log vt;
        vantoro on;
        vantoro_copyright "{COPYRIGHT}";
        vantoro_hide style;
        location /pool/ {{ alias {site}/; {pool} {replay} }}
        location /worker/ {{ alias {site}/; {replay} }}
        location /aio/ {{ alias {site}/; aio threads=vp; output_buffers 2 8k; {pool} {replay} }}
        location /pu/ {{ proxy_pass http://UPSTREAM/; {pool} {replay} }}
        location /pu-unbuffered/ {{
            proxy_buffering off; proxy_pass http://UPSTREAM/; {pool} {replay}
        }}
        location /pzip/ {{ proxy_pass http://UPSTREAM/; gunzip on; {pool} {replay} }}
        location /off/ {{ alias {site}/; vantoro_thread_pool off; {replay} }}
        location /one/ {{ alias {site}/; vantoro_thread_pool one 16k; }}
        location /q/ {{ alias {site}/; vantoro_thread_pool q 16k; {replay} }}
        location /q-live/ {{ alias {site}/; vantoro_thread_pool q 16k; }}
        location /marks/ {{
            alias {site}/; {pool}
            vantoro_site_key k1; vantoro_marks on; vantoro_mark_id $arg_id;
        }}
        location /plain/ {{ vantoro off; alias {site}/; }}
    """, http='log_format vt "$uri $status $vantoro_status $vantoro_mark";'
                             " vantoro_worker_memory 64m;",
        main="thread_pool vp threads=2; thread_pool one threads=1;"
             " thread_pool q threads=1 max_queue=1;")


def debug_log(server):
    return (server.prefix / "debug.log").read_text(errors="replace")


def access_log(server):
    path = server.prefix / "access.log"
    return path.read_text().splitlines() if path.exists() else []


def worker(server):
    """The pid of nginx's one worker (which the master may still be starting)."""
    pid = server.process.pid
    deadline = time.monotonic() + 10
    while True:
        children = pathlib.Path("/proc/%d/task/%d/children" % (pid, pid)).read_text().split()
        if len(children) == 1 or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    assert len(children) == 1, children
    return int(children[0])


def test_a_large_page_from_the_pool_equals_the_workers(server, reference, pages):
    page = (pages / "big.html").read_bytes()
    pooled = server.request("/pool/big.html")
    in_worker = server.request("/worker/big.html")
    assert pooled.status == in_worker.status == 200
    assert pooled.body == in_worker.body == reference("protect", page)
    assert pooled.body != page and NOTICE in pooled.body
    # the headers are edited as in the worker: the result's length, a weak
    # ETag, no Last-Modified or Accept-Ranges
    for name in ("Content-Length", "ETag", "Last-Modified", "Accept-Ranges",
                 "Content-Type", "Transfer-Encoding"):
        assert pooled.header(name) == in_worker.header(name), name
    assert pooled.header("Content-Length") == str(len(pooled.body))
    assert pooled.header("ETag").startswith('W/"')
    log = debug_log(server)
    assert DONE % "/pool/big.html" in log
    assert DONE % "/worker/big.html" not in log
    assert "/pool/big.html 200 protected -" in access_log(server)


@pytest.mark.parametrize("path", [
    "/pu/big.html",
    "/pu/big.html?chunks=random",
    "/pu/big.html?nolength=1",
    "/pu-unbuffered/big.html?chunks=random",
    "/pzip/big.html?gzip=1",
])
def test_proxied_pages_through_the_pool(server, reference, pages, path):
    r = server.request(path)
    assert r.status == 200
    assert r.body == reference("protect", (pages / "big.html").read_bytes())
    assert r.header("Content-Length") == str(len(r.body))
    assert DONE % path.split("?")[0] in debug_log(server)


def test_files_read_in_threads_then_protected_in_the_pool(server, reference, pages):
    """With "aio threads" nginx reads the file in a pool thread too, and the
    body's last part comes from that task's event."""
    for name in ("big.html", "article.html"):
        r = server.request("/aio/" + name)
        assert r.status == 200
        assert r.body == reference("protect", (pages / name).read_bytes())
    assert DONE % "/aio/big.html" in debug_log(server)


def test_a_page_below_the_size_stays_in_the_worker(server, reference, pages):
    page = (pages / "article.html").read_bytes()
    r = server.request("/pool/article.html")
    assert r.status == 200 and r.body == reference("protect", page)
    log = debug_log(server)
    assert DONE % "/pool/article.html" not in log
    # and "vantoro_thread_pool off" keeps even large pages there
    r = server.request("/off/big.html")
    assert r.status == 200
    assert r.body == reference("protect", (pages / "big.html").read_bytes())
    assert DONE % "/off/big.html" not in debug_log(server)


def test_marks_and_status_of_pages_from_the_pool(server, pages):
    """Each request's own id, with tasks running side by side: a handle
    shared between two tasks would give one the other's id."""
    ids = list(range(0x1000, 0x1000 + 12))
    bodies = {}

    def get(number):
        bodies[number] = server.request("/marks/big.html?id=%d" % number).body

    threads = [threading.Thread(target=get, args=(n,)) for n in ids]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for number in ids:
        found = trace(bodies[number], "k1")
        assert found and set(found) == {"%016x" % number}, (number, found)
    lines = access_log(server)
    for number in ids:
        assert "/marks/big.html 200 protected %016x" % number in lines
    assert DONE % "/marks/big.html" in debug_log(server)


def test_many_concurrent_large_pages(server, reference, pages):
    """50 pages over 5 keep-alive connections, with small ones in between:
    every page complete and each one exactly the replayed result."""
    expected = reference("protect", (pages / "big.html").read_bytes())
    small = reference("protect", (pages / "article.html").read_bytes())
    failures = []
    before = debug_log(server).count(DONE % "/pool/big.html")

    def client(n):
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
        try:
            for i in range(13):
                path, want = ("/pool/big.html", expected)
                if i % 4 == 3:
                    path, want = ("/pool/article.html", small)
                conn.request("GET", path)
                r = conn.getresponse()
                body = r.read()
                if r.status != 200 or body != want:
                    failures.append((n, i, r.status, len(body)))
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append((n, repr(e)))
        finally:
            conn.close()

    threads = [threading.Thread(target=client, args=(n,)) for n in range(5)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    assert debug_log(server).count(DONE % "/pool/big.html") - before == 50


def test_http2_through_the_pool(server, reference, pages, tmp_path):
    if shutil.which("curl") is None:
        pytest.skip("curl is not installed")
    expected = reference("protect", (pages / "big.html").read_bytes())
    url = "http://127.0.0.1:%d/pool/big.html" % server.port2
    # six at once, each on a connection of its own (this curl does not reuse
    # a connection it opened with prior knowledge)
    args = ["curl", "-sS", "--http2-prior-knowledge", "-Z", "--parallel-immediate"]
    for i in range(6):
        args += [url, "-o", str(tmp_path / ("%d.html" % i))]
    subprocess.run(args, check=True, timeout=60)
    for i in range(6):
        assert (tmp_path / ("%d.html" % i)).read_bytes() == expected


def test_a_full_queue_leaves_the_page_to_the_worker(server, reference, pages):
    """Pool "q" has one thread and room for one task in its queue: with a
    dense page in the thread (a few tenths of a second) and a page waiting,
    the next is protected in the worker, the same as ever."""
    def posted(path):
        return debug_log(server).count(POSTED % path)

    expected = reference("protect", (pages / "big.html").read_bytes())
    bodies = []
    dense, big = posted("/q-live/denser.html"), posted("/q/big.html")
    waiting = [threading.Thread(target=lambda path=path: bodies.append(server.request(path).body))
               for path in ("/q-live/denser.html", "/q/big.html")]
    waiting[0].start()
    wait_for(lambda: posted("/q-live/denser.html") == dense + 1, lambda: "not posted")
    waiting[1].start()
    wait_for(lambda: posted("/q/big.html") == big + 1, lambda: "not posted")
    r = server.request("/q/big.html")
    assert r.status == 200 and r.body == expected
    assert 'thread pool "q" queue overflow' in server.error_log()
    for t in waiting:
        t.join()
    assert expected in bodies and len(bodies) == 2
    assert all(NOTICE in body for body in bodies)
    # only the page that waited went through the pool
    assert posted("/q/big.html") == big + 1
    # the worker protected one page itself, and keeps its own priority
    pid = worker(server)
    assert nice_values(pid)[pid] == nice_values(server.process.pid)[server.process.pid]


def nice_values(pid):
    """Each thread's nice value, from field 19 of /proc/PID/task/TID/stat."""
    values = {}
    for task in pathlib.Path("/proc/%d/task" % pid).iterdir():
        stat = (task / "stat").read_text()
        values[int(task.name)] = int(stat[stat.rindex(")") + 2:].split()[16])
    return values


def test_pool_threads_give_way_to_the_worker(server, pages):
    """A pool thread that ran a page runs at the lowest priority (nice 19),
    so that on a shared core the event loop comes first; the worker's own
    thread keeps the master's priority."""
    for _ in range(4):
        assert server.request("/pool/big.html").status == 200
    pid = worker(server)
    values = nice_values(pid)
    base = nice_values(server.process.pid)[server.process.pid]
    assert values[pid] == base
    lowered = [tid for tid, value in values.items() if tid != pid and value == 19]
    assert lowered, values


def test_head_conditional_and_range_through_the_pool(server, reference, pages):
    get = server.request("/pool/big.html")
    head = server.request("/pool/big.html", method="HEAD")
    worker_head = server.request("/worker/big.html", method="HEAD")
    assert head.status == 200 and head.body == b""
    # the headers a GET gets, without a length nobody knows yet
    assert head.header("Content-Length") is None
    assert head.header("ETag") == get.header("ETag") == worker_head.header("ETag")
    r = server.request("/pool/big.html", {"If-None-Match": get.header("ETag")})
    assert r.status == 304 and r.body == b""
    r = server.request("/pool/big.html", {"Range": "bytes=0-9"})
    assert r.status == 200
    assert r.body == reference("protect", (pages / "big.html").read_bytes())
    assert r.header("Content-Range") is None


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, what()
        time.sleep(0.005)


def test_clients_that_go_away_during_a_task(server, pages):
    """Clients close while their page waits for a pool thread: the worker
    lives on, the tasks run to their end, and what the pages held is given
    back."""
    def finished(name):
        return [line for line in access_log(server) if line.startswith("/one/%s.html " % name)]

    def posted(name):
        return debug_log(server).count(POSTED % ("/one/%s.html" % name))

    request = b"GET /one/huge.html HTTP/1.1\r\nHost: x\r\n\r\n"
    before = worker(server)
    plain = server.request("/plain/huge.html")
    assert plain.status == 200 and len(plain.body) > 3_000_000
    done = debug_log(server).count(DONE % "/one/huge.html")
    for _ in range(5):
        # the one thread of pool "one" is kept busy by two dense pages (a
        # tenth of a second or more each), so that the huge pages after them
        # wait in its queue
        dense = posted("dense")
        busy = [threading.Thread(target=server.request, args=("/one/dense.html",))
                for _ in range(2)]
        for t in busy:
            t.start()
        wait_for(lambda: posted("dense") == dense + 2, lambda: access_log(server)[-3:])
        # a client that closes right after its request (nginx finds out when
        # it writes), and two that close once their page is in the queue
        huge = posted("huge")
        with socket.create_connection(("127.0.0.1", server.port)) as s:
            s.sendall(request)
        for n in (2, 3):
            with socket.create_connection(("127.0.0.1", server.port)) as s:
                s.sendall(request)
                wait_for(lambda: posted("huge") == huge + n,
                         lambda: access_log(server)[-3:])
        for t in busy:
            t.join()
    # each request is logged when it is freed, after its task
    wait_for(lambda: len(finished("huge")) == 15, lambda: finished("huge"))
    # all protected, through the pool: 499 for the clients nginx saw go away
    # while their page was in the pool (nothing was written to them);
    # vantoro_worker_memory is 64m: pages that kept what they held would soon
    # leave no room for the next (their status would say "memory")
    lines = finished("huge") + finished("dense")
    assert len(lines) == 25
    assert all(re.fullmatch(r"/one/\w+\.html (200|499) protected -", line)
               for line in lines), lines
    assert sum(" 499 " in line for line in finished("huge")) >= 10, finished("huge")
    assert debug_log(server).count(DONE % "/one/huge.html") == done + 15
    for _ in range(4):
        r = server.request("/one/huge.html")
        assert r.status == 200 and WATERMARK in r.body and NOTICE in r.body
        assert r.header("Content-Length") == str(len(r.body))
    assert finished("huge")[-1] == "/one/huge.html 200 protected -"
    # still the same worker, and nothing worse than closed connections logged
    assert worker(server) == before
    log = server.error_log()
    assert not re.search(r"signal|\[alert\]|\[crit\]|\[emerg\]", log), log
    assert not re.search(r"\[alert\]|\[crit\]|\[emerg\]", debug_log(server))


@pytest.fixture(scope="module")
def checker(upstream, site):
    prefix = pathlib.Path(tempfile.mkdtemp(prefix="vantoro-nginx-t-"))
    yield Nginx(prefix, upstream, site)
    shutil.rmtree(prefix, ignore_errors=True)


def nginx_t(checker, server, main=""):
    conf = checker.write(checker.config(server, main=main))
    done = subprocess.run([NGINX, "-t", "-p", str(checker.prefix), "-c", str(conf)],
                          capture_output=True, text=True)
    return done.returncode, done.stderr + done.stdout


def test_configuration(checker):
    status, output = nginx_t(checker, f"""
        vantoro on; vantoro_copyright "{COPYRIGHT}";
        vantoro_thread_pool vp;
        location /a/ {{ vantoro_thread_pool vp 1m; }}
        location /b/ {{ vantoro_thread_pool off; }}
        location /c/ {{ vantoro_thread_pool default 0; }}
    """, main="thread_pool vp threads=2;")
    assert status == 0, output
    # a pool that no thread_pool block defines
    status, output = nginx_t(checker, "vantoro on; vantoro_copyright x;"
                                      " location /a/ { vantoro_thread_pool nosuch; }")
    assert status != 0
    assert re.search(r'unknown thread pool "nosuch" in \S+nginx\.conf:\d+', output), output
    status, output = nginx_t(checker, "vantoro_thread_pool vp lots;",
                             main="thread_pool vp threads=1;")
    assert status != 0
    assert 'invalid size "lots" in "vantoro_thread_pool"' in output, output
    status, output = nginx_t(checker, "vantoro_thread_pool off 1m;")
    assert status != 0 and '"vantoro_thread_pool off" takes no size' in output, output
    status, output = nginx_t(checker, "vantoro_thread_pool vp; vantoro_thread_pool vp;",
                             main="thread_pool vp threads=1;")
    assert status != 0 and '"vantoro_thread_pool" directive is duplicate' in output, output
