"""Fixtures of the Apache module's tests: the real Apache httpd (event MPM) with
mod_vantoro loaded, on 127.0.0.1 with its own ServerRoot in a temporary folder,
a CGI script that writes a page in small flushed pieces, and the local upstream
and reference program of the nginx module's tests (tests/nginx/upstream.py and
reference.c), which say what a backend sends and what the C interface makes of
a page.

The module files come from the environment (run_tests.sh builds them):
  VANTORO_APACHE_MODULE       the module as shipped
  VANTORO_APACHE_TEST_MODULE  the test build (src/apache/build.sh --test), which
                              can replay random values
  VANTORO_APACHE_LIB          the CMake folder of the libvantoro.a both are built on
  VANTORO_APACHE_TOOL         the vantoro tool built on it (for its trace command)
"""
import http.client
import http.server
import os
import pathlib
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import pytest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = ROOT / "build"
NGINX_TESTS = ROOT / "tests" / "nginx"
sys.path.insert(0, str(NGINX_TESTS))

from upstream import Upstream  # noqa: E402  (the nginx tests' backend)

APACHE = "/usr/sbin/apache2"
MODULES = pathlib.Path("/usr/lib/apache2/modules")
CI = os.environ.get("CI") == "true"

COPYRIGHT = "Example Site:All rights reserved"
NOTICE = b"All rights reserved"
WATERMARK = b"https://vantoro.example"


def module_path(variable, default):
    return pathlib.Path(os.environ.get(variable, default))


RELEASE_MODULE = module_path("VANTORO_APACHE_MODULE", BUILD / "apache" / "mod_vantoro.so")
TEST_MODULE = module_path("VANTORO_APACHE_TEST_MODULE",
                          BUILD / "apache-test" / "test" / "mod_vantoro.so")
LIBRARY = module_path("VANTORO_APACHE_LIB", BUILD / "apache-test" / "lib")
TOOL = module_path("VANTORO_APACHE_TOOL", LIBRARY / "src" / "cli" / "vantoro")


def pytest_sessionstart(session):
    missing = [str(p) for p in (APACHE, RELEASE_MODULE, TEST_MODULE, TOOL)
               if not os.path.exists(p)]
    if missing:
        message = "missing (run tests/apache/run_tests.sh): " + ", ".join(missing)
        if CI:
            raise pytest.UsageError(message)
        pytest.exit(message, returncode=0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def readable_folder(prefix):
    """A folder httpd's children (www-data when the tests run as root) can read."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    folder.chmod(0o755)
    return folder


# The nginx tests' article: a head, paragraphs, line breaks, a script and a
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

LONG = (b"<html><head><title>long</title></head><body>\n"
        + b"".join(b"<p>Paragraph %d of a long page, with some words in it.</p>\n" % i
                   for i in range(200))
        + b"</body></html>\n")

# Writes the page ?name= of the site in pieces of 1 to 300 bytes, each flushed,
# now and then after a pause; says in X-Seen what of the request it was given.
CGI_SCRIPT = """#!/usr/bin/python3
import os, random, sys, time, urllib.parse
query = urllib.parse.parse_qs(os.environ.get("QUERY_STRING", ""))
one = lambda key, default: query.get(key, [default])[0]
body = open(os.path.join({site!r}, one("name", "article.html")), "rb").read()
out = sys.stdout.buffer
seen = ";".join("%s=%s" % (k, os.environ.get(k, "-"))
                for k in ("HTTP_ACCEPT_ENCODING", "HTTP_RANGE", "HTTP_IF_RANGE"))
out.write(b"Content-Type: " + one("ct", "text/html").encode() + b"\\r\\n")
out.write(b"X-Seen: " + seen.encode() + b"\\r\\n\\r\\n")
out.flush()
rng = random.Random(len(body))
at = 0
while at < len(body):
    size = rng.randint(1, 300)
    out.write(body[at:at + size])
    out.flush()
    at += size
    if rng.random() < 0.1:
        time.sleep(0.002)
"""


@pytest.fixture(scope="session")
def site():
    """The folder Apache, the CGI script and the upstream serve."""
    folder = readable_folder("vantoro-apache-site-")
    (folder / "article.html").write_bytes(ARTICLE)
    (folder / "long.html").write_bytes(LONG)
    (folder / "plain.txt").write_bytes(b"just text\nsecond line\n")
    (folder / "notes.txt").write_bytes(b"0123456789" * 10)
    (folder / "empty.html").write_bytes(b"")
    for path in folder.iterdir():
        path.chmod(0o644)
        # httpd makes the ETag of a file changed within the second weak
        os.utime(path, (time.time() - 3600, time.time() - 3600))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


# The validators of the page the script cond.cgi and the validating backend
# send: a strong ETag and a Last-Modified, which only the original may carry.
STRONG_ETAG = '"original-etag-7"'
LAST_MODIFIED = "Tue, 03 Mar 2026 09:00:00 GMT"

# Sends the article with STRONG_ETAG and LAST_MODIFIED. A request whose
# If-None-Match or If-Modified-Since matches them gets a 304 of its own
# ("Status: 304", the validators, no Content-Type), or with ?own=1 the page
# again, for httpd to turn into its 304.
COND_SCRIPT = """#!/usr/bin/python3
import os, sys
etag, modified = {etag!r}, {modified!r}
out = sys.stdout.buffer
head = ("ETag: %s\\r\\nLast-Modified: %s\\r\\n" % (etag, modified)).encode()
matches = (os.environ.get("HTTP_IF_NONE_MATCH") == etag
           or os.environ.get("HTTP_IF_MODIFIED_SINCE") == modified)
if matches and "own=1" not in os.environ.get("QUERY_STRING", ""):
    out.write(b"Status: 304 Not Modified\\r\\n" + head + b"\\r\\n")
else:
    out.write(b"Content-Type: text/html\\r\\n" + head + b"\\r\\n")
    out.write(open(os.path.join({site!r}, "article.html"), "rb").read())
"""


@pytest.fixture(scope="session")
def cgi(site):
    folder = readable_folder("vantoro-apache-cgi-")
    script = folder / "page.cgi"
    script.write_text(CGI_SCRIPT.format(site=str(site)))
    script.chmod(0o755)
    script = folder / "cond.cgi"
    script.write_text(COND_SCRIPT.format(site=str(site), etag=STRONG_ETAG,
                                         modified=LAST_MODIFIED))
    script.chmod(0o755)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def upstream(site):
    server = Upstream(site)
    yield server
    server.stop()


class PausingHandler(http.server.BaseHTTPRequestHandler):
    """Sends the page NAME of the site chunked: its first half, then after a
    pause the rest, so that mod_proxy finds nothing to read in between and
    passes a FLUSH on."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = (self.server.folder / self.path.lstrip("/")).read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece in (body[:len(body) // 2], body[len(body) // 2:]):
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.flush()
            time.sleep(0.3)
        self.wfile.write(b"0\r\n\r\n")


@pytest.fixture(scope="session")
def pausing(site):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), PausingHandler)
    server.daemon_threads = True
    server.folder = site
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield server.server_address[1]
    server.shutdown()
    server.server_close()


