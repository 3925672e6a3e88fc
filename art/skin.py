"""The window skin: one 820 x 670 picture whose magenta pixels cut the outline.

The same skin lies under all three windows, so it carries no control of its
own: it frames the areas where the windows put their buttons, browser, report
panel and text lines (see layout.py).
"""
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter

import artkit as ak
import layout as lay

W, H = lay.SKIN_SIZE
S = 2  # supersampling of the skin's shapes

BODY = (6, 18, 814, 664)      # left, top, right, bottom (exclusive)
CHAMFER = 16
NOTCH_Y, NOTCH_HALF, NOTCH_DEPTH = 304, 12, 7
CREST = [(316, 18), (344, 8), (380, 2), (410, 0), (440, 2), (476, 8), (504, 18)]
HOLE_CENTER, HOLE_RADIUS = (410, 23), 6
WELL = (22, 81, 798, 508)


def _outline(d, k, hole=True):
    x0, y0, x1, y1 = (v * k for v in BODY)
    c = CHAMFER * k
    d.polygon([(x0 + c, y0), (x1 - c, y0), (x1, y0 + c), (x1, y1 - c), (x1 - c, y1),
               (x0 + c, y1), (x0, y1 - c), (x0, y0 + c)], fill=255)
    d.polygon([(x * k, y * k) for x, y in CREST], fill=255)
    ny, nh, nd = NOTCH_Y * k, NOTCH_HALF * k, NOTCH_DEPTH * k
    d.polygon([(x0, ny - nh), (x0 + nd, ny), (x0, ny + nh)], fill=0)
    d.polygon([(x1, ny - nh), (x1 - nd, ny), (x1, ny + nh)], fill=0)
    if hole:
        cx, cy, r = HOLE_CENTER[0] * k, HOLE_CENTER[1] * k, HOLE_RADIUS * k
        d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=0)


def shape_mask(hole=True):
    """The binary outline at 1x: 255 inside the window, 0 where the key goes."""
    k = 4
    big = ak.mask_of((W * k, H * k), lambda d: _outline(d, k, hole))
    return ak.down(big, k).point(lambda v: 255 if v >= 128 else 0)


