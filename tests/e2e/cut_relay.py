#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 in front of an update server that cuts one
transfer once, at a known byte, or damages one byte of it.

  cut_relay.py PORT UPSTREAM_PORT PATH HOLD_AT FLAG
  cut_relay.py PORT UPSTREAM_PORT PATH HOLD_AT --damage

Every connection to PORT is relayed to UPSTREAM_PORT (nginx). The first
response to a request for PATH is passed on up to HOLD_AT bytes of its body
and then held: the relay writes FLAG.held (holding the body bytes passed on)
and waits for FLAG to exist (at most 60 s), then closes both sides: the
client sees the connection cut past HOLD_AT and resumes. With --damage the
body byte at HOLD_AT is flipped instead and the response goes on whole: the
client sees a complete answer with one wrong byte. Every other
connection, and every later one for PATH, is relayed as it is. One line per
connection goes to standard output.
"""
import os
import socket
import sys
import threading
import time

PORT, UPSTREAM, PATH, HOLD_AT, FLAG = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3].encode(), int(sys.argv[4]), sys.argv[5]
PIECE = 1 << 20
HOLD_LIMIT_S = 60
lock = threading.Lock()
cut_done = False


def take_cut():
    """True for the one response that is to be cut."""
    global cut_done
    with lock:
        if cut_done:
            return False
        cut_done = True
        return True


def pump(source, sink, done):
    try:
        while True:
            data = source.recv(PIECE)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        done.set()


def damage(upstream, client, done):
    """Relays the response with its body byte HOLD_AT flipped."""
    at = None  # the offset of the body's first byte in the bytes relayed
    seen = 0
    try:
        while True:
            data = bytearray(upstream.recv(PIECE))
            if not data:
                break
            if at is None:
                head = bytes(data)  # a head split over receives is not expected of nginx
                if b"\r\n\r\n" in head:
                    at = seen + head.index(b"\r\n\r\n") + 4
            if at is not None and seen <= at + HOLD_AT < seen + len(data):
                data[at + HOLD_AT - seen] ^= 0x40
                print("damaged body byte %d" % HOLD_AT, flush=True)
            seen += len(data)
            client.sendall(bytes(data))
    except OSError:
        pass
    done.wait()
    client.close(); upstream.close()


def relay(client):
    upstream = socket.create_connection(("127.0.0.1", UPSTREAM))
    request = client.recv(PIECE)
    if not request:
        client.close(); upstream.close(); return
    upstream.sendall(request)
    cut = PATH in request.split(b"\r\n", 1)[0] and take_cut()
    print("connection: %s%s" % (request.split(b"\r\n", 1)[0].decode(errors="replace"), " (to be cut)" if cut else ""), flush=True)
    done = threading.Event()
    threading.Thread(target=pump, args=(client, upstream, done), daemon=True).start()
    if not cut:
        pump(upstream, client, done)
        done.wait()
        client.close(); upstream.close()
        return
    if FLAG == "--damage":
        damage(upstream, client, done)
        return
    # The held response: its head, then the body up to HOLD_AT bytes.
    head = b""
    while b"\r\n\r\n" not in head:
        data = upstream.recv(PIECE)
        if not data:
            client.close(); upstream.close(); return
        head += data
    end = head.index(b"\r\n\r\n") + 4
    client.sendall(head[:end])
    body = head[end:]
    passed = 0
    while passed < HOLD_AT:
        if not body:
            body = upstream.recv(PIECE)
            if not body:
                break
        take = body[:HOLD_AT - passed]
        client.sendall(take)
        passed += len(take)
        body = body[len(take):]
    with open(FLAG + ".held", "w") as f:
        f.write(str(passed))
    print("held after %d body bytes" % passed, flush=True)
    deadline = time.time() + HOLD_LIMIT_S
    while not os.path.exists(FLAG) and time.time() < deadline:
        time.sleep(0.1)
    print("cut", flush=True)
    for s in (client, upstream):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        s.close()


def main():
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", PORT))
    server.listen(16)
    while True:
        client, _ = server.accept()
        threading.Thread(target=relay, args=(client,), daemon=True).start()


main()
