"""Frame pieces, image tiles, the title image, the application icon and the cursor."""
from PIL import Image, ImageDraw, ImageFilter

import artkit as ak
import glyphs
import layout as lay

SS = ak.SS
PANEL = (14, 9, 8)   # inside of the frame, behind the report text
# Bands of the frame from the outside in: width and colour.
FRAME_BANDS = [(1, (58, 36, 14)), (1, (236, 198, 118)), (1, (176, 128, 56)), (1, (24, 13, 8))]


def _band_colour(depth):
    """Colour of the frame at a distance (pixels) from its outer edge."""
    edge = 0
    for width, colour in FRAME_BANDS:
        edge += width
        if depth < edge:
            return colour
    return PANEL


def frame_piece(name):
    """One of the nine pieces. Edges and centre are opaque, so they stretch well."""
    n = lay.FRAME_CORNER
    img = Image.new("RGBA", (n, n), PANEL + (255,))
    px = img.load()
    for y in range(n):
        for x in range(n):
            depths = []
            if "left" in name:
                depths.append(x)
            if "right" in name:
                depths.append(n - 1 - x)
            if name.startswith("top"):
                depths.append(y)
            if name.startswith("bottom"):
                depths.append(n - 1 - y)
            if depths:
                px[x, y] = _band_colour(min(depths)) + (255,)
    if "_" in name:  # corners: round the outer corner and set a gold stud
        _round_corner(img, name)
    return img


def _round_corner(img, name):
    n = lay.FRAME_CORNER
    big = Image.new("L", (n * SS, n * SS), 0)
    r = 4 * SS
    d = ImageDraw.Draw(big)
    d.rounded_rectangle((0, 0, 2 * n * SS, 2 * n * SS), r, fill=255)
    m = ak.down(big)
    if "right" in name:
        m = m.transpose(Image.FLIP_LEFT_RIGHT)
    if name.startswith("bottom"):
        m = m.transpose(Image.FLIP_TOP_BOTTOM)
    img.putalpha(m)
    d = ImageDraw.Draw(img)
    x = 1 if "left" in name else n - 4
    y = 1 if name.startswith("top") else n - 4
    d.rectangle((x, y, x + 2, y + 2), fill=(255, 232, 160, 255))


def _plaque(size, rim_stops):
    w, h = size
    big = (w * SS, h * SS)
    img = Image.new("RGBA", big, (0, 0, 0, 0))
    outer = ak.mask_of(big, lambda d: d.rounded_rectangle((SS, SS, big[0] - 2 * SS, big[1] - 2 * SS),
                                                          6 * SS, fill=255))
    ak.layer(img, ak.shadow(outer, (0, SS), SS, (0, 0, 0, 160)))
    ak.layer(img, ak.vgradient(big, rim_stops), outer)
    inner = ak.mask_of(big, lambda d: d.rounded_rectangle((3 * SS, 3 * SS, big[0] - 4 * SS, big[1] - 4 * SS),
                                                          4 * SS, fill=255))
    ak.layer(img, ak.vgradient(big, [(0, (58, 28, 18)), (1, (24, 12, 9))]), inner)
    return ak.down(img)


def tile(name):
    size = lay.STATICS[name][1]
    img = _plaque(size, ak.DARK_GOLD_STOPS)
    cx = size[0] / 2
    if name == "tile_health":
        lines = ("健康游戏忠告", "抵制不良游戏 拒绝盗版游戏")
    else:
        lines = ("适度游戏益脑", "合理安排时间 享受健康生活")
    ak.styled_text(img, (cx, 21), lines[0], ak.font(15), ak.GOLD_STOPS, outline=(20, 8, 4, 255))
    m = ak.text_mask(img.size, (cx, 42), lines[1], ak.font(11))
    ak.layer(img, ak.solid(img.size, (226, 206, 168)), m)
    return img


def title_image():
    size = lay.STATICS["title_sysinfo"][1]
    w, h = size
    img = Image.new("RGBA", size, (0, 0, 0, 0))
    big = (w * SS, h * SS)
    gm = ak.mask_of(big, lambda d: glyphs.monitor(d, 18 * SS, 18 * SS, 22 * SS))
    gm = ak.down(gm)
    ak.layer(img, ak.shadow(gm, (0, 1), 1, (0, 0, 0, 220)))
    ak.layer(img, ak.solid(size, (236, 194, 108)), gm)
    ak.styled_text(img, (38, 18), "系统信息", ak.font(22), ak.GOLD_STOPS, outline=(20, 8, 4, 255),
                   glow=(3, (0, 0, 0, 180)), bold=True, anchor="lm")
    d = ImageDraw.Draw(img)
    d.line((40, 32, 230, 32), fill=(150, 108, 48, 255))
    d.polygon([(226, 32), (230, 29), (234, 32), (230, 35)], fill=(230, 186, 96, 255))
    return img


