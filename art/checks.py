"""Checks that the drawing script runs on its own pictures before it writes them.

They guard what the windows rely on: the skin's size and key colour, an
outline that is really shaped and has a hole, the exact fill under the text
lines, buttons whose four looks can be told apart, and a cursor whose hot
spot lies on the finger.
"""
from PIL import Image, ImageChops, ImageDraw, ImageStat

import artkit as ak
import layout as lay


class ArtError(Exception):
    pass


def _require(cond, text):
    if not cond:
        raise ArtError(text)


def _holes(inside):
    """Number of key pixels that no path of key pixels links to the picture's edge."""
    w, h = inside.size
    m = inside.copy()
    px = m.load()
    edge = [(x, 0) for x in range(w)] + [(x, h - 1) for x in range(w)]
    edge += [(0, y) for y in range(h)] + [(w - 1, y) for y in range(h)]
    for x, y in edge:
        if px[x, y] == 0:
            ImageDraw.floodfill(m, (x, y), 128)
    return m.histogram()[0]


def check_skin(skin, inside):
    _require(skin.size == lay.SKIN_SIZE and skin.mode == "RGB", "skin size or mode")
    key = Image.new("RGB", skin.size, ak.KEY)
    is_key = ImageChops.difference(skin, key).convert("L").point(lambda v: 255 if v == 0 else 0)
    # exactly the pixels outside the outline carry the key; no face pixel matches it by chance
    _require(ImageChops.difference(is_key, ImageChops.invert(inside)).getbbox() is None,
             "key pixels differ from the outline")
    for corner in ((0, 0), (819, 0), (0, 669), (819, 669)):
        _require(skin.getpixel(corner) == ak.KEY, f"corner {corner} is not cut")
    _require(_holes(inside) > 0, "the skin has no hole")
    x0, y0, x1, y1 = lay.STATUS_PANEL
    colours = skin.crop((x0, y0, x1, y1)).getcolors(1)
    _require(colours is not None and colours[0][1] == ak.STATUS_FILL, "text line panel is not the fill colour")


def _difference(a, b):
    diff = ImageChops.difference(a, b)
    return sum(ImageStat.Stat(diff).mean)


def check_button(name, looks, size):
    for img in looks:
        _require(img.size == size and img.mode == "RGBA", f"{name}: size {img.size} instead of {size}")
        alpha = img.getchannel("A")
        _require(alpha.getextrema()[0] == 0, f"{name}: no transparent pixel")
        w, h = size
        # the last two columns and rows stay clear: odd sizes lose one, pressing shifts by one
        _require(alpha.crop((w - 1, 0, w, h)).getextrema()[1] == 0, f"{name}: right column used")
        _require(alpha.crop((0, h - 1, w, h)).getextrema()[1] == 0, f"{name}: bottom row used")
    for i in range(4):
        for j in range(i + 1, 4):
            _require(_difference(looks[i], looks[j]) > 6.0,
                     f"{name}: looks {lay.STATES[i]} and {lay.STATES[j]} are too alike")
    grey = looks[3].convert("RGB").convert("HSV").getchannel("S")
    _require(ImageStat.Stat(grey, looks[3].getchannel("A")).mean[0] < 40, f"{name}: disabled look is colourful")


def check_frame(frame):
    for name, img in zip(lay.FRAME_PIECES, frame):
        _require(img.size == (lay.FRAME_CORNER, lay.FRAME_CORNER), f"frame {name} size")
        if "_" not in name:  # stretched pieces stay opaque
            _require(img.getchannel("A").getextrema() == (255, 255), f"frame {name} not opaque")


def check_cursor(cursors):
    for img, (hx, hy) in cursors:
        _require(img.getpixel((hx, hy))[3] >= 128, f"cursor {img.size}: hot spot off the finger")
        _require(hy <= img.height // 8, f"cursor {img.size}: hot spot not at the top")
