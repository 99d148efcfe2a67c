#!/usr/bin/env python3
"""Files an attacker on the network path would send: other bytes with the
same 32-bit checksum (the list's), for the end-to-end tests of the signed
list, which must refuse them by their size and SHA-256.

  forge.py twobytes FILE OUT          FILE with byte k raised by 31 and byte
                                      k+1 lowered by 1: same size, same checksum
  forge.py mimic PROGRAM TARGET OUT   PROGRAM padded with zeros to TARGET's size,
                                      its last 7 bytes chosen to give TARGET's
                                      checksum (a program still runs with bytes
                                      appended to its image)
  forge.py checksum FILE              the checksum, as the list writes it

The checksum is h = sum over k of (b[k] + 1) * 31^k (mod 2^32), signed.
"""
import sys

MOD = 1 << 32
DIGITS = 7  # 31^7 > 2^32: seven base-31 digits reach every value


def checksum(data):
    h, weight = 0, 1
    for b in data:
        h = (h + (b + 1) * weight) % MOD
        weight = weight * 31 % MOD
    return h


def signed(h):
    return h - MOD if h >= 1 << 31 else h


def two_bytes(data):
    data = bytearray(data)
    for k in range(len(data) // 2, len(data) - 1):
        if data[k] <= 255 - 31 and data[k + 1] >= 1:
            data[k] += 31
            data[k + 1] -= 1
            return bytes(data)
    sys.exit("no pair of bytes to change")


def mimic(program, target):
    size = len(target)
    if len(program) + DIGITS > size:
        sys.exit("the program is too large to take the target's size")
    out = bytearray(program) + bytes(size - len(program))
    need = (checksum(target) - checksum(out)) % MOD
    # Raising byte k by d adds d * 31^k: solve for the last DIGITS bytes.
    k = size - DIGITS
    e = need * pow(pow(31, k, MOD), -1, MOD) % MOD
    for j in range(DIGITS):
        out[k + j] = e % 31
        e //= 31
    assert checksum(out) == checksum(target)
    return bytes(out)


def main():
    command = sys.argv[1:2]
    if command == ["twobytes"] and len(sys.argv) == 4:
        data = open(sys.argv[2], "rb").read()
        forged = two_bytes(data)
        assert checksum(forged) == checksum(data) and forged != data
        open(sys.argv[3], "wb").write(forged)
    elif command == ["mimic"] and len(sys.argv) == 5:
        open(sys.argv[4], "wb").write(mimic(open(sys.argv[2], "rb").read(), open(sys.argv[3], "rb").read()))
    elif command == ["checksum"] and len(sys.argv) == 3:
        print(signed(checksum(open(sys.argv[2], "rb").read())))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
