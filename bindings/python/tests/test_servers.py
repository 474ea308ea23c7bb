"""The middleware under real servers (gunicorn, uwsgi, wsgiref), each started on
127.0.0.1 with its own temporary configuration. Responses are read from the raw
socket, so what the server puts on the wire is what is checked."""

import os
import pathlib
import shutil
import signal
import socket
import subprocess
import time
from typing import NamedTuple

import pytest

import vantoro
import wsgi_app

TESTS = pathlib.Path(__file__).resolve().parent
PACKAGE_ROOT = pathlib.Path(vantoro.__file__).resolve().parent.parent
UWSGI_PYTHON_PLUGIN = pathlib.Path("/usr/lib/uwsgi/plugins/python3_plugin.so")


def missing(what):
    # CI installs every server: there a missing one is a failure.
    if os.environ.get("CI") == "true":
        pytest.fail(f"{what} is not installed")
    pytest.skip(f"{what} is not installed")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def gunicorn_command(folder, port):
    gunicorn = shutil.which("gunicorn") or "/usr/bin/gunicorn"
    if not os.access(gunicorn, os.X_OK):
        missing("gunicorn")
    config = folder / "gunicorn.conf.py"
    config.write_text(f"bind = '127.0.0.1:{port}'\nworkers = 1\n"
                      f"errorlog = {str(folder / 'server.log')!r}\n")
    return [gunicorn, "--config", str(config), "wsgi_app:application"]


def uwsgi_command(folder, port):
    uwsgi = shutil.which("uwsgi") or "/usr/bin/uwsgi"
    if not os.access(uwsgi, os.X_OK) or not UWSGI_PYTHON_PLUGIN.exists():
        missing("uwsgi with its python3 plugin")
    config = folder / "uwsgi.ini"
    config.write_text(f"[uwsgi]\nhttp-socket = 127.0.0.1:{port}\nmodule = wsgi_app:application\n"
                      f"pythonpath = {TESTS}\npythonpath = {PACKAGE_ROOT}\n"
                      "processes = 1\nneed-app = true\ndie-on-term = true\n"
                      "disable-logging = true\n")
    return [uwsgi, "--plugin", "python3", "--ini", str(config)]


def wsgiref_command(folder, port):
    script = folder / "serve.py"
    script.write_text(
        "from wsgiref.simple_server import WSGIRequestHandler, make_server\n"
        "import wsgi_app\n"
        "class Quiet(WSGIRequestHandler):\n"
        "    def log_message(self, *args):\n"
        "        pass\n"
        f"make_server('127.0.0.1', {port}, wsgi_app.application, handler_class=Quiet)"
        ".serve_forever()\n")
    return ["/usr/bin/python3", str(script)]


SERVERS = {"gunicorn": gunicorn_command, "uwsgi": uwsgi_command, "wsgiref": wsgiref_command}


class Server(NamedTuple):
    name: str
    port: int

    def head_length(self):
        # wsgiref writes a length of 0 itself for an empty answer; the
        # others send none. Never the original page's.
        return "0" if self.name == "wsgiref" else None


