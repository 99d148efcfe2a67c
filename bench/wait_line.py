#!/usr/bin/env python3
"""wait_line.py FILE TEXT SECONDS: waits until FILE holds TEXT, reading only
the bytes added since the last look, every 20 ms, in this one process: a
shell loop that starts grep and sleep 50 times a second takes CPU from the
program it times (on two cores the updater ran a tenth slower under one).
Exits 0 once found, 1 after SECONDS without it."""
import os
import sys
import time


def main():
    path, text, limit = sys.argv[1], sys.argv[2].encode(), float(sys.argv[3])
    deadline = time.monotonic() + limit
    seen = 0
    carry = b""  # the last bytes read, for a text split across two reads
    while time.monotonic() < deadline:
        try:
            size = os.stat(path).st_size
        except OSError:
            size = 0
        if size < seen:  # cut or rewritten: read it again from the start
            seen, carry = 0, b""
        if size > seen:
            with open(path, "rb") as f:
                f.seek(seen)
                added = f.read(size - seen)
            seen += len(added)
            if text in carry + added:
                return 0
            carry = (carry + added)[-len(text):]
        time.sleep(0.02)
    return 1


if __name__ == "__main__":
    sys.exit(main())
