#!/usr/bin/env python3
"""Pixel probes on screenshots for the window end-to-end tests.

Images are read as binary PPM (P6); the shell script converts screenshots and
skin images with ImageMagick first. Every command prints one line saying what
it saw and exits 0 when the probe holds, 1 when it does not.

  color  IMG X Y R G B TOL            pixel within TOL of (R,G,B) per channel
  match  IMG X Y REF RX RY TOL        pixel within TOL of REF's pixel (RX,RY)
  differ IMG X Y REF RX RY MIN        pixel differs from REF's by more than MIN
  count  IMG X Y W H R G B TOL MIN    at least MIN pixels of the area near (R,G,B)
  none   IMG X Y W H R G B TOL           no pixel of the area near (R,G,B)
  same   IMG OTHER X Y W H TOL        the area equal in both images within TOL
  grey   IMG X Y MAXSPREAD            pixel nearly colourless (max-min channel)
"""
import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise SystemExit("%s: not an 8-bit P6 image" % path)
    return int(fields[1]), int(fields[2]), data[pos + 1:]


class Image:
    def __init__(self, path):
        self.path = path
        self.width, self.height, self.pixels = read_ppm(path)

    def at(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise SystemExit("%s: (%d,%d) outside %dx%d" % (self.path, x, y, self.width, self.height))
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])


def near(a, b, tol):
    return all(abs(p - q) <= tol for p, q in zip(a, b))


def main(argv):
    cmd, args = argv[1], argv[2:]
    img = Image(args[0])
    if cmd == "color":
        x, y, r, g, b, tol = map(int, args[1:7])
        got = img.at(x, y)
        ok = near(got, (r, g, b), tol)
        print("pixel (%d,%d) = %s, want %s +-%d" % (x, y, got, (r, g, b), tol))
    elif cmd in ("match", "differ"):
        x, y = int(args[1]), int(args[2])
        ref = Image(args[3])
        rx, ry, limit = int(args[4]), int(args[5]), int(args[6])
        got, want = img.at(x, y), ref.at(rx, ry)
        if cmd == "match":
            ok = near(got, want, limit)
            print("pixel (%d,%d) = %s, reference %s +-%d" % (x, y, got, want, limit))
        else:
            ok = not near(got, want, limit)
            print("pixel (%d,%d) = %s, must differ from %s by > %d" % (x, y, got, want, limit))
    elif cmd == "count":
        x, y, w, h, r, g, b, tol, minimum = map(int, args[1:10])
        n = sum(1 for yy in range(y, y + h) for xx in range(x, x + w) if near(img.at(xx, yy), (r, g, b), tol))
        ok = n >= minimum
        print("%d pixels near %s in %dx%d+%d+%d, want >= %d" % (n, (r, g, b), w, h, x, y, minimum))
    elif cmd == "none":
        x, y, w, h, r, g, b, tol = map(int, args[1:9])
        n = sum(1 for yy in range(y, y + h) for xx in range(x, x + w) if near(img.at(xx, yy), (r, g, b), tol))
        ok = n == 0
        print("%d pixels near %s in %dx%d+%d+%d, want none" % (n, (r, g, b), w, h, x, y))
    elif cmd == "same":
        other = Image(args[1])
        x, y, w, h, tol = map(int, args[2:7])
        bad = [(xx, yy) for yy in range(y, y + h) for xx in range(x, x + w)
               if not near(img.at(xx, yy), other.at(xx, yy), tol)]
        ok = not bad
        print("%d of %d pixels differ in %dx%d+%d+%d" % (len(bad), w * h, w, h, x, y))
    elif cmd == "grey":
        x, y, spread = map(int, args[1:4])
        got = img.at(x, y)
        ok = max(got) - min(got) <= spread
        print("pixel (%d,%d) = %s, channel spread <= %d" % (x, y, got, spread))
    else:
        raise SystemExit("unknown probe " + cmd)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
