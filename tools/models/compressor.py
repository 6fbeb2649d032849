#!/usr/bin/env python3
"""Independent model of the engine's byte compressor, used to produce test vectors.

Usage: compressor.py HEXBYTES  -> prints delta-rank, run-length and chain outputs in hex.
"""
import sys


def delta(b):
    out, prev = [], 0
    for x in b:
        out.append((x - prev) & 255)
        prev = x
    return out


def rank_encode(src):
    n = len(src)
    counts = [0] * 256
    for x in src:
        counts[x] += 1
    order = list(range(256))
    for i in range(255):
        for j in range(255, i, -1):
            if counts[order[i]] < counts[order[j]]:
                order[i], order[j] = order[j], order[i]
    rank = {v: r for r, v in enumerate(order)}
    top = next((r for r in range(19, 256) if counts[order[r]] == 0), 255)
    cls_area = [0] * (n // 4 + 1)
    bytes3, nibbles, bits = [], [], []
    for k, x in enumerate(src):
        r = rank[x]
        c = 0 if r == 0 else 1 if r < 3 else 2 if r < 19 else 3
        cls_area[k // 4] |= c << (2 * (k % 4))
        if c == 1:
            bits.append(r - 1)
        elif c == 2:
            nibbles.append(r - 3)
        elif c == 3:
            bytes3.append(r - 19)
    nib_area = [0] * (len(nibbles) // 2 + 1)
    for i, v in enumerate(nibbles):
        nib_area[i // 2] |= v << (4 * (i % 2))
    bit_area = [0] * (len(bits) // 8 + 1)
    for i, v in enumerate(bits):
        bit_area[i // 8] |= v << (i % 8)
    start = 14 + top
    nib_off = start + len(cls_area) + len(bytes3)
    bit_off = nib_off + len(nib_area)
    le = lambda v: [v & 255, (v >> 8) & 255, (v >> 16) & 255, (v >> 24) & 255]
    return le(n) + le(bit_off) + le(nib_off) + [top] + order[:top + 1] + cls_area + bytes3 + nib_area + bit_area


def rle(src):
    out = []
    n = len(src)
    if n < 3:
        return [n] + list(src)

    def lit(a, b):
        while a < b:
            ln = min(b - a, 127)
            out.append(ln)
            out.extend(src[a:a + ln])
            a += ln

    def runs(a, b):
        while a < b:
            rem = b - a
            ln = min(rem, 127)
            if rem - ln == 1:
                ln -= 1
            out.append((1 - ln) & 255)
            out.append(src[a])
            a += ln

    run, start = False, 0
    for p in range(2, n):
        three = src[p - 2] == src[p - 1] == src[p]
        if not run and three:
            lit(start, p - 2)
            run, start = True, p - 2
        elif run and not three:
            runs(start, p - 1)
            run, start = False, p - 1
    (runs if run else lit)(start, n)
    return out


def chain(src):
    return rank_encode(rle(rank_encode(delta(src))))


if __name__ == "__main__":
    data = list(bytes.fromhex(sys.argv[1])) if len(sys.argv) > 1 else []
    print("rank ", bytes(rank_encode(delta(data))).hex())
    print("rle  ", bytes(rle(data)).hex())
    print("chain", bytes(chain(data)).hex())