@pytest.fixture(scope="module", params=sorted(SERVERS))
def server(request, tmp_path_factory):
    folder = tmp_path_factory.mktemp(request.param)
    port = free_port()
    command = SERVERS[request.param](folder, port)
    environment = dict(os.environ, PYTHONPATH=f"{TESTS}:{PACKAGE_ROOT}",
                       PYTHONDONTWRITEBYTECODE="1")
    with open(folder / "output.log", "wb") as output:
        process = subprocess.Popen(command, cwd=folder, env=environment, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if process.poll() is not None or time.monotonic() > deadline:
                    logs = "".join(p.read_text(errors="replace") for p in folder.glob("*.log"))
                    pytest.fail(f"{request.param} did not start:\n{logs}")
                time.sleep(0.1)
        yield Server(request.param, port)
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def exchange(server, method, path, *headers):
    """(status, {lower-case name: [values]}, bytes after the header block)."""
    request = [f"{method} {path} HTTP/1.1", "Host: 127.0.0.1", "Connection: close", *headers]
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as connection:
        connection.sendall(("\r\n".join(request) + "\r\n\r\n").encode())
        raw = b""
        while chunk := connection.recv(65536):
            raw += chunk
    head, _, body = raw.partition(b"\r\n\r\n")
    status_line, *lines = head.decode("latin-1").split("\r\n")
    fields = {}
    for line in lines:
        name, _, value = line.partition(":")
        fields.setdefault(name.strip().lower(), []).append(value.strip())
    return int(status_line.split()[1]), fields, body


def only(fields, name):
    values = fields.get(name, [])
    assert len(values) <= 1, (name, values)
    return values[0] if values else None


def assert_protected_head(fields):
    assert only(fields, "x-vantoro-status") == "protected"
    assert only(fields, "etag") == 'W/"v1"'
    for dropped in ("last-modified", "accept-ranges", "content-md5", "digest", "content-digest",
                    "repr-digest", "content-range"):
        assert dropped not in fields
    assert only(fields, "cache-control") == "max-age=60"


def test_head_puts_no_body_on_the_wire(server):
    status, fields, body = exchange(server, "HEAD", "/page")
    assert status == 200
    assert body == b""
    assert_protected_head(fields)
    assert only(fields, "content-length") == server.head_length()
    assert "transfer-encoding" not in fields


def test_get_is_protected_with_its_length(server):
    status, fields, body = exchange(server, "GET", "/page")
    assert status == 200
    assert int(only(fields, "content-length")) == len(body)
    assert vantoro.is_protected(body) and body != wsgi_app.PAGE
    assert "版权所有".encode() in body
    assert all(text.encode() in body for text in wsgi_app.PARAGRAPHS)
    assert_protected_head(fields)


@pytest.mark.parametrize("name, byte_range", [
    ("Range", "bytes=0-"), ("Range", "bytes=5-40"), ("Range", "bytes=-10"),
    ("Range", "bytes=0-0,2-"),  # answered with multipart/byteranges
    ("Request-Range", "bytes=5-40")])
def test_a_range_request_gets_the_whole_protected_page(server, name, byte_range):
    status, fields, body = exchange(server, "GET", "/page", f"{name}: {byte_range}",
                                    'If-Range: "v1"')
    assert status == 200
    assert int(only(fields, "content-length")) == len(body)
    assert vantoro.is_protected(body)
    assert all(text.encode() in body for text in wsgi_app.PARAGRAPHS)
    assert_protected_head(fields)
    # The same for HEAD: neither the slice nor its length goes out.
    status, fields, body = exchange(server, "HEAD", "/page", f"{name}: {byte_range}")
    assert (status, body) == (200, b"")
    assert only(fields, "content-length") == server.head_length()


def test_other_slices_pass_unchanged(server):
    # A 206 the application sends unasked, and a range of a download.
    status, fields, body = exchange(server, "GET", "/own-206")
    assert (status, body) == (206, wsgi_app.OWN_SLICE)
    assert only(fields, "x-vantoro-status") == "status"
    status, fields, body = exchange(server, "GET", "/download", "Range: bytes=10-19")
    assert (status, body) == (206, wsgi_app.DOWNLOAD[10:20])
    assert only(fields, "content-range") == f"bytes 10-19/{len(wsgi_app.DOWNLOAD)}"
    assert only(fields, "x-vantoro-status") == "status"
    # Several ranges do not tell the resource's type: the whole is asked for, and passes.
    status, fields, body = exchange(server, "GET", "/download", "Range: bytes=0-0,2-")
    assert (status, body) == (200, wsgi_app.DOWNLOAD)
    assert only(fields, "x-vantoro-status") == "type"


def test_a_page_declaring_its_charset_in_meta_gets_its_notices_in_it(server):
    status, fields, body = exchange(server, "GET", "/gbk")
    assert status == 200 and only(fields, "x-vantoro-status") == "protected"
    assert "版权所有".encode("gbk") in body
    assert "版权所有".encode("utf-8") not in body
    assert "第二段".encode("gbk") in body
