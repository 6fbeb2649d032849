#!/usr/bin/env python3
"""Independent float32 model of the polygon family outlines and of the line outline with its
heads, used by the shape tests as an oracle.

  polygon_model.py family W H DEVSCALE
      one line per class, in registration order: the class name, then x y pairs
  polygon_model.py line X0 Y0 X1 Y1 STYLE0 STYLE1 LINEWIDTH HEADWIDTH HEADLENGTH DEVSCALE [...]
      the line's contour in local millimetres (relative to the bounds' top-left); one output
      line per group of ten arguments
  polygon_model.py segments LENGTH
      the quarter-arc segment count

Points are rounded to float32 where the shapes store them; the arithmetic in between is double.
"""
import math
import struct
import sys


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def segments(length):
    v = (math.pi / 2) * length
    if not v > 0.5:
        return 1
    if v < 3:
        return 2
    if v < 7:
        return 3
    n = math.ceil(v / 5) if v < 100 else math.ceil(v / 10)
    return min(n, 16384)


def arc(length):
    n = segments(length)
    c = [f32(math.cos(i / n * math.pi / 2)) for i in range(n + 1)]
    s = [f32(math.sin(i / n * math.pi / 2)) for i in range(n + 1)]
    c[0], s[0], c[n], s[n] = 1.0, 0.0, 0.0, 1.0
    return n, c, s


# Heads as (wx, dx, hy, dy): x = wx * W + dx, y = hy * H + dy.
HEADS = {
    ('H', 1): ([(0, 0, 1, 0), (0, -1, 1, -2), (0, 1, 1, -2), (0, 0, 1, 0)],
               [(1, 0, 1, 0), (1, -1, 1, -2), (1, 1, 1, -2), (1, 0, 1, 0)]),
    ('H', 2): ([(0, 0, 0, 0), (0, 2, 0, -1), (0, 2, 0, 1), (0, 0, 0, 0)],
               [(0, 0, 1, 0), (0, 2, 1, -1), (0, 2, 1, 1), (0, 0, 1, 0)]),
    ('H', 3): ([(1, 0, 0, 0), (1, 1, 0, 2), (1, -1, 0, 2), (1, 0, 0, 0)],
               [(0, 0, 0, 0), (0, 1, 0, 2), (0, -1, 0, 2), (0, 0, 0, 0)]),
    ('H', 4): ([(1, 0, 1, 0), (1, -2, 1, 1), (1, -2, 1, -1), (1, 0, 1, 0)],
               [(1, 0, 0, 0), (1, -2, 0, 1), (1, -2, 0, -1), (1, 0, 0, 0)]),
    ('K', 1): ([(0, 0, 0, 0), (0, 2, 0, -1), (0, 2, 0, 1), (0, 0, 0, 0)],
               [(1, 1, 1, -2), (1, -1, 1, -2), (1, 0, 1, 0)]),
    ('K', 2): ([(1, 0, 0, 0), (1, 1, 0, 2), (1, -1, 0, 2), (1, 0, 0, 0)],
               [(0, 0, 1, 0), (0, 2, 1, -1), (0, 2, 1, 1), (0, 0, 1, 0)]),
    ('K', 3): ([(1, 0, 1, 0), (1, -2, 1, -1), (1, -2, 1, 1), (1, 0, 1, 0)],
               [(0, 0, 0, 0), (0, 1, 0, 2), (0, -1, 0, 2), (0, 0, 0, 0)]),
    ('K', 4): ([(0, 0, 1, 0), (0, 1, 1, -2), (0, -1, 1, -2), (0, 0, 1, 0)],
               [(1, 0, 0, 0), (1, -2, 0, -1), (1, -2, 0, 1), (1, 0, 0, 0)]),
}


def half_run(num, W, H, n, c, s):
    w2, h2 = W / 2, H / 2
    out = []
    if num == 1:
        out += [(w2 - w2 * c[i], H - H * s[i]) for i in range(0, n)]
        out += [(w2 + w2 * c[i], H - H * s[i]) for i in range(n, 0, -1)]
    elif num == 2:
        out += [(W * c[i], h2 - h2 * s[i]) for i in range(n, 0, -1)]
        out += [(W * c[i], h2 + h2 * s[i]) for i in range(0, n)]
    elif num == 3:
        out += [(w2 + w2 * c[i], H * s[i]) for i in range(0, n)]
        out += [(w2 - w2 * c[i], H * s[i]) for i in range(n, 0, -1)]
    else:
        out += [(W - W * c[i], h2 + h2 * s[i]) for i in range(n, 0, -1)]
        out += [(W - W * c[i], h2 - h2 * s[i]) for i in range(0, n)]
    return out


