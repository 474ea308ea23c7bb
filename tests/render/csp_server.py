#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 under a Content-Security-Policy that takes styles
only from the site's own stylesheets, as a strict site would: inline style
attributes and <style> elements then do nothing.

Usage: csp_server.py ROOT PORT_FILE [SECONDS]
Picks a free port and writes it to PORT_FILE once it listens; stops by itself
after SECONDS (default 900), so a test that dies leaves no server behind.
"""
import functools
import http.server
import os
import sys
import threading

POLICY = "style-src 'self'"


class Handler(http.server.SimpleHTTPRequestHandler):
    # The pages are UTF-8; say so, so that no guess of the charset can differ
    # between an original and its protected copy.
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".html": "text/html; charset=utf-8",
        ".css": "text/css",
    }

    def end_headers(self):
        self.send_header("Content-Security-Policy", POLICY)
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, format, *args):
        pass


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    root, port_file = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) == 4 else 900
    handler = functools.partial(Handler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    timer = threading.Timer(seconds, server.shutdown)
    timer.daemon = True
    timer.start()
    # Written whole, then renamed, so a reader never sees half a number.
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
