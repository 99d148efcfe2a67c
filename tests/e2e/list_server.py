#!/usr/bin/env python3
"""A misbehaving list server for the end-to-end tests, on 127.0.0.1 only.

list_server.py PORT MODE REQUEST_FILE [BODY_FILE]
  cut     answers 200 with a Content-Length larger than the body it sends,
          then closes: a list cut short part-way
  silent  accepts, reads the request and never answers
  trickle sends the answer's head one byte every 2 s, then the body: a head
          that no single receive wait ever runs out on
  drip    sends the head at once, then the body 64 bytes every 0.25 s
          (256 bytes a second, enough for a rule that only asks for 4 KiB in
          every 20 s)
Every connection's request bytes are appended to REQUEST_FILE. The server
ends by itself after 120 s, so no test can hang on it.
"""
import socket
import sys
import threading
import time

LIFETIME_S = 120
TRICKLE_PAUSE_S = 2
DRIP_BYTES = 64
DRIP_PAUSE_S = 0.25


def serve(conn, mode, request_file, body):
    conn.settimeout(5)
    data = b""
    try:
        while b"\r\n\r\n" not in data and len(data) < 65536:
            part = conn.recv(4096)
            if not part:
                break
            data += part
    except OSError:
        pass
    with open(request_file, "ab") as f:
        f.write(data)
    if mode == "cut":
        head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % (len(body) + 500)
        try:
            conn.sendall(head + body)
        except OSError:
            pass
        conn.close()
    elif mode == "trickle":
        head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
        end = time.time() + LIFETIME_S
        try:
            for byte in head:
                if time.time() >= end:
                    break
                conn.sendall(bytes([byte]))
                time.sleep(TRICKLE_PAUSE_S)
            conn.sendall(body)
        except OSError:
            pass
        conn.close()
    elif mode == "drip":
        head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
        end = time.time() + LIFETIME_S
        try:
            conn.sendall(head)
            for at in range(0, len(body), DRIP_BYTES):
                if time.time() >= end:
                    break
                conn.sendall(body[at:at + DRIP_BYTES])
                time.sleep(DRIP_PAUSE_S)
        except OSError:
            pass
        conn.close()
    else:  # silent: hold the connection until the client gives up
        end = time.time() + LIFETIME_S
        try:
            while time.time() < end and conn.recv(4096):
                pass
        except OSError:
            pass
        conn.close()


def main():
    port, mode, request_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    body = open(sys.argv[4], "rb").read() if len(sys.argv) > 4 else b""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    listener.settimeout(1)
    end = time.time() + LIFETIME_S
    while time.time() < end:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn, mode, request_file, body), daemon=True).start()
    listener.close()


if __name__ == "__main__":
    main()
