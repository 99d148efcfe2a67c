#!/usr/bin/env python3
"""A long link on 127.0.0.1 for the benches: a TCP relay that adds a round
trip and caps the rate (this kernel has no netem).

  relay.py LISTEN_PORT TARGET_PORT RTT_MS RATE_MBIT [CLOSE_EVERY]

With CLOSE_EVERY, the connection that carries every CLOSE_EVERY-th request
(counted over all connections) ends right after the answer to that request:
requests sent after it on that connection go unanswered, as with a server
that limits the requests per connection.

Every byte takes RTT_MS / 2 each way. Each direction is one link of
RATE_MBIT megabits per second shared by every connection, as a player's
line is: bytes queue behind the link and leave it at its rate, then travel
for the one-way delay. Per connection and direction at most QUEUE_CHUNKS
chunks wait, so the sender feels the link (TCP flow control) instead of the
relay buffering a whole file. Runs until killed. With RELAY_COUNT=FILE
in the environment, the bytes delivered toward the clients are written
there every 100 ms as "SECONDS TOTAL" lines (monotonic clock): the bytes
that have left the relay's sockets, not those still waiting in its own
write buffers or the sockets' send buffers (which take megabytes while a
client reads slowly, and whose writes then come in bursts that the line
never carried).
"""
import asyncio
import fcntl
import os
import struct
import sys
import termios
import time

# RELAY_CHUNK in the environment sets the read size: a slow line needs
# small ones, or each connection waits for the others' whole chunks.
CHUNK = int(os.environ.get("RELAY_CHUNK", "65536"))
QUEUE_CHUNKS = 16
CONNECT_TIMEOUT_S = 10


class Link:
    """One direction's bottleneck: when the next byte may leave."""

    def __init__(self, bytes_per_second):
        self.rate = bytes_per_second
        self.free_at = 0.0

    def passed(self, size, now):
        start = max(now, self.free_at)
        self.free_at = start + size / self.rate
        return self.free_at


DELIVERED = [0]
COUNTED = {}  # socket -> its transport, for the bytes not sent yet


def unsent(sock):
    """Bytes written to a TCP socket that it has not sent yet (SIOCOUTQ)."""
    try:
        return struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
    except (OSError, ValueError):
        return 0


async def count_to(path):
    with open(path, "w") as out:
        while True:
            waiting = sum(unsent(s) + t.get_write_buffer_size() for s, t in list(COUNTED.items()))
            out.write("%.3f %d\n" % (time.monotonic(), DELIVERED[0] - waiting))
            out.flush()
            await asyncio.sleep(0.1)


class Answers:
    """Counts the answers in a server's byte stream (Content-Length framed)
    and cuts the stream after the answer numbered `last` (1-based)."""

    def __init__(self):
        self.head = b""
        self.body_left = 0
        self.count = 0
        self.last = None

    def cut(self, data):
        """The part of `data` to forward, and whether the stream ends there."""
        at = 0
        while at < len(data):
            if self.body_left > 0:
                take = min(self.body_left, len(data) - at)
                self.body_left -= take
                at += take
                if self.body_left == 0 and self.count == self.last:
                    return data[:at], True
                continue
            self.head += data[at:at + 1]
            at += 1
            if self.head.endswith(b"\r\n\r\n"):
                length = 0
                for line in self.head.split(b"\r\n"):
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":", 1)[1])
                self.head = b""
                self.count += 1
                self.body_left = length
                if length == 0 and self.count == self.last:
                    return data[:at], True
        return data, False


async def pump(reader, writer, link, one_way, on_data=None, counted=False):
    queue = asyncio.Queue(QUEUE_CHUNKS)

    async def receive():
        while True:
            data = await reader.read(CHUNK)
            end = False
            if on_data is not None and data:
                data, end = on_data(data)
            if end:
                await queue.put((link.passed(len(data), time.monotonic()) + one_way, data))
                data = b""
            arrival = link.passed(len(data), time.monotonic()) + one_way
            await queue.put((arrival, data))
            if not data:
                return

    async def deliver():
        while True:
            arrival, data = await queue.get()
            wait = arrival - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            if counted:
                DELIVERED[0] += len(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), deliver())
    except (ConnectionError, OSError):
        pass


async def main():
    listen_port, target_port = int(sys.argv[1]), int(sys.argv[2])
    one_way = float(sys.argv[3]) / 2000.0
    rate = float(sys.argv[4]) * 1e6 / 8
    up, down = Link(rate), Link(rate)
    close_every = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    requests = [0]

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.wait_for(
                asyncio.open_connection("127.0.0.1", target_port), CONNECT_TIMEOUT_S)
        except (OSError, asyncio.TimeoutError):
            client_writer.close()
            return
        # The connection itself takes a round trip, as its handshake would.
        await asyncio.sleep(2 * one_way)
        answers = Answers()
        asked = [0]

        def count_requests(data):
            if close_every and answers.last is None:
                for _ in range(data.count(b"GET ")):
                    asked[0] += 1
                    requests[0] += 1
                    if requests[0] % close_every == 0:
                        answers.last = asked[0]
                        break
            return data, False

        counted_socket = client_writer.get_extra_info("socket")
        if os.environ.get("RELAY_COUNT") and counted_socket is not None:
            COUNTED[counted_socket] = client_writer.transport
        if close_every:
            down_pump = pump(server_reader, client_writer, down, one_way, answers.cut, counted=True)
        else:
            down_pump = pump(server_reader, client_writer, down, one_way, counted=True)
        up_pump = pump(client_reader, server_writer, up, one_way, count_requests)
        down_task = asyncio.ensure_future(down_pump)
        up_task = asyncio.ensure_future(up_pump)
        await down_task
        up_task.cancel()
        COUNTED.pop(counted_socket, None)
        for w in (client_writer, server_writer):
            w.close()

    if os.environ.get("RELAY_COUNT"):
        asyncio.ensure_future(count_to(os.environ["RELAY_COUNT"]))
    server = await asyncio.start_server(serve, "127.0.0.1", listen_port, reuse_address=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