def quarter_run(num, W, H, n, c, s):
    if num == 1:
        return [(W * c[i], H - H * s[i]) for i in range(n, 0, -1)]
    if num == 2:
        return [(W * c[i], H * s[i]) for i in range(0, n)]
    if num == 3:
        return [(W - W * c[i], H * s[i]) for i in range(n, 0, -1)]
    return [(W - W * c[i], H - H * s[i]) for i in range(0, n)]


def arc_shape(kind, num, letter, W, H, scale):
    n, c, s = arc(2 * math.pi * W * scale)
    start, end = HEADS[(kind, num)]
    pts = []
    if letter in 'AC':
        pts += [(wx * W + dx, hy * H + dy) for wx, dx, hy, dy in start]
    pts += (quarter_run if kind == 'K' else half_run)(num, W, H, n, c, s)
    if letter in 'AD':
        pts += [(wx * W + dx, hy * H + dy) for wx, dx, hy, dy in end]
    return pts


def base_polygon(W, H):
    outer = [(0, 0), (0, 30), (20, 30), (30, 15), (30, 0)]
    hole = [(10, 14), (14, 14), (14, 10), (10, 10)]
    sx, sy = f32(W / 30), f32(H / 30)
    return [(f32(x * sx), f32(y * sy)) for x, y in outer + hole]


def ellipse(W, H, scale):
    n, c, s = arc(2 * math.pi * max(W, H) * scale)
    cx, cy, a, b = W / 2, H / 2, W / 2, H / 2
    pts = [(cx + a * c[i], cy + b * s[i]) for i in range(0, n)]
    pts += [(cx - a * c[i], cy + b * s[i]) for i in range(n, 0, -1)]
    pts += [(cx - a * c[i], cy - b * s[i]) for i in range(0, n)]
    pts += [(cx + a * c[i], cy - b * s[i]) for i in range(n, 0, -1)]
    return pts


def round_rect(W, H, cw, ch, scale):
    rx, ry = min(W / 2, cw), min(H / 2, ch)
    n, c, s = arc(max(rx, ry) * scale)
    u = [(1 - c[i]) * rx for i in range(n + 1)]
    w = [(1 - s[i]) * ry for i in range(n + 1)]
    pts = [(u[i], w[i]) for i in range(0, n + 1)]
    pts += [(W - u[i], w[i]) for i in range(n, -1, -1)]
    pts += [(W - u[i], H - w[i]) for i in range(0, n + 1)]
    pts += [(u[i], H - w[i]) for i in range(n, -1, -1)]
    return pts


def family(W, H, scale):
    W, H = f32(W), f32(H)
    out = [('TdtpPolygonShape', base_polygon(W, H)),
           ('TdtpEllipseShape', ellipse(W, H, scale)),
           ('TdtpRectangleShape', [(0, 0), (0, H), (W, H), (W, 0)]),
           ('TdtpRoundRectShape', round_rect(W, H, f32(0.25 * 40), f32(0.25 * 30), scale)),
           ('TdtpAchtHShape', [(0, 5 * H / 16), (5 * W / 16, 0), (11 * W / 16, 0), (W, 5 * H / 16),
                               (W, 11 * H / 16), (11 * W / 16, H), (5 * W / 16, H), (0, 11 * H / 16),
                               (0, 5 * H / 16)]),
           ('TdtpDrieHShape', [(0, H), (W / 2, 0), (W, H)]),
           ('TdtpVijfHShape', [(0, 3 * H / 8), (W / 2, 0), (W, 3 * H / 8), (10 * W / 12, H), (W / 5, H),
                               (0, 3 * H / 8)]),
           ('TdtpZesHShape', [(0, H / 2), (W / 4, 0), (3 * W / 4, 0), (W, H / 2), (3 * W / 4, H), (W / 4, H),
                              (0, H / 2)])]
    for letter in 'ABCD':
        for kind in 'HK':
            for num in range(1, 5):
                name = 'Tdtp%scirkel%dShape%s' % (kind, num, letter)
                out.append((name, arc_shape(kind, num, letter, W, H, scale)))
    out.append(('TdtpHcirkel1ShapeV', arc_shape('H', 1, 'B', W, H, scale)))
    return [(name, [(f32(x), f32(y)) for x, y in pts]) for name, pts in out]


STYLES = ['NoArrow', 'Arrow', 'OpenArrow', 'StealthArrow', 'Diamond', 'Oval']


