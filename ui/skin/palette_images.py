#!/usr/bin/env python3
"""Rewrites skin images of few colours in palette form, with the same pixels:

- a 24-bit BMP of 256 colours or fewer becomes a palette BMP of the smallest
  depth that holds them (1, 4 or 8 bits per pixel): the 312 x 15 bar of 15
  colours takes 2.4 KB instead of 14 KB in the executable;
- a cursor (.cur) whose one 32-bit frame is fully opaque or fully clear in
  every pixel, with 15 opaque colours or fewer, becomes a 4-bit frame whose
  mask cuts out the clear pixels (0.8 KB instead of 4.2 KB).

Anything else is left as it is.

    palette_images.py FILE...   (in place)
"""
import struct
import sys


def pack_rows(rows, index, depth, stride):
    """Palette indices, `depth` bits each, high bits first; rows padded to `stride`."""
    out = bytearray()
    for row in rows:
        bits = bytearray(stride)
        for x, colour in enumerate(row):
            bit = x * depth
            bits[bit // 8] |= index[colour] << (8 - depth - bit % 8)
        out += bits
    return bytes(out)


def palette_bmp(data):
    if data[:2] != b"BM":
        return None
    offset, = struct.unpack_from("<I", data, 10)
    size, width, height, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
    if size != 40 or bpp != 24 or compression != 0 or planes != 1:
        return None
    stride = (width * 3 + 3) & ~3
    rows = [[bytes(data[offset + y * stride + 3 * x:offset + y * stride + 3 * x + 3]) for x in range(width)]
            for y in range(abs(height))]  # file order; each colour as B, G, R
    colours = sorted({c for row in rows for c in row})
    if len(colours) > 256:
        return None
    depth = 1 if len(colours) <= 2 else 4 if len(colours) <= 16 else 8
    pixels = pack_rows(rows, {c: i for i, c in enumerate(colours)}, depth, ((width * depth + 31) // 32) * 4)
    palette = b"".join(c + b"\0" for c in colours)
    offset = 14 + 40 + len(palette)
    return (struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, depth, 0, len(pixels), 2835, 2835,
                        len(colours), len(colours)) + palette + pixels)


def palette_cursor(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 2 or count != 1:
        return None
    w, h, _, _, hot_x, hot_y, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
    header_size, width, height, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, offset)
    if header_size != 40 or bpp != 32 or compression != 0 or height != 2 * width:
        return None
    side = width
    start = offset + 40
    rows = []  # bottom-up, as stored; None for a clear pixel
    for y in range(side):
        row = []
        for x in range(side):
            b, g, r, a = data[start + 4 * (y * side + x):start + 4 * (y * side + x) + 4]
            if a not in (0, 255):
                return None
            row.append(bytes((b, g, r)) if a == 255 else None)
        rows.append(row)
    clear = bytes(3)  # the colour under the mask: black, so the screen shows through unchanged
    colours = [clear] + sorted({c for row in rows for c in row if c is not None and c != clear})
    if len(colours) > 16:
        return None
    index = {c: i for i, c in enumerate(colours)}
    xor = pack_rows([[clear if c is None else c for c in row] for row in rows], index, 4,
                    ((side * 4 + 31) // 32) * 4)
    mask = pack_rows([[c is None for c in row] for row in rows], {False: 0, True: 1}, 1,
                     ((side + 31) // 32) * 4)
    palette = b"".join(c + b"\0" for c in colours) + bytes(4 * (16 - len(colours)))
    frame = (struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0) +
             palette + xor + mask)
    return (struct.pack("<HHH", 0, 2, 1) +
            struct.pack("<BBBBHHII", w, h, 16, 0, hot_x, hot_y, len(frame), 6 + 16) + frame)


def main(paths):
    for path in paths:
        data = open(path, "rb").read()
        rewritten = palette_cursor(data) if path.lower().endswith(".cur") else palette_bmp(data)
        if rewritten is not None:
            open(path, "wb").write(rewritten)


if __name__ == "__main__":
    main(sys.argv[1:])
