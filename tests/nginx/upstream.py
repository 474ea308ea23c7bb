"""A small upstream for the nginx tests: sends the pages of a folder the way the
query string asks.

GET /NAME?OPTIONS sends the file NAME of the folder. Options:
  chunks=1        chunked transfer encoding, one byte a chunk
  chunks=random   chunked, chunks of random sizes (1 to 700 bytes)
  nolength=1      no Content-Length: the body ends when the connection closes
  gzip=1          the body gzip-encoded, with Content-Encoding: gzip
  gzip=auto       the same, only when the request's Accept-Encoding has gzip
  ct=TYPE         the Content-Type (default text/html)
  cc=VALUE        a Cache-Control header
  csp=VALUE       a Content-Security-Policy header (may repeat)
  status=CODE     the status (404, 204 and 206 are sent as such servers send them)
  validators=1    an ETag, a Last-Modified and Accept-Ranges; 304 for a matching
                  If-None-Match
  ranges=1        honours "Range: bytes=FIRST-[LAST]" (or the older name
                  Request-Range) with a 206 of that slice, as static file
                  servers do
Every request's headers are kept for the tests (see last_request).
"""
import gzip
import http.server
import random
import threading
import time
import urllib.parse

ETAG = '"upstream-etag-1"'
LAST_MODIFIED = "Mon, 02 Mar 2026 10:00:00 GMT"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def serve(self, head):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        one = lambda key, default=None: query.get(key, [default])[0]
        self.server.requests.append((url.path, dict(self.headers.items())))

        name = url.path.lstrip("/")
        try:
            body = (self.server.folder / name).read_bytes()
        except OSError:
            body = None
        status = int(one("status", "200"))
        if body is None:
            status, body = 404, b"<html><body><p>no such page</p></body></html>"

        headers = [("Content-Type", one("ct", "text/html"))]
        for value in query.get("csp", []):
            headers.append(("Content-Security-Policy", value))
        if one("cc"):
            headers.append(("Cache-Control", one("cc")))
        if one("validators"):
            headers += [("ETag", ETAG), ("Last-Modified", LAST_MODIFIED),
                        ("Accept-Ranges", "bytes")]
            if self.headers.get("If-None-Match") == ETAG:
                self.send_response(304)
                for header in headers:
                    self.send_header(*header)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        if status == 204:
            self.send_response(204)
            self.end_headers()
            return
        if status == 206:
            body = body[:10]
            headers.append(("Content-Range", "bytes 0-9/%d" % len(body)))
        elif one("ranges") and (self.headers.get("Range") or
                                self.headers.get("Request-Range") or "").startswith("bytes="):
            ranges = self.headers.get("Range") or self.headers["Request-Range"]
            first, _, last = ranges[6:].partition("-")
            end = min(int(last) + 1 if last else len(body), len(body))
            headers.append(("Content-Range", "bytes %s-%d/%d" % (first, end - 1, len(body))))
            status, body = 206, body[int(first):end]
        encoding = one("gzip")
        if encoding == "1" or (encoding == "auto" and
                               "gzip" in self.headers.get("Accept-Encoding", "")):
            body = gzip.compress(body, mtime=0)
            headers.append(("Content-Encoding", "gzip"))

        self.send_response(status)
        for header in headers:
            self.send_header(*header)
        chunks = one("chunks")
        if chunks:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            if head:
                return
            rng = random.Random(len(body))
            at = 0
            while at < len(body):
                size = 1 if chunks == "1" else rng.randint(1, 700)
                piece = body[at:at + size]
                at += size
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                # now and then a pause, so that nginx reads the chunks apart
                if rng.random() < 0.05:
                    self.wfile.flush()
                    time.sleep(0.001)
            self.wfile.write(b"0\r\n\r\n")
        elif one("nolength"):
            self.send_header("Connection", "close")
            self.end_headers()
            if not head:
                self.wfile.write(body)
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)


class Upstream:
    def __init__(self, folder):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.server.folder = folder
        self.server.requests = []
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def last_request(self):
        return self.server.requests[-1]

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
