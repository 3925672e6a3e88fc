"""Small line pictures for the buttons, drawn into a mask at any scale.

Each function draws into an 'L' mask with ImageDraw, centred on (cx, cy),
fitting a square of side s (all in the mask's own pixels).
"""
import math


def _w(s, f=0.11):
    return max(1, int(round(s * f)))


def gear(d, cx, cy, s):
    r_out, r_in, teeth = s * 0.48, s * 0.34, 8
    pts = []
    for i in range(teeth * 4):
        a = math.pi * 2 * i / (teeth * 4)
        r = r_out if (i % 4) in (1, 2) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    d.polygon(pts, fill=255)
    h = s * 0.15
    d.ellipse((cx - h, cy - h, cx + h, cy + h), fill=0)


def monitor(d, cx, cy, s):
    w, h, lw = s * 0.48, s * 0.34, _w(s)
    d.rounded_rectangle((cx - w, cy - h - s * 0.08, cx + w, cy + h * 0.7), s * 0.06, outline=255, width=lw)
    d.rectangle((cx - s * 0.06, cy + h * 0.7, cx + s * 0.06, cy + s * 0.38), fill=255)
    d.rectangle((cx - s * 0.24, cy + s * 0.38, cx + s * 0.24, cy + s * 0.38 + lw), fill=255)
    d.line((cx - w * 0.55, cy + h * 0.1, cx - w * 0.15, cy - h * 0.4, cx + w * 0.1, cy,
            cx + w * 0.55, cy - h * 0.55), fill=255, width=lw)


def headset(d, cx, cy, s):
    r, lw = s * 0.4, _w(s, 0.12)
    d.arc((cx - r, cy - r - s * 0.05, cx + r, cy + r - s * 0.05), 180, 360, fill=255, width=lw)
    for sx in (-1, 1):
        x = cx + sx * r
        d.rounded_rectangle((min(x, x - sx * s * 0.2), cy - s * 0.06, max(x, x - sx * s * 0.2),
                             cy + s * 0.3), s * 0.05, fill=255)
    d.arc((cx - r, cy - s * 0.2, cx + r * 0.9, cy + s * 0.45), 20, 90, fill=255, width=lw)


def home(d, cx, cy, s):
    lw = _w(s, 0.12)
    d.polygon([(cx, cy - s * 0.48), (cx + s * 0.5, cy - s * 0.02), (cx - s * 0.5, cy - s * 0.02)], fill=255)
    d.rectangle((cx - s * 0.34, cy - s * 0.04, cx + s * 0.34, cy + s * 0.44), fill=255)
    d.rectangle((cx - s * 0.1, cy + s * 0.12, cx + s * 0.1, cy + s * 0.44), fill=0)
    d.line((cx + s * 0.22, cy - s * 0.4, cx + s * 0.22, cy - s * 0.2), fill=255, width=lw)


def weibo(d, cx, cy, s):
    d.ellipse((cx - s * 0.46, cy - s * 0.2, cx + s * 0.38, cy + s * 0.38), fill=255)
    d.ellipse((cx - s * 0.2, cy - s * 0.02, cx + s * 0.12, cy + s * 0.26), fill=0)
    d.ellipse((cx - s * 0.1, cy + s * 0.06, cx + s * 0.02, cy + s * 0.18), fill=255)
    lw = _w(s, 0.1)
    d.arc((cx + s * 0.02, cy - s * 0.5, cx + s * 0.5, cy - s * 0.02), 270, 360, fill=255, width=lw)
    d.arc((cx + s * 0.08, cy - s * 0.34, cx + s * 0.34, cy - s * 0.08), 270, 360, fill=255, width=lw)


def bag(d, cx, cy, s):
    lw = _w(s, 0.1)
    d.arc((cx - s * 0.2, cy - s * 0.5, cx + s * 0.2, cy - s * 0.05), 180, 360, fill=255, width=lw)
    d.polygon([(cx - s * 0.42, cy - s * 0.22), (cx + s * 0.42, cy - s * 0.22), (cx + s * 0.48, cy + s * 0.46),
               (cx - s * 0.48, cy + s * 0.46)], fill=255)
    d.ellipse((cx - s * 0.1, cy - s * 0.02, cx + s * 0.1, cy + s * 0.18), fill=0)


def download(d, cx, cy, s):
    lw = _w(s, 0.12)
    d.rectangle((cx - s * 0.1, cy - s * 0.5, cx + s * 0.1, cy + s * 0.02), fill=255)
    d.polygon([(cx - s * 0.3, cy - s * 0.04), (cx + s * 0.3, cy - s * 0.04), (cx, cy + s * 0.28)], fill=255)
    d.line((cx - s * 0.46, cy + s * 0.14, cx - s * 0.46, cy + s * 0.46, cx + s * 0.46, cy + s * 0.46,
            cx + s * 0.46, cy + s * 0.14), fill=255, width=lw, joint="curve")


def copy(d, cx, cy, s):
    lw = _w(s, 0.1)
    d.rounded_rectangle((cx - s * 0.44, cy - s * 0.3, cx + s * 0.16, cy + s * 0.48), s * 0.06, outline=255, width=lw)
    d.rounded_rectangle((cx - s * 0.16, cy - s * 0.5, cx + s * 0.44, cy + s * 0.28), s * 0.06, fill=255)


def minus(d, cx, cy, s):
    d.rectangle((cx - s * 0.42, cy + s * 0.1, cx + s * 0.42, cy + s * 0.1 + _w(s, 0.14)), fill=255)


def cross(d, cx, cy, s):
    r, lw = s * 0.38, _w(s, 0.15)
    d.line((cx - r, cy - r, cx + r, cy + r), fill=255, width=lw)
    d.line((cx - r, cy + r, cx + r, cy - r), fill=255, width=lw)


def pause(d, cx, cy, s):
    w, h = s * 0.16, s * 0.44
    for sx in (-1, 1):
        x = cx + sx * s * 0.2
        d.rounded_rectangle((x - w, cy - h, x + w, cy + h), s * 0.04, fill=255)


def play(d, cx, cy, s):
    # Drawn a little right of centre: a triangle's weight lies towards its base.
    d.polygon([(cx - s * 0.3, cy - s * 0.46), (cx + s * 0.44, cy), (cx - s * 0.3, cy + s * 0.46)], fill=255)


def wrench(d, cx, cy, s):
    # A handle from the lower left into a round head whose jaw opens to the upper right.
    lw = _w(s, 0.18)
    ex, ey = cx - s * 0.36, cy + s * 0.36
    d.line((ex, ey, cx + s * 0.12, cy - s * 0.12), fill=255, width=lw)
    d.ellipse((ex - lw / 2, ey - lw / 2, ex + lw / 2, ey + lw / 2), fill=255)
    r, hx, hy = s * 0.26, cx + s * 0.18, cy - s * 0.18
    d.ellipse((hx - r, hy - r, hx + r, hy + r), fill=255)
    u, v, w = (math.sqrt(0.5), -math.sqrt(0.5)), (math.sqrt(0.5), math.sqrt(0.5)), s * 0.09
    near, far = 0.0, r * 1.6
    d.polygon([(hx + u[0] * t + v[0] * side * w, hy + u[1] * t + v[1] * side * w)
               for t, side in ((near, -1), (far, -1), (far, 1), (near, 1))], fill=0)


GLYPHS = {f.__name__: f for f in (gear, monitor, headset, home, weibo, bag, download, copy, minus, cross, pause,
                                  play, wrench)}