def app_icon(px):
    """The application emblem: a gold ring and a V on a dark crimson shield."""
    k = 8
    n = px * k
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    u = n / 32.0
    shield = ak.mask_of((n, n), lambda d: d.rounded_rectangle((u, u, n - u, n - u), 6 * u, fill=255))
    ak.layer(img, ak.vgradient((n, n), ak.GOLD_STOPS), shield)
    core = ak.mask_of((n, n), lambda d: d.rounded_rectangle((2.6 * u, 2.6 * u, n - 2.6 * u, n - 2.6 * u),
                                                            4.6 * u, fill=255))
    ak.layer(img, ak.radial((n, n), (n / 2, n * 0.4), n * 0.7, (138, 30, 18, 255), (34, 8, 6, 255)), core)
    ring = ak.mask_of((n, n), lambda d: (d.ellipse((7 * u, 7 * u, 25 * u, 25 * u), fill=255),
                                         d.ellipse((10 * u, 10 * u, 22 * u, 22 * u), fill=0)))
    if px >= 32:
        ak.layer(img, ak.vgradient((n, n), ak.DARK_GOLD_STOPS), ring)
    vee = ak.mask_of((n, n), lambda d: d.polygon([(8 * u, 8 * u), (13 * u, 8 * u), (16 * u, 19 * u),
                                                  (19 * u, 8 * u), (24 * u, 8 * u), (17.6 * u, 26 * u),
                                                  (14.4 * u, 26 * u)], fill=255))
    ak.layer(img, ak.shadow(vee, (0, int(u)), u, (0, 0, 0, 200)))
    ak.layer(img, ak.vgradient((n, n), ak.BRIGHT_GOLD_STOPS), vee)
    return img.resize((px, px), Image.LANCZOS if px >= 48 else Image.BOX)


# The hand cursor, drawn on a 32-unit grid; the tip of the index finger is the hot spot.
HAND_HOTSPOT = (11, 1)


def _hand_parts(d, u):
    def rr(x0, y0, x1, y1, r):
        d.rounded_rectangle((x0 * u, y0 * u, x1 * u, y1 * u), r * u, fill=255)
    rr(9, 0.5, 14, 17, 2.5)          # index finger
    rr(13.5, 8, 18, 18, 2.2)         # middle finger
    rr(17.5, 9.5, 21.5, 19, 2.0)     # ring finger
    rr(21, 11, 24.8, 20, 1.9)        # little finger
    rr(9, 14, 24.8, 27, 3.5)         # palm
    d.polygon([(9.2 * u, 24 * u), (3.6 * u, 16.4 * u), (4.6 * u, 13.8 * u), (7.2 * u, 14.2 * u),
               (10.6 * u, 18 * u)], fill=255)  # thumb
    rr(11, 26, 23.5, 30.5, 1.5)      # cuff


def hand_cursor(px):
    k = 8
    n = px * k
    u = n / 32.0
    body = ak.mask_of((n, n), lambda d: _hand_parts(d, u))
    outline = body.filter(ImageFilter.MaxFilter(2 * k + 1))
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    ak.layer(img, ak.shadow(outline, (int(u), int(u)), u, (0, 0, 0, 110)))
    ak.layer(img, ak.solid((n, n), (28, 14, 6)), outline)
    ak.layer(img, ak.vgradient((n, n), [(0, (255, 248, 226)), (1, (232, 204, 150))]), body)
    cuff = ak.mask_of((n, n), lambda d: d.rounded_rectangle((11 * u, 26 * u, 23.5 * u, 30.5 * u), 1.5 * u,
                                                             fill=255))
    ak.layer(img, ak.vgradient((n, n), ak.GOLD_STOPS), cuff)
    lines = ak.mask_of((n, n), lambda d: [d.line((x * u, y0 * u, x * u, 19 * u), fill=255, width=max(1, k // 2))
                                          for x, y0 in ((13.8, 12), (17.8, 13), (21.3, 14.5))])
    ak.layer(img, ak.solid((n, n), (150, 110, 70)), lines)
    return img.resize((px, px), Image.BOX), (HAND_HOTSPOT[0] * px // 32, HAND_HOTSPOT[1] * px // 32)
