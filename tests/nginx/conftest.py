"""Fixtures of the nginx module's tests: real nginx with the module loaded, on
127.0.0.1 with a temporary prefix, and a local upstream (upstream.py).

The module files come from the environment (run_tests.sh builds them):
  VANTORO_NGINX_MODULE       the module as shipped
  VANTORO_NGINX_TEST_MODULE  the test build (src/nginx/build.sh --test), which
                             can replay random values
  VANTORO_NGINX_LIB          the CMake folder of the libvantoro.a both are built on
  VANTORO_NGINX_TOOL         the vantoro tool built on it (for its trace command)
"""
import http.client
import os
import pathlib
import random
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import pytest

from upstream import Upstream

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = ROOT / "build"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
CI = os.environ.get("CI") == "true"

COPYRIGHT = "Example Site:All rights reserved"
NOTICE = b"All rights reserved"


def module_path(variable, default):
    return pathlib.Path(os.environ.get(variable, default))


RELEASE_MODULE = module_path("VANTORO_NGINX_MODULE",
                             BUILD / "nginx" / "ngx_http_vantoro_filter_module.so")
TEST_MODULE = module_path("VANTORO_NGINX_TEST_MODULE",
                          BUILD / "nginx-test" / "ngx_http_vantoro_filter_module.so")
LIBRARY = module_path("VANTORO_NGINX_LIB", BUILD / "nginx-test" / "lib")
TOOL = module_path("VANTORO_NGINX_TOOL", LIBRARY / "src" / "cli" / "vantoro")


