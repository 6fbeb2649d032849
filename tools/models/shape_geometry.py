#!/usr/bin/env python3
"""Independent model of the shape geometry used for test values: local-to-parent mapping,
turning about the centre, grouped child layout along one axis and the rotated buffer size.

Run it to print the values the shape tests expect.
"""
import math
import struct


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def local_to_parent(angle, left, top, x, y):
    c, s = f32(math.cos(math.radians(angle))), f32(math.sin(math.radians(angle)))
    return c * x + s * y + left, -s * x + c * y + top


def rotate_about_centre(left, top, w, h, old, new):
    c, s = math.cos(math.radians(old)), math.sin(math.radians(old))
    c2, s2 = math.cos(math.radians(new)), math.sin(math.radians(new))
    hw, hh = w / 2, h / 2
    return (left + (hw * c + hh * s) - (hw * c2 + hh * s2),
            top + (-hw * s + hh * c) - (-hw * s2 + hh * c2))


def layout_axis(pos, size, old, new, prop_pos, prop_size, low_lock):
    ratio = new / old
    out = size
    if prop_pos:
        if prop_size:
            out = size * ratio
        return (pos + size / 2) * ratio - out / 2, out
    if low_lock:
        return pos, size * ratio if prop_size else size
    if prop_size:
        out = size * ratio
    return pos + size - out, out


def round_half_even(x):
    return int(round(x))


def buffer_size(w, h, angle, dpm):
    c, s = f32(math.cos(math.radians(angle))), f32(math.sin(math.radians(angle)))
    xs, ys = [], []
    for x, y in ((0, 0), (w, 0), (0, h), (w, h)):
        xs.append(f32(dpm * (c * x + s * y)))
        ys.append(f32(dpm * (-s * x + c * y)))
    return round_half_even(max(xs) - min(xs) + 0.5), round_half_even(max(ys) - min(ys) + 0.5)


if __name__ == '__main__':
    print('rotate 10,20 40x20 to 30:', rotate_about_centre(10, 20, 40, 20, 0, 30))
    print('centre after:', local_to_parent(30, *rotate_about_centre(10, 20, 40, 20, 0, 30), 20, 10))
    print('grouped default, resizable:', layout_axis(10, 20, 100, 200, True, True, False))
    print('grouped default, fixed size:', layout_axis(10, 20, 100, 200, True, False, False))
    print('no flags:', layout_axis(10, 20, 100, 200, False, False, False))
    print('size prop only:', layout_axis(10, 20, 100, 200, False, True, False))
    print('45 deg 10x10 at 150 DPI:', buffer_size(10, 10, 45, f32(5.905512)))
    print('90 deg 20x10 at 2 dpm:', buffer_size(20, 10, 90, 2))
    px = local_to_parent(90, 10, 5, *local_to_parent(0, 2, 3, 1, 1))
    print('nested (1,1) under 90 deg parent:', px)