def _texture(seed):
    """Soft clouds with a fine grain, centred on 128."""
    rng = random.Random(seed)
    cw, ch = W // 20, H // 20
    clouds = Image.frombytes("L", (cw, ch), rng.randbytes(cw * ch))
    clouds = clouds.resize((W * S, H * S), Image.BICUBIC).filter(ImageFilter.GaussianBlur(12 * S))
    clouds = clouds.point(lambda v: max(0, min(255, 128 + (v - 128) * 3)))
    grain = Image.frombytes("L", (W, H), rng.randbytes(W * H)).resize((W * S, H * S), Image.NEAREST)
    grain = grain.point(lambda v: 128 + (v - 128) // 16)
    return ImageChops.add(clouds, grain, 1.0, -128)


def _bevel(ring, base, light=0.9, dark=0.6):
    """Gold that looks raised: lighter on edges facing the top-left, darker opposite."""
    e = ring.filter(ImageFilter.GaussianBlur(1.1 * S))
    hi = ImageChops.subtract(e, ImageChops.offset(e, S, S))
    lo = ImageChops.subtract(ImageChops.offset(e, S, S), e)
    img = ak.solid(ring.size, base)
    ak.layer(img, ak.solid(ring.size, (255, 246, 210)), hi.point(lambda v: min(255, int(v * 2 * light))))
    ak.layer(img, ak.solid(ring.size, (40, 20, 6)), lo.point(lambda v: min(255, int(v * 2 * dark))))
    return img


def _background(inside):
    size = (W * S, H * S)
    img = ak.vgradient(size, [(0.0, (44, 26, 20)), (0.12, (30, 17, 13)), (0.6, (22, 12, 10)),
                              (1.0, (16, 8, 7))])
    tex = _texture(7301)
    ak.layer(img, ak.solid(size, (90, 56, 36)), tex.point(lambda v: max(0, v - 128)))
    ak.layer(img, ak.solid(size, (2, 1, 1)), tex.point(lambda v: max(0, 128 - v)))
    # header band
    band = ak.mask_of(size, lambda d: d.rectangle((0, 0, W * S, 78 * S), fill=255))
    ak.layer(img, ak.vgradient(size, [(0.0, (66, 38, 26)), (1.0, (26, 14, 11))], 18 * S, 78 * S), band)
    # ember glow behind the start button and a cooler light at the top
    ember = ak.radial(size, (710 * S, 575 * S), 230 * S, (168, 52, 16, 120), (168, 52, 16, 0))
    ak.layer(img, ember)
    top = ak.radial(size, (410 * S, 30 * S), 330 * S, (200, 150, 90, 46), (200, 150, 90, 0))
    ak.layer(img, top)
    # vignette
    vig = ak.radial(size, (410 * S, 335 * S), 560 * S, (0, 0, 0, 0), (0, 0, 0, 150))
    ak.layer(img, vig, inside)
    return img


def _well(img):
    size = img.size
    x0, y0, x1, y1 = (v * S for v in WELL)
    m = ak.mask_of(size, lambda d: d.rounded_rectangle((x0, y0, x1, y1), 6 * S, fill=255))
    ak.layer(img, ak.vgradient(size, [(0.0, (8, 5, 5)), (1.0, (13, 8, 7))], y0, y1), m)
    inner = ak.shadow(ImageChops.invert(m), (0, 2 * S), 5 * S, (0, 0, 0, 200))
    ak.layer(img, inner, m)
    rim = ImageChops.subtract(m.filter(ImageFilter.MaxFilter(3)), m)
    rim = rim.filter(ImageFilter.MaxFilter(3))
    ak.layer(img, ak.solid(size, (120, 86, 40)), rim.point(lambda v: v * 3 // 4))


def _rule(d, y, x0, x1, colour):
    d.line((x0 * S, y * S, x1 * S, y * S), fill=colour, width=S)


def _diamond(d, cx, cy, r, fill):
    d.polygon([(cx * S, (cy - r) * S), ((cx + r) * S, cy * S), (cx * S, (cy + r) * S),
               ((cx - r) * S, cy * S)], fill=fill)


def _ornaments(img):
    d = ImageDraw.Draw(img)
    gold, dim = (214, 170, 88, 255), (120, 84, 40, 255)
    _rule(d, 79, 30, 790, dim)
    _rule(d, 512, 30, 790, dim)
    for cx in (30, 790):
        _diamond(d, cx, 79, 4, gold)
        _diamond(d, cx, 512, 4, gold)
    # small studs flanking the crest on the header's top border
    for cx in (300, 520):
        _diamond(d, cx, 27, 3, gold)


def _border(img, inside_ss):
    size = img.size
    rings = [(0, 1, None, (38, 22, 10)), (1, 5, (206, 160, 76), None), (5, 6, None, (16, 8, 6)),
             (6, 7, (126, 88, 38), None)]
    for a, b, gold, flat in rings:
        ring = ImageChops.subtract(ak.erode(inside_ss, a * S), ak.erode(inside_ss, b * S))
        if flat is not None:
            ak.layer(img, ak.solid(size, flat), ring)
        else:
            ak.layer(img, _bevel(ring, gold), ring)


def _crest(img):
    size = img.size
    cx, cy = HOLE_CENTER
    ro, ri = 14 * S, int(5.5 * S)
    ring = ak.mask_of(size, lambda d: d.ellipse((cx * S - ro, cy * S - ro, cx * S + ro, cy * S + ro), fill=255))
    hole = ak.mask_of(size, lambda d: d.ellipse((cx * S - ri, cy * S - ri, cx * S + ri, cy * S + ri), fill=255))
    ring = ImageChops.subtract(ring, hole)
    ak.layer(img, ak.shadow(ring, (0, 2 * S), 3 * S, (0, 0, 0, 160)))
    ak.layer(img, _bevel(ring, (222, 178, 92), 1.0, 0.8), ring)
    d = ImageDraw.Draw(img)
    for dx in (-26, 26):
        _diamond(d, cx + dx, cy - 2, 4, (230, 186, 96, 255))
        d.line(((cx + dx * 1.25) * S, (cy - 2) * S, (cx + dx * 2.6) * S, (cy + 2) * S),
               fill=(184, 136, 60, 255), width=S)


def _status_panel(img):
    """The text lines' panel, filled with exactly the lines' own fill colour."""
    x0, y0, x1, y1 = lay.STATUS_PANEL
    d = ImageDraw.Draw(img)
    d.rectangle((x0 - 2, y0 - 2, x1 + 1, y1 + 1), fill=(96, 66, 30))
    d.rectangle((x0 - 1, y0 - 1, x1, y1), fill=(10, 4, 3))
    d.rectangle((x0, y0, x1 - 1, y1 - 1), fill=ak.STATUS_FILL)
    for x, y in ((x0 - 2, y0 - 2), (x1 + 1, y0 - 2), (x0 - 2, y1 + 1), (x1 + 1, y1 + 1)):
        d.rectangle((x - 1, y - 1, x + 1, y + 1), fill=(230, 186, 96))


def _wordmark(img):
    cx = lay.WORDMARK_CENTER_X
    ak.styled_text(img, (cx, 604), "VANTOREL", ak.font(34, ak.SERIF_BOLD), ak.GOLD_STOPS,
                   outline=(20, 8, 4, 255), glow=(6, (255, 170, 60, 90)), spacing=3)
    ak.styled_text(img, (cx, 641), "官方游戏启动器", ak.font(13), [(0, (226, 204, 160)),
                   (1, (176, 146, 100))], outline=(12, 6, 4, 200), spacing=6)
    d = ImageDraw.Draw(img)
    for sx in (-1, 1):
        d.line((cx + sx * 78, 641, cx + sx * 124, 641), fill=(140, 100, 46))
        d.polygon([(cx + sx * 70, 641), (cx + sx * 73, 638), (cx + sx * 76, 641), (cx + sx * 73, 644)],
                  fill=(214, 170, 88))


def draw_skin():
    """Returns (RGB skin with the key colour applied, binary inside mask)."""
    inside = shape_mask()
    inside_ss = inside.resize((W * S, H * S), Image.NEAREST)
    img = _background(inside_ss)
    _well(img)
    _ornaments(img)
    # the border follows the outline only; the crest draws its own ring round the hole
    _border(img, shape_mask(hole=False).resize((W * S, H * S), Image.NEAREST))
    _crest(img)
    img = ak.down(img, S)
    _status_panel(img)
    _wordmark(img)
    out = Image.composite(img.convert("RGB"), Image.new("RGB", (W, H), ak.KEY), inside)
    return out, inside