def line_end(style, aw, al, lw, end, other, scale):
    ex, ey = end
    ox, oy = other
    d = math.hypot(ex - ox, ey - oy)
    if d == 0:
        return []
    ux, uy = (ex - ox) / d, (ey - oy) / d
    nx, ny = -uy, ux
    hx, hy = nx * lw / 2, ny * lw / 2
    if aw <= lw:
        style = 'NoArrow'
    if style == 'NoArrow':
        ln, bx, by = 0.0, ex, ey
    else:
        ln = max(0.0, min(0.7 * d, al))
        bx, by = ex - ux * ln, ey - uy * ln
    am = (bx - hx, by - hy)
    ap = (bx + hx, by + hy)
    wx, wy = nx * aw / 2, ny * aw / 2
    if style == 'NoArrow':
        return [am, ap]
    if style == 'Arrow':
        return [am, (bx - wx, by - wy), (ex, ey), (bx + wx, by + wy), ap]
    if style == 'Diamond':
        mx, my = bx + ux * ln / 2, by + uy * ln / 2
        return [am, (mx - wx, my - wy), (ex, ey), (mx + wx, my + wy), ap]
    if style in ('OpenArrow', 'StealthArrow'):
        t = 2 * ln / aw
        k = max(0.0, ln - (t / 2 + math.sqrt(t * t + 1)) * lw)
        pts = [am]
        minus, plus = [], []
        if k > 0 and style == 'OpenArrow':
            minus = [(am[0] + ux * k, am[1] + uy * k), (am[0] - nx * k / t, am[1] - ny * k / t)]
            plus = [(ap[0] + nx * k / t, ap[1] + ny * k / t), (ap[0] + ux * k, ap[1] + uy * k)]
        elif k > 0:
            r = aw / 2 - 0.75 * lw - k / t
            n, c, s = arc(k * scale)
            for i in range(0, n + 1):
                f = s[i] * r + (1 - c[i]) * k / t
                minus.append((am[0] + ux * k * c[i] - nx * f, am[1] + uy * k * c[i] - ny * f))
            for i in range(n, -1, -1):
                f = s[i] * r + (1 - c[i]) * k / t
                plus.append((ap[0] + ux * k * c[i] + nx * f, ap[1] + uy * k * c[i] + ny * f))
        return pts + minus + [(bx - wx, by - wy), (ex, ey), (bx + wx, by + wy)] + plus + [ap]
    # Oval
    k, a = ln / 2, aw / 2
    n, c, s = arc(max(a, k) * scale)
    pts = [am]
    for i in range(1, n):
        p = (bx + ux * k * (1 - c[i]) - nx * a * s[i], by + uy * k * (1 - c[i]) - ny * a * s[i])
        if (p[0] - am[0]) * uy - (p[1] - am[1]) * ux > 0:
            pts.append(p)
    for i in range(n, 0, -1):
        pts.append((bx + ux * k * (1 + c[i]) - nx * a * s[i], by + uy * k * (1 + c[i]) - ny * a * s[i]))
    for i in range(0, n):
        pts.append((bx + ux * k * (1 + c[i]) + nx * a * s[i], by + uy * k * (1 + c[i]) + ny * a * s[i]))
    for i in range(n, 0, -1):
        p = (bx + ux * k * (1 - c[i]) + nx * a * s[i], by + uy * k * (1 - c[i]) + ny * a * s[i])
        if (p[0] - ap[0]) * uy - (p[1] - ap[1]) * ux < 0:
            pts.append(p)
    return pts + [ap]


def line(x0, y0, x1, y1, s0, s1, lw, aw, al, scale):
    p0, p1 = (f32(x0), f32(y0)), (f32(x1), f32(y1))
    left, top = min(p0[0], p1[0]), min(p0[1], p1[1])
    pts = line_end(s0, aw, al, lw, p0, p1, scale) + line_end(s1, aw, al, lw, p1, p0, scale)
    return [(f32(f32(x) - left), f32(f32(y) - top)) for x, y in pts]


def main(argv):
    if len(argv) >= 5 and argv[1] == 'family':
        for name, pts in family(float(argv[2]), float(argv[3]), float(argv[4])):
            print(name, ' '.join('%.9g %.9g' % p for p in pts))
        return 0
    if len(argv) >= 12 and argv[1] == 'line':
        rest = argv[2:]
        while len(rest) >= 10:
            a, rest = rest[:10], rest[10:]
            pts = line(float(a[0]), float(a[1]), float(a[2]), float(a[3]), a[4], a[5], float(a[6]), float(a[7]),
                       float(a[8]), float(a[9]))
            print(' '.join('%.9g %.9g' % p for p in pts))
        return 0
    if len(argv) >= 3 and argv[1] == 'segments':
        print(segments(float(argv[2])))
        return 0
    print(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
