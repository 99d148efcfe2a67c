#!/usr/bin/env python3
"""The peer of bench/latency's capped case: a reader that takes exactly the
cap, to show how evenly a relay can count a capped download at all.

  capped_reader.py PORT BYTES_PER_SECOND SECONDS PATH...

Opens one connection per PATH on 127.0.0.1:PORT, asks for it, and reads
the answers for SECONDS through one token bucket shared by all of them,
shaped as the updater's (a quarter second of burst, grants of at least
1 KiB), in receives of at most what the bucket grants. Prints the worst
second of its own reading ("reader: worst second X % off") so the relay's
count can be set beside it.
"""
import bisect
import socket
import sys
import threading
import time

BURST_S = 0.25
MIN_GRANT = 1024
PIECE = 65536


class Bucket:
    def __init__(self, rate):
        self.rate = rate
        self.tokens = 0.0
        self.at = time.monotonic()
        self.lock = threading.Lock()

    def take(self, wanted):
        while True:
            with self.lock:
                now = time.monotonic()
                self.tokens = min(self.rate * BURST_S, self.tokens + (now - self.at) * self.rate)
                self.at = now
                if self.tokens >= MIN_GRANT:
                    granted = int(min(wanted, self.tokens))
                    self.tokens -= granted
                    return granted
                wait = (MIN_GRANT - self.tokens) / self.rate
            time.sleep(max(wait, 0.001))

    def refund(self, count):
        with self.lock:
            self.tokens += count


def main():
    port, rate, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    paths = sys.argv[4:]
    bucket = Bucket(rate)
    total = [0]
    samples = []
    failed = []
    end = time.monotonic() + seconds

    def read(path):
        first = True
        with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
            sock.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path.encode())
            while time.monotonic() < end:
                granted = bucket.take(PIECE)
                data = sock.recv(granted)
                if not data:
                    return
                if first:
                    first = False
                    if not data.startswith(b"HTTP/1.1 200"):
                        failed.append(path)
                        return
                bucket.refund(granted - len(data))
                with bucket.lock:
                    total[0] += len(data)

    threads = [threading.Thread(target=read, args=(p,)) for p in paths]
    for t in threads:
        t.start()
    while time.monotonic() < end:
        samples.append((time.monotonic(), total[0]))
        time.sleep(0.01)
    for t in threads:
        t.join()
    if failed:
        sys.exit("reader: no 200 for " + " ".join(failed))
    # Whole seconds from the third on (the first fills the kernel's buffers):
    # the count at the last sample of each second's end.
    times = [t for t, _ in samples]

    def count_at(t):
        return samples[bisect.bisect_right(times, t) - 1][1]

    start = times[0]
    per = [count_at(start + 3 + k) - count_at(start + 2 + k) for k in range(int(times[-1] - start) - 2)]
    worst = max(abs(p - rate) / rate for p in per) if per else 0.0
    print("reader: %d s read, worst second %.1f %% off" % (len(per), worst * 100))


if __name__ == "__main__":
    main()
