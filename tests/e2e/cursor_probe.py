#!/usr/bin/env python3
"""The mouse pointer as the X server shows it now (XFixes), for the window
end-to-end tests. Prints one line saying what it saw; exits 0 when the probe
holds, 1 when it does not.

  is  W H HOTX HOTY R G B MIN   pointer of W x H with that hot spot and at
                                least MIN opaque pixels within 40 of (R,G,B)
  not R G B                     no opaque pixel within 40 of (R,G,B)
"""
import ctypes
import ctypes.util
import sys


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong),
                ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def current_cursor():
    xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
    xfixes = ctypes.CDLL(ctypes.util.find_library("Xfixes"))
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(None)
    if not display:
        raise SystemExit("cannot open the display")
    image = xfixes.XFixesGetCursorImage(display)
    if not image:
        raise SystemExit("no cursor image")
    c = image.contents
    # ARGB, one per unsigned long.
    pixels = [c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height)]
    return c.width, c.height, c.xhot, c.yhot, pixels


def near_count(pixels, rgb):
    n = 0
    for p in pixels:
        a, r, g, b = p >> 24, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF
        if a > 200 and all(abs(x - y) <= 40 for x, y in zip((r, g, b), rgb)):
            n += 1
    return n


def main(argv):
    w, h, hx, hy, pixels = current_cursor()
    if argv[1] == "is":
        want_w, want_h, want_hx, want_hy, r, g, b, minimum = map(int, argv[2:10])
        n = near_count(pixels, (r, g, b))
        print("pointer %dx%d hot (%d,%d), %d pixels near (%d,%d,%d); want %dx%d hot (%d,%d), >= %d"
              % (w, h, hx, hy, n, r, g, b, want_w, want_h, want_hx, want_hy, minimum))
        return 0 if (w, h, hx, hy) == (want_w, want_h, want_hx, want_hy) and n >= minimum else 1
    if argv[1] == "not":
        r, g, b = map(int, argv[2:5])
        n = near_count(pixels, (r, g, b))
        print("pointer %dx%d hot (%d,%d), %d pixels near (%d,%d,%d); want none" % (w, h, hx, hy, n, r, g, b))
        return 0 if n == 0 else 1
    raise SystemExit("unknown probe " + argv[1])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