class ValidatingHandler(http.server.BaseHTTPRequestHandler):
    """Sends the article for any path (as an application does, under a path
    that names no file type, so httpd guesses none) with STRONG_ETAG and
    LAST_MODIFIED, and answers a request whose If-None-Match or
    If-Modified-Since matches them the way most application servers do: a 304
    with the validators and without a Content-Type."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if (self.headers.get("If-None-Match") == STRONG_ETAG
                or self.headers.get("If-Modified-Since") == LAST_MODIFIED):
            self.send_response(304)
            self.send_header("ETag", STRONG_ETAG)
            self.send_header("Last-Modified", LAST_MODIFIED)
            self.end_headers()
            return
        body = (self.server.folder / "article.html").read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("ETag", STRONG_ETAG)
        self.send_header("Last-Modified", LAST_MODIFIED)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


@pytest.fixture(scope="session")
def validating(site):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), ValidatingHandler)
    server.daemon_threads = True
    server.folder = site
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield server.server_address[1]
    server.shutdown()
    server.server_close()


@pytest.fixture(scope="session")
def values_file():
    """Random values to replay, each exact as text (a multiple of 2^-24)."""
    folder = readable_folder("vantoro-apache-values-")
    path = folder / "values.txt"
    rng = random.Random(20260308)
    path.write_text("".join("%r\n" % (rng.randrange(1 << 24) / (1 << 24))
                            for _ in range(200000)))
    path.chmod(0o644)
    yield path
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def reference(tmp_path_factory, values_file):
    """reference(mode, page, **options): what the C interface makes of the page."""
    out = tmp_path_factory.mktemp("reference") / "reference"
    subprocess.run(["cc", "-O1", "-I", str(ROOT / "include"), "-I", str(LIBRARY / "include"),
                    str(NGINX_TESTS / "reference.c"), str(LIBRARY / "libvantoro.a"),
                    "-lsodium", "-lstdc++", "-lm", "-o", str(out)], check=True)

    def run(mode, page=b"", copyright=COPYRIGHT, decoy=None, hide="style", site_key=None,
            link=None, replay=True):
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
            if replay:
                args += ["--values", str(values_file)]
        return subprocess.run(args, input=page, capture_output=True, check=True).stdout

    return run


def trace(text, site_key):
    """The mark ids the tool's trace command finds in text, in its order."""
    done = subprocess.run([str(TOOL), "trace", "--site-key", site_key, "-"], input=text,
                          capture_output=True)
    assert done.returncode in (0, 1), done.stderr
    return [line.split()[1][2:] for line in done.stdout.decode().splitlines()
            if line.startswith("mark 0x")]


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers  # [(name, value)] as sent
        self.body = body

    def header(self, name):
        values = [v for k, v in self.headers if k.lower() == name.lower()]
        return values[0] if values else None


