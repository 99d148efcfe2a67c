#!/usr/bin/env python3
"""A static update server on 127.0.0.1 that plays scripted faults.

Serves ROOT like the nginx of the other tests (200, or 206 for
"Range: bytes=N-", 416 past the end) and writes one access-log line per
request in the same form: URI, status, "Range header", body bytes sent.

FAULTS is a JSON file: {"/patch/528/a.bin": [fault, ...], ...}. Each request
for a path takes the next fault of its list; when the list is used up the
path is served normally. A fault is {"cut": N} (answer as usual, but close the
connection once the body reaches byte N of the file), {"cut": N, "garble":
true} (the same with every byte sent changed: a mirror that sends wrong
bytes), {"trickle": [BYTES, SECONDS]} (the body BYTES at a time, one piece
every SECONDS, for at most MAX_TRICKLE_SECONDS) or {"status": 503}. Every
answer carries "Connection: close": the server closes after each response.
Every request is served within its own bounded time (socket time-out 30 s).
"""
import json
import os
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT, PORT, FAULTS, LOG = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
lock = threading.Lock()
MAX_TRICKLE_SECONDS = 150
with open(FAULTS, encoding="utf-8") as f:
    faults = {path: list(steps) for path, steps in json.load(f).items()}


def next_fault(path):
    with lock:
        steps = faults.get(path)
        return steps.pop(0) if steps else None


def log(uri, status, range_header, sent):
    with lock, open(LOG, "a", encoding="utf-8") as f:
        f.write('%s %d "%s" %d\n' % (uri, status, range_header or "-", sent))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30

    def log_message(self, *args):
        pass

    def answer(self, status, headers, body=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def do_GET(self):
        uri = self.path
        path = urllib.parse.unquote(urllib.parse.urlsplit(uri).path)
        range_header = self.headers.get("Range")
        fault = next_fault(path)
        if fault and "status" in fault:
            body = b"busy"
            self.answer(fault["status"], [("Content-Length", str(len(body)))], body)
            log(uri, fault["status"], range_header, len(body))
            return
        local = os.path.join(ROOT, path.lstrip("/"))
        if not os.path.isfile(local):
            self.answer(404, [("Content-Length", "0")])
            log(uri, 404, range_header, 0)
            return
        with open(local, "rb") as f:
            data = f.read()
        start = 0
        if range_header and range_header.startswith("bytes=") and range_header.endswith("-"):
            start = int(range_header[6:-1])
            if start >= len(data):
                self.answer(416, [("Content-Range", "bytes */%d" % len(data)), ("Content-Length", "0")])
                log(uri, 416, range_header, 0)
                return
        status = 206 if range_header else 200
        headers = [("Content-Length", str(len(data) - start)), ("Content-Type", "application/octet-stream")]
        if status == 206:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data))))
        end = len(data)
        if fault and "cut" in fault:
            end = max(start, min(end, fault["cut"]))
        body = data[start:end]
        if fault and fault.get("garble"):
            body = bytes(b ^ 0x5A for b in body)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        if fault and "trickle" in fault:
            end = start + self.trickle(body, *fault["trickle"])
        else:
            self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True
        if end < len(data):
            # Cut: the connection ends before the announced length.
            self.connection.shutdown(socket.SHUT_RDWR)
        log(uri, status, range_header, end - start)

    def trickle(self, body, piece, seconds):
        """Sends the body a piece at a time; the bytes sent."""
        sent = 0
        deadline = time.time() + MAX_TRICKLE_SECONDS
        try:
            while sent < len(body) and time.time() < deadline:
                self.wfile.write(body[sent:sent + piece])
                self.wfile.flush()
                sent += len(body[sent:sent + piece])
                time.sleep(seconds)
        except OSError:
            pass  # the client went away
        return sent


ThreadingHTTPServer.allow_reuse_address = True
server = ThreadingHTTPServer(("127.0.0.1", PORT), Handler)
server.daemon_threads = True
server.serve_forever()