def pytest_sessionstart(session):
    missing = [str(p) for p in (NGINX, RELEASE_MODULE, TEST_MODULE, TOOL)
               if not os.path.exists(p)]
    if missing:
        message = "missing (run tests/nginx/run_tests.sh): " + ", ".join(missing)
        if CI:
            raise pytest.UsageError(message)
        pytest.exit(message, returncode=0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# A real-looking article: a head, paragraphs, line breaks, a script and a
# comment, so that both passes have work.
ARTICLE = b"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Garden notes</title>
<script>var s = "<p>not a paragraph</p>";</script>
</head>
<body>
<!-- a comment <p> -->
<h1 class="top">Garden notes</h1>
<p>Tomatoes like warm soil and a sunny wall.</p>
<p>Water in the morning,<br>never at noon.</p>
<div id="x" data-v='a > b'><p>Beans climb anything.</p></div>
<ul><li>Sage</li><li>Thyme</li></ul>
<p>Compost, then mulch.</p>
</body>
</html>
"""


@pytest.fixture(scope="session")
def site(tmp_path_factory):
    """The folder the upstream and nginx's static locations serve."""
    folder = tmp_path_factory.mktemp("site")
    folder.chmod(0o755)
    (folder / "article.html").write_bytes(ARTICLE)
    (folder / "plain.txt").write_bytes(b"just text\nsecond line\n")
    (folder / "empty.html").write_bytes(b"")
    (folder / "fragment.html").write_bytes(b"<p>An included paragraph.</p>\n")
    # about 12 KB of paragraphs
    (folder / "long.html").write_bytes(
        b"<html><head><title>long</title></head><body>\n"
        + b"".join(b"<p>Paragraph %d of a long page, with some words in it.</p>\n" % i
                   for i in range(200))
        + b"</body></html>\n")
    return folder


@pytest.fixture(scope="session")
def upstream(site):
    server = Upstream(site)
    yield server
    server.stop()


@pytest.fixture(scope="session")
def values_file(tmp_path_factory):
    """Random values to replay, each exact as text (a multiple of 2^-24)."""
    path = tmp_path_factory.mktemp("values") / "values.txt"
    rng = random.Random(20260308)
    path.write_text("".join("%r\n" % (rng.randrange(1 << 24) / (1 << 24))
                            for _ in range(400000)))
    return path


@pytest.fixture(scope="session")
def reference(tmp_path_factory, values_file):
    """reference(mode, page, **options): what the C interface makes of the page."""
    out = tmp_path_factory.mktemp("reference") / "reference"
    subprocess.run(["cc", "-O1", "-I", str(ROOT / "include"), "-I", str(LIBRARY / "include"),
                    str(HERE / "reference.c"), str(LIBRARY / "libvantoro.a"),
                    "-lsodium", "-lstdc++", "-lm", "-o", str(out)], check=True)

    def run(mode, page=b"", copyright=COPYRIGHT, decoy=None, hide=None, site_key=None,
            charset=None, replay=True, link=None, copy_notices=None, mark_id=None,
            tdm=False):
        args = [str(out), mode]
        if mode == "stylesheet":
            args.append(site_key)
        else:
            if copyright:
                args += ["--copyright", copyright]
            if decoy:
                args += ["--decoy", decoy]
            if hide:
                args += ["--hide", hide]
            if site_key:
                args += ["--site-key", site_key]
            if link:
                args += ["--link", link]
            if copy_notices is not None:
                args += ["--copy-notices", str(copy_notices)]
            if mark_id is not None:
                args += ["--marks", "1", "--mark-id", str(mark_id)]
            if tdm:
                args += ["--tdm-reservation", "1"]
            if charset:
                args += ["--charset", charset]
            if replay:
                args += ["--values", str(values_file)]
        return subprocess.run(args, input=page, capture_output=True, check=True).stdout

    return run


def trace(text, site_key):
    """The mark ids the tool's trace command finds in text, in its order."""
    done = subprocess.run([str(TOOL), "trace", "--site-key", site_key, "-"], input=text,
                          capture_output=True)
    assert done.returncode in (0, 1), done.stderr
    # "mark 0x0000000000001234 (4660): 66 of 66 symbols agree"
    return [line.split()[1][2:] for line in done.stdout.decode().splitlines()
            if line.startswith("mark 0x")]


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers  # [(name, value)] as sent
        self.body = body

    def header(self, name):
        values = self.all(name)
        return values[0] if values else None

    def all(self, name):
        return [v for k, v in self.headers if k.lower() == name.lower()]


class Nginx:
    """nginx with the module loaded and one server; see start()."""

    def __init__(self, prefix, upstream, site):
        self.prefix = prefix
        self.upstream = upstream
        self.site = site
        self.process = None
        self.port = None

    def config(self, server, http="", module=TEST_MODULE, single=False, main=""):
        self.port = free_port()
        self.port2 = free_port()  # for a second listen, as {port2}
        server = server.replace("{port2}", str(self.port2))
        up = "127.0.0.1:%d" % self.upstream.port
        p = self.prefix
        user = "user root;" if os.geteuid() == 0 else ""
        return f"""
load_module {module};
{user}
{"master_process off;" if single else "worker_processes 1;"}
daemon off;
pid {p}/nginx.pid;
error_log {p}/error.log info;
{main}
events {{ worker_connections 256; }}
http {{
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    access_log off;
    client_body_temp_path {p}/tmp/body;
    proxy_temp_path {p}/tmp/proxy;
    fastcgi_temp_path {p}/tmp/fastcgi;
    uwsgi_temp_path {p}/tmp/uwsgi;
    scgi_temp_path {p}/tmp/scgi;
    {http.replace("UPSTREAM", up)}
    server {{
        listen 127.0.0.1:{self.port};
        root {self.site};
        {server.replace("UPSTREAM", up)}
    }}
}}
"""

    def write(self, text):
        (self.prefix / "tmp").mkdir(exist_ok=True)
        conf = self.prefix / "nginx.conf"
        conf.write_text(text)
        return conf

    def test_config(self, server, http="", module=TEST_MODULE):
        """nginx -t on such a configuration: (exit status, output)."""
        conf = self.write(self.config(server, http, module))
        done = subprocess.run([NGINX, "-t", "-p", str(self.prefix), "-c", str(conf)],
                              capture_output=True, text=True)
        return done.returncode, done.stderr + done.stdout

    def start(self, server, http="", module=TEST_MODULE, wrapper=(), single=False,
              main="", timeout=30):
        self.stop()
        conf = self.write(self.config(server, http, module, single or bool(wrapper), main))
        (self.prefix / "error.log").write_text("")
        self.process = subprocess.Popen(
            [*wrapper, NGINX, "-p", str(self.prefix), "-c", str(conf)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None:
                out = self.process.stdout.read().decode(errors="replace")
                raise RuntimeError("nginx did not start: %s\n%s" % (out, self.error_log()))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("nginx did not listen in time:\n" + self.error_log())
                time.sleep(0.05)

    def stop(self, timeout=120):
        """Stops nginx gracefully; gives its output."""
        if self.process is None:
            return ""
        process, self.process = self.process, None
        if process.poll() is None:
            process.send_signal(signal.SIGQUIT)
        try:
            out, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            out, _ = process.communicate()
        return out.decode(errors="replace")

    def error_log(self):
        path = self.prefix / "error.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def request(self, path, headers=None, method="GET", timeout=30):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, headers=headers or {})
            r = conn.getresponse()
            body = r.read()
            return Response(r.status, r.getheaders(), body)
        finally:
            conn.close()


@pytest.fixture(scope="module")
def nginx(tmp_path_factory, upstream, site):
    prefix = pathlib.Path(tempfile.mkdtemp(prefix="vantoro-nginx-"))
    prefix.chmod(0o755)
    server = Nginx(prefix, upstream, site)
    yield server
    server.stop()
    shutil.rmtree(prefix, ignore_errors=True)


def upstream_body(upstream, path, headers=None):
    """The bytes the upstream itself sends for path (no nginx between)."""
    conn = http.client.HTTPConnection("127.0.0.1", upstream.port, timeout=30)
    try:
        conn.request("GET", path, headers=headers or {})
        r = conn.getresponse()
        return Response(r.status, r.getheaders(), r.read())
    finally:
        conn.close()