LOADED = ["mpm_event", "authz_core", "mime", "filter", "deflate", "cgid", "alias", "dir",
          "proxy", "proxy_http", "headers", "setenvif"]


class Apache:
    """Apache httpd with the module loaded; see start()."""

    def __init__(self, root, upstream, site, cgi):
        self.root = root
        self.upstream = upstream
        self.site = site
        self.cgi = cgi
        self.process = None
        self.port = None

    def config(self, body, module=TEST_MODULE, log_level="warn"):
        self.port = free_port()
        r = self.root
        user = "User www-data\nGroup www-data" if os.geteuid() == 0 else ""
        loads = "\n".join("LoadModule %s_module %s/mod_%s.so" % (m, MODULES, m)
                          for m in LOADED)
        body = (body.replace("UPSTREAM", "127.0.0.1:%d" % self.upstream.port)
                    .replace("SITE", str(self.site)))
        return f"""
ServerRoot {r}
PidFile {r}/httpd.pid
ErrorLog {r}/error.log
LogLevel {log_level}
DefaultRuntimeDir {r}
Listen 127.0.0.1:{self.port}
ServerName 127.0.0.1
{user}
{loads}
LoadModule vantoro_module {module}
StartServers 1
ServerLimit 1
ThreadsPerChild 8
MaxRequestWorkers 8
MinSpareThreads 1
MaxSpareThreads 8
TypesConfig /etc/mime.types
ScriptSock {r}/cgid.sock
DocumentRoot {self.site}
LogFormat "%U%q %>s %{{VANTORO_STATUS}}e %{{VANTORO_MARK}}e" status
CustomLog {r}/access.log status
<Directory {self.site}>
    Require all granted
</Directory>
<Directory {self.cgi}>
    Require all granted
</Directory>
ScriptAlias /cgi/ {self.cgi}/
{body}
"""

    def write(self, text):
        conf = self.root / "httpd.conf"
        conf.write_text(text)
        return conf

    def test_config(self, body, module=RELEASE_MODULE):
        """apache2 -t on such a configuration: (exit status, output)."""
        conf = self.write(self.config(body, module))
        done = subprocess.run([APACHE, "-t", "-f", str(conf)], capture_output=True, text=True)
        return done.returncode, done.stderr + done.stdout

    def start(self, body, module=TEST_MODULE, log_level="warn", timeout=30):
        self.stop()
        conf = self.write(self.config(body, module, log_level))
        for name in ("error.log", "access.log"):
            (self.root / name).write_text("")
        self.process = subprocess.Popen([APACHE, "-DFOREGROUND", "-f", str(conf)],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None:
                out = self.process.stdout.read().decode(errors="replace")
                self.process = None
                raise RuntimeError("apache2 did not start: %s\n%s" % (out, self.error_log()))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("apache2 did not listen in time:\n" + self.error_log())
                time.sleep(0.05)

    def stop(self, timeout=60):
        if self.process is None:
            return
        process, self.process = self.process, None
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()

    def error_log(self):
        path = self.root / "error.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def request(self, path, headers=None, method="GET", timeout=30):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, headers=headers or {})
            r = conn.getresponse()
            return Response(r.status, r.getheaders(), r.read())
        finally:
            conn.close()

    def log_line(self, marker):
        """The access log's line of the request whose URI holds `marker`;
        httpd writes it once the response is out, so it is waited for."""
        path = self.root / "access.log"
        for _ in range(200):
            for line in path.read_text().splitlines():
                if marker in line.split(" ")[0]:
                    return line.split(" ")
            time.sleep(0.05)
        return None


@pytest.fixture(scope="module")
def apache(upstream, site, cgi):
    root = readable_folder("vantoro-apache-")
    server = Apache(root, upstream, site, cgi)
    yield server
    server.stop()
    shutil.rmtree(root, ignore_errors=True)


def upstream_body(upstream, path, headers=None):
    """What the upstream itself sends for path (no httpd between)."""
    conn = http.client.HTTPConnection("127.0.0.1", upstream.port, timeout=30)
    try:
        conn.request("GET", path, headers=headers or {})
        r = conn.getresponse()
        return Response(r.status, r.getheaders(), r.read())
    finally:
        conn.close()
