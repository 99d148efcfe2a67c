#!/usr/bin/env python3
"""Rewrites an icon file so that its frames are stored PNG-compressed
(Windows reads that at every size since Vista): uncompressed 32-bit frames
of 128 and 64 pixels alone weigh 80 KB in the executable, and the 32 and 16
pixel ones shrink from 5.4 KB to 2.3 KB.

    ico_png_frames.py ICO   (in place; needs ImageMagick's convert)
"""
import struct
import subprocess
import sys

PNG_FROM = 16


def main(path):
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        sys.exit("%s: not an icon file" % path)
    frames = []
    for i in range(count):
        w, h, colors, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        body = data[offset:offset + size]
        side = w or 256
        if side >= PNG_FROM and not body.startswith(b"\x89PNG"):
            body = subprocess.run(["/usr/bin/convert", "%s[%d]" % (path, i), "-strip", "png32:-"],
                                  check=True, stdout=subprocess.PIPE).stdout
        frames.append((w, h, colors, planes, bpp, body))
    out = bytearray(struct.pack("<HHH", 0, 1, count))
    offset = 6 + 16 * count
    for w, h, colors, planes, bpp, body in frames:
        out += struct.pack("<BBBBHHII", w, h, colors, 0, planes or 1, bpp or 32, len(body), offset)
        offset += len(body)
    for frame in frames:
        out += frame[5]
    open(path, "wb").write(bytes(out))


if __name__ == "__main__":
    main(sys.argv[1])
