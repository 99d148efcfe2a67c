#!/usr/bin/env python3
"""An update server for the end-to-end tests that stops part-way through one
file, so that the updater's progress display can be looked at in a known
state.

  stall_server.py ROOT PORT STALL_URI STALL_AT RELEASE_FILE

Serves the files under ROOT on 127.0.0.1:PORT (GET, 200, no ranges; URIs
are percent-decoded UTF-8). For STALL_URI it sends the head and the first
STALL_AT bytes of the body in one write, creates RELEASE_FILE + ".stalled",
then waits until RELEASE_FILE exists (at most 120 s) before the rest. Every
other file under patch/ but the list waits for RELEASE_FILE before its
answer too, so that an updater fetching several files at once has finished
none of them while the stalled one is looked at. Each request is logged to
stdout as "URI STATUS".
"""
import os
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT, PORT, STALL_URI, STALL_AT, RELEASE = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5]
MAX_STALL_SECONDS = 120


def wait_for_release():
    deadline = time.time() + MAX_STALL_SECONDS
    while not os.path.exists(RELEASE) and time.time() < deadline:
        time.sleep(0.1)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = os.path.join(ROOT, urllib.parse.unquote(self.path.split("?")[0]).lstrip("/"))
        real = os.path.realpath(path)
        if not real.startswith(os.path.realpath(ROOT) + os.sep) or not os.path.isfile(real):
            print(self.path, 404, flush=True)
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            return
        with open(real, "rb") as f:
            body = f.read()
        print(self.path, 200, flush=True)
        if self.path != STALL_URI and self.path.startswith("/patch/") and not self.path.endswith("/filelist.txt"):
            wait_for_release()
        head = ("HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)).encode()
        if self.path != STALL_URI:
            self.wfile.write(head + body)
            return
        self.wfile.write(head + body[:STALL_AT])
        self.wfile.flush()
        open(RELEASE + ".stalled", "w").close()
        wait_for_release()
        self.wfile.write(body[STALL_AT:])


ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
